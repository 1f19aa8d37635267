// The fault loop: an operation run again and again with one platform call,
// or one allocation, failing each time, checking that every failure is
// reported, leaks nothing and leaves the files it was about as they were.
//
//   zvtest::FaultLoop loop;
//   loop.operation = [&] { return SettingsSave(record, "\\SN7\\Settings.xml", 1); };
//   loop.intact = {space.Host("SN7/Settings.xml")};
//   loop.Run();
//
// Calls: for each name in `calls` (empty: every injectable zv function the
// operation calls, learnt from one journaled run that must succeed, and
// "zvFileCommit", the commit of every file it writes), the k-th call of that
// name returns `injected`, for k = 1, 2, ... until the operation runs
// without reaching a k-th call. A failed commit gives ZV_E_IO. Allocations: then the k-th
// allocation (zvMalloc, object creation, container growth) fails likewise.
//
// After every run: with the fault fired, `check(fault, status)` (by
// default the status must be `fault.Expected()`, or for an allocation one
// of `noMemory`) and `verify(fault)`; without it, a status above 0. Then
// `cleanup` (release what the run made, put state back), after which the
// platform's live objects and bytes must be where they were before the
// loop. Files of `intact` must hold their old bytes (or still be absent)
// after a failed run, with no temporary file of a write left beside them;
// after a run that succeeded they are put back as they were, so that every
// run starts alike.
#ifndef TESTS_SUPPORT_FAULT_LOOP_HPP
#define TESTS_SUPPORT_FAULT_LOOP_HPP

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "zvapi/zv_base.h"

namespace zvtest {

struct Fault {
    std::string call;  // the zv function that failed; "" for an allocation
    int k = 0;         // which of its calls (or which allocation), from 1
    zvStatus injected = 0;
    bool Allocation() const { return call.empty(); }
    // The status an operation that passes failures back returns for it.
    zvStatus Expected() const { return call == "zvFileCommit" ? ZV_E_IO : injected; }
    std::string Describe() const;  // "zvFileWrite #2", "allocation #7"
};

struct FaultLoop {
    std::function<zvStatus()> operation;
    // Names of zv functions to fail in turn; empty: every injectable one the
    // operation calls.
    std::vector<std::string> calls;
    zvStatus injected = -77;
    bool allocations = true;
    // Statuses that report a failed allocation: Torvane's own -995 and the
    // platform's. Torvane's XmlFindChild adds 0 for its name buffer.
    std::vector<zvStatus> noMemory = {-995, ZV_E_NOMEM};
    // Host paths of files that a failed run must leave as they were.
    std::vector<std::filesystem::path> intact;
    // Checks the status of a run in which `fault` fired; default above.
    std::function<void(const Fault& fault, zvStatus status)> check;
    // More checks after each failed run (state as expected).
    std::function<void(const Fault& fault)> verify;
    // Runs after every run, before objects and bytes are counted.
    std::function<void()> cleanup;

    // Runs the loop; returns the number of runs in which a fault fired.
    int Run();
};

// Whether faults may be injected into zv function `name`: destroys and
// disposes are left alone (a failed release leaks by design), and so are
// accessors that report failures by value rather than by status.
bool Injectable(const std::string& name);

// The distinct zv functions `operation` calls, in the order of their first
// call, as the journal records them. The operation must succeed.
std::vector<std::string> CallsOf(const std::function<zvStatus()>& operation);

}  // namespace zvtest

#endif
