// The host's events as lines a person reads (`zvhost tree` and `page`
// without --json).
#ifndef ZVHOST_EVENT_TEXT_HPP
#define ZVHOST_EVENT_TEXT_HPP

#include <string>

#include <nlohmann/json.hpp>

namespace zvhost {

// One or more lines ending in "\n"; "" for events not worth a line.
std::string EventText(const nlohmann::json& event);

}  // namespace zvhost

#endif
