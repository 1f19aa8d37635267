// The control identifiers of the System Config page (1022), written once: its
// dialog template, the page and its tests all name the controls by these.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_CONFIG_IDS_H
#define TORVANE_PAGES_SYSTEM_PAGE_CONFIG_IDS_H

#include <cstdint>

namespace system_config {

inline constexpr int32_t kSensorsEdit = 1025;
inline constexpr int32_t kCreateButton = 1013;

}  // namespace system_config

#endif
