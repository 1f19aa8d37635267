// The control identifiers of the Sensor Video page (1017), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SENSOR_PAGE_VIDEO_IDS_H
#define TORVANE_PAGES_SENSOR_PAGE_VIDEO_IDS_H

#include <cstdint>

namespace sensor_video {

inline constexpr int32_t kOperationRadio = 1015;
inline constexpr int32_t kDiagnosticRadio = 1016;
inline constexpr int32_t kOverlayCheck = 1021;
inline constexpr int32_t kDeadzoneCheck = 1023;
inline constexpr int32_t kThresholdSlider = 1024;

}  // namespace sensor_video

#endif
