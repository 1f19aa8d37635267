// The control identifiers of the System Run page (1015), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_RUN_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_RUN_IDS_H

#include <cstdint>

namespace system_run {

inline constexpr int32_t kOutputBatchCountEdit = 1026;
inline constexpr int32_t kEncoderResolutionEdit = 1003;
inline constexpr int32_t kOutputIntervalEdit = 1001;
inline constexpr int32_t kDetectionThresholdEdit = 1017;
inline constexpr int32_t kObstructionYEdit = 1018;
inline constexpr int32_t kOverlapFilterCheck = 1021;

}  // namespace system_run

#endif
