// Internal view of the file family: the file space's path resolution and
// the file object, for the families that read and write whole files (XML
// documents, the station's storage).
#ifndef ZVAPI_SRC_FILES_HPP
#define ZVAPI_SRC_FILES_HPP

#include <cstdint>
#include <string>

#include "object.hpp"
#include "zvapi/zv_files.h"

namespace zv {

// The file space's root on this machine, canonical (no links, no trailing
// separator).
std::string FileSpaceRoot();

// Resolves a file-space path to this machine's path: the drive prefix,
// both separators, "." and "..", existing names matched without regard to
// case, links checked to stay inside the root. Returns ZV_OK with `*host`
// set; ZV_E_ARGUMENT for a null path, ZV_E_RANGE for a path of
// ZV_PATH_MAX characters or more, ZV_E_ACCESS for one that leaves the root.
zvStatus ResolvePath(const char* path, std::string* host);

// The quick way to a file to read: opens (read-only, close-on-exec) the
// file `path` names when every name in it exists with its exact case and
// no link lies on the way, which is then what ResolvePath resolves it to.
// Returns the descriptor, owned by the caller, with `*host` set; -1, with
// nothing changed, for any other path or failure, which the caller then
// resolves with ResolvePath.
int OpenExactForReading(const char* path, std::string* host);

struct File final : Object {
    File() : Object(ZV_TYPE_FILE) {}
    ~File() override;

    // Ends the file: a written file replaces its target now unless a write
    // failed. Returns ZV_OK, or ZV_E_IO with the old target left alone.
    // Idempotent; the destructor calls it for files never closed.
    zvStatus Close();
    // Marks a written file as failed: it will never replace its target.
    void Poison() { failed = true; }

    // Reads the rest of the file into `text` (replacing it). ZV_E_STATE for
    // a file not open for reading, ZV_E_IO on a read error, ZV_E_NOMEM when
    // the file is larger than `limit` bytes.
    zvStatus ReadAll(std::string* text, int64_t limit);
    // Appends `size` bytes; a failure poisons the file.
    zvStatus WriteBytes(const void* data, int64_t size);

    int fd = -1;
    int32_t mode = -1;        // ZV_FILE_READ or ZV_FILE_WRITE once open
    bool failed = false;      // a write failed: never commit
    bool flushed = false;     // a flush was asked for: make the rename durable
    std::string target;       // host path of the file named at Init
    std::string temporary;    // host path of the file being written
};

// Opens `file` (not yet open) on the already resolved `host` path, as
// zvFileInit does.
zvStatus OpenFile(File* file, const std::string& host, int32_t mode);

// True for the names of the temporary files that writes go through.
bool IsTemporaryName(const char* name);

// The live file behind `handle`, or null with `*status` set.
inline File* GetFile(zvHandle handle, zvStatus* status) { return Get<File>(handle, ZV_TYPE_FILE, status); }

}  // namespace zv

#endif
