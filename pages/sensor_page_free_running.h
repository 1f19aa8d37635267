// Sensor Free Running (1019, "Free"): the range data of one sensor without
// regard to the encoder. All its work happens when it becomes current: the
// station pipe and then the client pipe go to "Free", the Free mode is told
// which sensor to show ("SelectedSensor") and how many sensors are enabled
// ("NumSensors"), and the page's display is cleared with an empty "Free"
// plot that the running mode then fills.
#ifndef TORVANE_PAGES_SENSOR_PAGE_FREE_RUNNING_H
#define TORVANE_PAGES_SENSOR_PAGE_FREE_RUNNING_H

#include "pages/config_page.h"

class CSensorPageFreeRunning : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSensorPageFreeRunning)

public:
    CSensorPageFreeRunning();
    ~CSensorPageFreeRunning() override;

    // Both pipes to "Free", the sensor selected and the enabled ones
    // counted. Settings that cannot be read, or do not name the sensor,
    // end it after the station pipe, told to the operator.
    int32_t Activate() override;
    const char* PageName() const override { return "Free"; }
};

#endif
