// The control identifiers of the System Calibration page (1013), written
// once: its dialog template, the page and its tests all name the controls by
// these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_CALIBRATION_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_CALIBRATION_IDS_H

#include <cstdint>

namespace system_calibration {

inline constexpr int32_t kDeleteButton = 1013;

}  // namespace system_calibration

#endif
