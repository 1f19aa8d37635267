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

    // Client pipe to "Calibration", the target drawn, the five controls
    // filled from the sensor's entry. A failing pipe, target or display
    // ends it with the platform's status; settings that cannot be read,
    // or that lack the group or the sensor, leave the controls as they
    // were and give 1.
    int32_t Activate() override;
    // Writes the five values into the sensor's entry and the file; the
    // file is rewritten also when the sensor is missing. Values are written
    // only once an Activate has shown the sensor's. Always 1.
    int32_t Apply() override;
    const char* PageName() const override { return "Setup"; }

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnChange() { ChangeNotice(); }

    WF_DECLARE_MESSAGE_MAP()

private:
    // Fills the lists and the threshold from the sensor item; a failing
    // look-up of the "Exposure" element is returned.
    zvStatus ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t vertices);

    bool sensorShown = false;   // the controls hold the sensor's values
    wf::ComboBox orientation_;  // 1014
    wf::ComboBox multiplex_;    // 1020
    wf::ComboBox vertexView_;   // 1021
    wf::Edit threshold_;        // 1001
    wf::ComboBox exposure_;     // 1051
};

#endif
