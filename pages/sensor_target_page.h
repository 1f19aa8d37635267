// The base of the Sensor Setup and Sensor Clipping pages. Both edit values
// of one sensor's entry in its server's settings, and both first put the
// client pipe in "Calibration" and show the calibration target in display
// 0, so that the values can be judged against the target.
//
// Failures reach the operator: settings that cannot be read or written, a
// group or sensor that is not in them, are told through the page site, and
// the operation ends with the failing status (the platform's own, or
// ZV_E_NOTFOUND for a sensor that is not there).
#ifndef TORVANE_PAGES_SENSOR_TARGET_PAGE_H
#define TORVANE_PAGES_SENSOR_TARGET_PAGE_H

#include <string>

#include "pages/config_page.h"

class SensorTargetPage : public ConfigPage {
    WF_DECLARE_DYNAMIC(SensorTargetPage)

public:
    // Client pipe to "Calibration", the target drawn, the controls filled
    // from the sensor's entry (ShowSensor). A failure leaves the controls as
    // they were.
    int32_t Activate() override;
    // The controls written into the sensor's entry (WriteSensor), then the
    // file. Nothing is written when the settings cannot be read, the sensor
    // is not in them, a value cannot be set, or the controls never showed
    // the sensor's values (its target could not be drawn).
    int32_t Apply() override;

protected:
    explicit SensorTargetPage(int32_t templateId) : ConfigPage(templateId) {}

    // The sensor's values into the controls / the controls into the
    // sensor's entry of `xml`; the first failing status.
    virtual zvStatus ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t vertices) = 0;
    virtual zvStatus WriteSensor(zvHandle xml, zvXmlItem sensor) = 0;

private:
    // The first steps of Activate: the client pipe to "Calibration", the
    // server's settings read, the sensor's group found, the target drawn,
    // the sensor found. 1 with the settings in `*info` (the caller destroys
    // them), the sensor's entry in `*sensor` and the target's number of
    // vertices in `*vertices`; otherwise the failing status with `*info` 0.
    zvStatus ShowTarget(zvHandle* info, zvXmlItem* sensor, int32_t* vertices);
    // The node's group and sensor in `info`; 0 when either is not there.
    zvXmlItem SensorGroup(zvHandle info) const;
    zvXmlItem SensorEntry(zvHandle info) const;

    bool sensorShown_ = false;  // the controls hold the sensor's values
};

#endif
