// The identifiers of Torvane's configuration pages. Each is also the number
// of the page's dialog template, and the host asks for pages by it.
#ifndef TORVANE_PLUGIN_PAGE_IDS_H
#define TORVANE_PLUGIN_PAGE_IDS_H

#include <cstdint>

enum PageId : int32_t {
    kPageSensorSetup = 1002,
    kPageSystemCalibration = 1013,
    kPageSystemFreeRunning = 1014,
    kPageSystemRun = 1015,
    kPageSensorVideo = 1017,
    kPageSystemSetup = 1018,
    kPageSensorFreeRunning = 1019,
    kPageSystemCapture = 1020,
    kPageSensorClipping = 1021,
    kPageSystemConfig = 1022,
    kPageSystemWeb = 1023,
    kPageSystemTuning = 1024,
};

#endif
