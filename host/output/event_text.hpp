// The host's events as lines a person reads (`zvhost tree` and `page`
// without --json), and the summary of a run (`zvhost run` and `demo`
// without --json).
#ifndef ZVHOST_EVENT_TEXT_HPP
#define ZVHOST_EVENT_TEXT_HPP

#include <string>

#include <nlohmann/json.hpp>

#include "run_summary.hpp"

namespace zvhost {

// One or more lines ending in "\n"; "" for events not worth a line.
std::string EventText(const nlohmann::json& event);

// A few lines: batches, statuses and failures, each display with its
// outputs (and a table display's latest rows), console prints, the files
// written and the time per batch.
std::string SummaryText(const RunSummary& summary);

}  // namespace zvhost

#endif
