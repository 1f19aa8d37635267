// The control identifiers of the Sensor Setup page (1002), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SENSOR_PAGE_SETUP_IDS_H
#define TORVANE_PAGES_SENSOR_PAGE_SETUP_IDS_H

#include <cstdint>

namespace sensor_setup {

inline constexpr int32_t kOrientationList = 1014;
inline constexpr int32_t kMultiplexList = 1020;
inline constexpr int32_t kVertexViewList = 1021;
inline constexpr int32_t kThresholdEdit = 1001;
inline constexpr int32_t kExposureList = 1051;

}  // namespace sensor_setup

#endif
