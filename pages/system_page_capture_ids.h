// The control identifiers of the System Capture page (1020), written once:
// its dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_CAPTURE_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_CAPTURE_IDS_H

#include <cstdint>

#include "plugin/pipe_modes.h"

namespace system_capture {

inline constexpr int32_t kModeList = 1031;
inline constexpr int32_t kSourceList = 1032;
inline constexpr int32_t kReductionEdit = 1033;

// The modes of the Mode list, by index.
inline constexpr const char* kCaptureModes[] = {kModeFree, kModeCalibration, kModeDetection, kModeWeb};

}  // namespace system_capture

#endif
