// The control identifiers of the Sensor Clipping page (1021), written once:
// its dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SENSOR_PAGE_CLIPPING_IDS_H
#define TORVANE_PAGES_SENSOR_PAGE_CLIPPING_IDS_H

#include <cstdint>

namespace sensor_clipping {

inline constexpr int32_t kMinYEdit = 1027;
inline constexpr int32_t kMaxYEdit = 1028;
inline constexpr int32_t kMinXEdit = 1029;
inline constexpr int32_t kMaxXEdit = 1030;

}  // namespace sensor_clipping

#endif
