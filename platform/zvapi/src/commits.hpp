// Internal: the file operations that change a file tell the commit log
// (zvapi/zv_file_commits.hpp) by the file's path on this machine.
#ifndef ZVAPI_SRC_COMMITS_HPP
#define ZVAPI_SRC_COMMITS_HPP

#include <cstdint>
#include <string>

#include "zvapi/zv_file_commits.hpp"

namespace zv {

// Logs a change of the file at `host` (this machine's path, inside the
// root) when the log is on; a path outside the root is left out.
void NoteCommit(const std::string& host, files::Commit::Change change, int64_t size);

}  // namespace zv

#endif
