// The base of the Sensor Setup and Sensor Clipping pages. Both edit values
// of one sensor's entry in its server's settings, and both first put the
// client pipe in "Calibration" and show the calibration target in display
// 0, so that the values can be judged against the target.
#ifndef TORVANE_PAGES_SENSOR_TARGET_PAGE_H
#define TORVANE_PAGES_SENSOR_TARGET_PAGE_H

#include "pages/config_page.h"

class SensorTargetPage : public ConfigPage {
    WF_DECLARE_DYNAMIC(SensorTargetPage)

protected:
    explicit SensorTargetPage(int32_t templateId) : ConfigPage(templateId) {}

    // The first steps of Activate: the client pipe to "Calibration", the
    // server's settings read, the sensor's group found, the target drawn.
    // With `*info` 0 Activate ends with the status returned: a failing
    // pipe, target or drawing; 1 for settings that cannot be read or lack
    // the group (the controls keep what they show). Otherwise 1 with the
    // settings in `*info` (the caller destroys them), the sensor's entry in
    // `*sensor` (0 when it is not in the group) and the target's number of
    // vertices in `*vertices`.
    zvStatus ShowTarget(zvHandle* info, zvXmlItem* sensor, int32_t* vertices);
};

#endif
