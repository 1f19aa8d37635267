// What one run of a mode did: the host loop keeps it for the current or
// last run (HostLoop::LastRun), and `zvhost run` and `demo` print it.
#ifndef ZVHOST_RUN_SUMMARY_HPP
#define ZVHOST_RUN_SUMMARY_HPP

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zvhost {

struct DisplaySummary {
    std::string name;
    int32_t kind = 0;
    int64_t outputs = 0;
};

struct RunSummary {
    std::string mode;
    int64_t batches = 0;
    double simulatedSeconds = 0;
    zvStatus startStatus = ZV_E_STATE;
    std::string startReason;  // what the platform said of a failing start
    zvStatus stopStatus = ZV_E_STATE;
    std::string stopReason;
    int64_t failedBatches = 0;  // process calls that returned <= 0
    zvStatus firstFailure = ZV_OK;
    int64_t firstFailedBatch = 0;    // the first of them, from 1; 0: none
    std::string firstFailureReason;  // what the platform said of it, "" when nothing
    int64_t unrouted = 0;            // outputs whose label names no display
    std::vector<DisplaySummary> displays;
    std::vector<std::string> written;  // picture and table files
    std::vector<std::string> console;  // the first kConsoleKept prints
    // The latest table of each table display, rows with headings first.
    std::map<std::string, std::vector<std::vector<std::string>>> tables;
    // Wall time spent in the batch loop, seconds: making and releasing the
    // batches' results (station or replay); in the process handler; by the
    // displays taking each output (its event, keeping it, dropping the one
    // it replaces); and by the host itself (messages, parameters, handler
    // calls, routing, records, console and status events: the rest).
    // Writing the pictures after the run is not counted.
    double stationSeconds = 0;
    double handlerSeconds = 0;
    double displaySeconds = 0;
    double hostSeconds = 0;
    // The wall clock (ns since 1970) when the last batch's process handler
    // was called: how late a batch reaches the mode, against when it left
    // its server.
    int64_t lastProcessNs = 0;

    // A run that goes on for hours prints more than anyone reads: the
    // summary keeps the first prints (the events carry every one).
    static constexpr size_t kConsoleKept = 1000;
};

}  // namespace zvhost

#endif
