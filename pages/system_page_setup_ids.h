// The control identifiers of the System Setup page (1018), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_SETUP_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_SETUP_IDS_H

#include <cstdint>

namespace system_setup {

inline constexpr int32_t kVertexList = 1022;
inline constexpr int32_t kXEdit = 1001;
inline constexpr int32_t kYEdit = 1002;
inline constexpr int32_t kAddButton = 1013;
inline constexpr int32_t kRemoveButton = 1014;
inline constexpr int32_t kDeleteButton = 1015;

}  // namespace system_setup

#endif
