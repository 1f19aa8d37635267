// The control identifiers of the System Free Running page (1014), written
// once: its dialog template, the page and its tests all name the controls by
// these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_FREE_RUNNING_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_FREE_RUNNING_IDS_H

#include <cstdint>

namespace system_free_running {

inline constexpr int32_t kOutputBatchCountEdit = 1026;
inline constexpr int32_t kInputStateCheck = 1034;

}  // namespace system_free_running

#endif
