// Sensor Setup (1002, "Setup"): the properties of one sensor as its
// server's settings keep them: orientation, multiplex slot, vertex view,
// the sensor's own detection threshold and its exposure mode. While the
// page is current the client pipe runs "Calibration" and display 0 shows
// the calibration target with its numbered vertices, so that the vertex
// view (the number of a target vertex) can be chosen against the picture.
//
// The page keeps no values: every Activate reads the settings and every
// Apply writes them.
#ifndef TORVANE_PAGES_SENSOR_PAGE_SETUP_H
#define TORVANE_PAGES_SENSOR_PAGE_SETUP_H

#include "pages/sensor_target_page.h"

class CSensorPageSetup : public SensorTargetPage {
    WF_DECLARE_DYNAMIC(CSensorPageSetup)

public:
    CSensorPageSetup();
    ~CSensorPageSetup() override;

    const char* PageName() const override { return "Setup"; }

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnChange() { ChangeNotice(); }

    WF_DECLARE_MESSAGE_MAP()

    // The five controls from the sensor's entry: the lists select their
    // positions (the vertex-view list holds enough entries for the target
    // and the stored view), the threshold shows "%d". And the five values
    // back into the entry, a list with no selection as -1.
    zvStatus ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t vertices) override;
    zvStatus WriteSensor(zvHandle xml, zvXmlItem sensor) override;

private:
    wf::ComboBox orientation_;
    wf::ComboBox multiplex_;
    wf::ComboBox vertexView_;
    wf::Edit threshold_;
    wf::ComboBox exposure_;
};

#endif
