// The control identifiers of the System Web page (1023), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_WEB_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_WEB_IDS_H

#include <cstdint>

namespace system_web {

inline constexpr int32_t kOutputBatchingEdit = 1047;
inline constexpr int32_t kXResolutionEdit = 1036;
inline constexpr int32_t kTimeSyncRadio = 1038;
inline constexpr int32_t kTimeLabel = 1040;
inline constexpr int32_t kTimeEdit = 1037;
inline constexpr int32_t kTimeUnit = 1042;
inline constexpr int32_t kEncoderSyncRadio = 1039;
inline constexpr int32_t kDistanceLabel = 1041;
inline constexpr int32_t kDistanceEdit = 1001;
inline constexpr int32_t kDistanceUnit = 1043;
inline constexpr int32_t kEncoderResolutionLabel = 1044;
inline constexpr int32_t kEncoderResolutionEdit = 1046;
inline constexpr int32_t kEncoderResolutionUnit = 1045;

// The controls of each synchronisation method: labels, edits and units.
inline constexpr int32_t kTimeControls[] = {kTimeLabel, kTimeUnit, kTimeEdit};
inline constexpr int32_t kEncoderControls[] = {kDistanceLabel,          kDistanceUnit,          kDistanceEdit,
                                               kEncoderResolutionLabel, kEncoderResolutionUnit, kEncoderResolutionEdit};

}  // namespace system_web

#endif
