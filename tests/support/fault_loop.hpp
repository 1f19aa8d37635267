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
//
// System calls (`systemCalls`): then every system call of the file space
// the operation makes (learnt from one run under the failing fake of the
// system-call table) fails in turn, the k-th call from k = 1 until the
// operation makes no k-th call, once with each errno `systemErrors` gives
// for its name (kShortTransfer for a read or write that moves only part).
// A disk's failure may be survived: a run in which one fired either fails
// (status 0 or below; the files of `intact` as they were, no temporary
// file left) or succeeds; `systemCheck(fault, status)` then checks what the
// run made or reported. Every run closes every descriptor it opened.
#ifndef TESTS_SUPPORT_FAULT_LOOP_HPP
#define TESTS_SUPPORT_FAULT_LOOP_HPP

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "zvapi/zv_base.h"

namespace zvtest {

struct Fault {
    std::string call;  // the zv function or system call that failed; "" for an allocation
    int k = 0;         // which of its calls (or which allocation), from 1
    zvStatus injected = 0;
    bool system = false;  // `call` is a system call of the file space
    int error = 0;        // the errno it failed with (or kShortTransfer)
    bool Allocation() const { return call.empty(); }
    // The status an operation that passes failures back returns for it.
    zvStatus Expected() const { return call == "zvFileCommit" ? ZV_E_IO : injected; }
    std::string Describe() const;  // "zvFileWrite #2", "allocation #7", "write #3 (ENOSPC)"
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
    // The system calls of the file space, failed in turn after the rest.
    bool systemCalls = false;
    // The errnos each system call fails with; a name not listed fails with
    // EIO, "write" with a short transfer, ENOSPC and EFBIG, "read" and
    // "pread" with a short transfer and EIO.
    std::map<std::string, std::vector<int>> systemErrors;
    // Checks the status of a run in which a system call failed, and what
    // it made; the harness's own checks come first (above).
    std::function<void(const Fault& fault, zvStatus status)> systemCheck;

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

// The system calls of the file space `operation` makes, by name, with
// their counts. The operation must succeed.
std::map<std::string, int64_t> SystemCallsOf(const std::function<zvStatus()>& operation);

// The descriptors this process holds open.
int OpenDescriptors();

}  // namespace zvtest

#endif
