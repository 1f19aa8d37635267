// The control identifiers of the System Tuning page (1024), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_TUNING_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_TUNING_IDS_H

#include <cstdint>

namespace system_tuning {

inline constexpr int32_t kSensorList = 1014;
inline constexpr int32_t kRotateEdit = 1048;
inline constexpr int32_t kYEdit = 1049;
inline constexpr int32_t kXEdit = 1035;
inline constexpr int32_t kRotateDown = 1016;
inline constexpr int32_t kRotateUp = 1050;
inline constexpr int32_t kYDown = 1017;
inline constexpr int32_t kYUp = 1020;
inline constexpr int32_t kXDown = 1018;
inline constexpr int32_t kXUp = 1019;

// Every control above, enabled and disabled together.
inline constexpr int32_t kAllControls[] = {kSensorList, kRotateEdit, kYEdit, kXEdit, kRotateDown,
                                           kRotateUp,   kYDown,      kYUp,   kXDown, kXUp};

}  // namespace system_tuning

#endif
