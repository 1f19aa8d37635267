// What the file space changed, for the host that reports it: each file a
// write made whole (at its close: created, or an existing one replaced) and
// each file deleted, in the order it happened, named by its path in the
// file space ("SN1/Settings.xml", separators '/', the names as the folder
// holds them). The host takes them after each call into the plug-in
// instead of looking at folders before and after it.
//
// The log is off until a host turns it on, and holds at most kMaxCommits
// changes (the oldest go first) when nobody takes them. It is the file
// space's, like the root: one for the process, safe from any thread.
#ifndef ZVAPI_ZV_FILE_COMMITS_HPP
#define ZVAPI_ZV_FILE_COMMITS_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zv_base.h"

namespace zv::files {

struct Commit {
    enum class Change { Created, Written, Deleted };
    std::string path;
    Change change = Change::Written;
    int64_t size = -1;  // bytes of a created or written file; -1 for a deleted one
};

inline constexpr size_t kMaxCommits = 1024;

// Turns the log on or off; either way it starts empty.
ZV_API void LogCommits(bool on);
// The changes logged since the last call, oldest first; the log is empty
// afterwards.
ZV_API std::vector<Commit> TakeCommits();

}  // namespace zv::files

#endif
