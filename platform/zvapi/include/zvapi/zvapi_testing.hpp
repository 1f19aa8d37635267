// Test seams of the platform: call journal, fault injection, accounting.
// Only tests and the host use these; the product never does.
#ifndef ZVAPI_ZVAPI_TESTING_HPP
#define ZVAPI_ZVAPI_TESTING_HPP

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zv_base.h"
#include "zv_system_calls.hpp"

namespace zv::testing {

// ---- Call journal -------------------------------------------------------
// While on, every zv call that returns a status records one entry: its name,
// then its key arguments separated by single spaces, for example
// "zvPipeModeAddDisplay Free 2" or "zvFileInit \SN7\Settings.xml 1".
ZV_API void JournalStart();
ZV_API void JournalStop();
ZV_API void JournalClear();
ZV_API std::vector<std::string> Journal();
// Entries whose name (the text before the first space) is `name`.
ZV_API std::vector<std::string> JournalOf(const std::string& name);

// ---- Fault injection ----------------------------------------------------
// The k-th call (1-based, counted from now) of the zv function `name`
// returns `status` without doing anything. Functions that return a pointer
// or an index fail in their own way (null, negative).
//
// "zvFileCommit" names no function but the step that ends every written
// file, its rename over the old file when it is closed: failing its k-th
// time makes that close fail as a full or broken disk would (ZV_E_IO, the
// old file kept, the temporary file removed). It is not journaled.
ZV_API void FailCall(const std::string& name, int k, zvStatus status);
// The k-th allocation from now (zvMalloc, object creation, container
// growth) fails: zvMalloc returns null, the others ZV_E_NOMEM.
ZV_API void FailAllocation(int k);
// True when an armed fault has not fired yet.
ZV_API bool FaultPending();
ZV_API void ClearFaults();

// ---- System calls of the file space ----------------------------------------
// The failing fake of the file space's system-call table (zv_system_calls.hpp):
// installed for the lifetime of the object (the table before it is put back
// after), it passes every call on to the real table, counts the calls by
// name, and makes the k-th call from now of a named one fail with an errno
// of the test's choosing (ENOSPC at a write, EIO at an fsync, a rename
// refused). kShortTransfer instead makes a read or write move only part of
// what it was asked (at least one byte), as a disk that fills up does
// before it refuses. A failed `close` closes all the same, as the kernel
// does. One fake at a time: a second one shares the first's state.
inline constexpr int kShortTransfer = -1;
// The names of the table's calls, in the order of the table.
ZV_API const std::vector<std::string>& SystemCallNames();
class ZV_API FailingSystemCalls {
public:
    FailingSystemCalls();
    ~FailingSystemCalls();
    FailingSystemCalls(const FailingSystemCalls&) = delete;
    FailingSystemCalls& operator=(const FailingSystemCalls&) = delete;

    void Fail(const std::string& name, int k, int error);
    // True when an armed fault has not fired yet.
    bool Pending() const;
    void Clear();
    // Calls made per name since the fake was installed or ResetCounts.
    std::map<std::string, int64_t> Counts() const;
    void ResetCounts();
    // The fake's table itself, for tests that install it by hand.
    static const sys::Calls& Table();

private:
    bool owner_ = false;
};

// ---- Accounting -----------------------------------------------------------
ZV_API int64_t LiveObjects();              // all live objects
ZV_API int64_t LiveObjects(int32_t type);  // live objects of one type id
ZV_API int64_t LiveBytes();                // bytes held through zvMalloc and containers
ZV_API int64_t EngineOwnedObjects();       // live objects that belong to an engine

// ---- XML text ---------------------------------------------------------------
// The check every XML text passes before it is parsed: true when `text` may
// go on to the parser, with `*deep` telling whether its tree needs the walk
// below the root. `byteByByte` forgoes the quick route through plain markup,
// so that tests can hold the two answers side by side.
ZV_API bool XmlTextCheck(const std::string& text, bool byteByByte, bool* deep);

// Clears journal and faults on construction and destruction.
class Scope {
public:
    Scope() { Reset(); }
    ~Scope() { Reset(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    static void Reset() {
        JournalStop();
        JournalClear();
        ClearFaults();
    }
};

}  // namespace zv::testing

#endif
