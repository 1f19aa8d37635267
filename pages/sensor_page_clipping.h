// Sensor Clipping (1021, "Clipping"): one sensor's clipping box, the range
// of X and Y in mils outside of which the sensor's range data is replaced
// by the invalid value. The box is applied on the station; the page only
// edits the four values of the sensor's entry in its server's settings.
// Like the Setup page it runs the client pipe in "Calibration" and shows
// the calibration target, so that the box can be judged against it. No
// node lists this page; the host opens it by identifier on a sensor node.
#ifndef TORVANE_PAGES_SENSOR_PAGE_CLIPPING_H
#define TORVANE_PAGES_SENSOR_PAGE_CLIPPING_H

#include "pages/sensor_target_page.h"

class CSensorPageClipping : public SensorTargetPage {
    WF_DECLARE_DYNAMIC(CSensorPageClipping)

public:
    CSensorPageClipping();
    ~CSensorPageClipping() override;

    const char* PageName() const override { return "Clipping"; }

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnChange() { ChangeNotice(); }

    WF_DECLARE_MESSAGE_MAP()

    // The four edits from the sensor's entry ("%d"), and back: read as
    // integers and stored as typed (a minimum above its maximum too).
    zvStatus ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t vertices) override;
    zvStatus WriteSensor(zvHandle xml, zvXmlItem sensor) override;

private:
    wf::Edit minY_;
    wf::Edit maxY_;
    wf::Edit minX_;
    wf::Edit maxX_;
};

#endif
