// Internal view of the file family: the file space's path resolution and
// the file object, for the families that read and write whole files (XML
// documents, the station's storage).
//
// Every file operation of the platform resolves its path here, name by name
// in descriptors of the folders on the way, and opens, creates, renames and
// removes relative to the descriptor of the folder it resolved. A link is
// followed by taking its target apart like the rest of the path, so no name
// is ever looked up outside the root, and a link or folder swapped in while
// a file is read or saved cannot lead a read or a write out of the space.
#ifndef ZVAPI_SRC_FILES_HPP
#define ZVAPI_SRC_FILES_HPP

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "object.hpp"
#include "zvapi/zv_files.h"
#include "zvapi/zv_system_calls.hpp"

namespace zv {

// The system calls every file operation goes through (zv_system_calls.hpp).
inline const sys::Calls& Sys() { return sys::Current(); }

// The entries of open folder `dir` with their dirent types; false with
// errno set when it could not be read to its end.
struct DirEntry {
    std::string name;
    unsigned char type;
};
bool ReadFolder(int dir, std::vector<DirEntry>* entries);

// A descriptor owned by its holder, closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset();

private:
    int fd_ = -1;
};

// The file space's root on this machine, canonical (no links, no trailing
// separator).
std::string FileSpaceRoot();

// Where a file-space path leads. `folder` is the deepest folder of the path
// that exists (open for reading, inside the root); `name` is the entry of
// the path in it, as the folder has it when it exists (matched without
// regard to case), else as the path gives it; `rest` are the names below a
// missing `name`. The root itself has no name.
struct Place {
    Fd folder;
    std::string name;
    std::vector<std::string> rest;
    bool exists = false;  // `name` is in `folder` (and `rest` is empty)
    struct stat info {};  // of `name`, not following a link, when it exists
    std::string host;     // this machine's path of the whole path
    bool IsRoot() const { return name.empty(); }
};

// Whether a link named by the last name of a path is followed.
enum class Follow { kAll, kNotLast };

// Resolves `path` (the drive prefix, both separators, "." and "..",
// existing names matched without regard to case; links followed while they
// stay inside the root, the last one only with Follow::kAll). ZV_E_ARGUMENT
// for a null path, ZV_E_RANGE for one of ZV_PATH_MAX characters or more,
// ZV_E_ACCESS for one that leaves the root or whose links loop,
// ZV_E_NOTFOUND when a name on the way is a file rather than a folder,
// ZV_E_IO when a folder cannot be opened. A failure keeps its reason.
zvStatus Resolve(const char* path, Follow follow, Place* place);

// Resolves `path` to this machine's path of the file or folder it names,
// links followed. Statuses as Resolve.
zvStatus ResolvePath(const char* path, std::string* host);

// The folder `path` names, open (links followed); ZV_E_NOTFOUND when it is
// none.
zvStatus OpenFolder(const char* path, Fd* out);

// The quick way to a file to read: opens (read-only, close-on-exec, not
// blocking) the plain file `path` names when every name in it exists with
// its exact case and no link lies on the way. Returns the descriptor, owned
// by the caller, with `*host` set; -1, with nothing changed, for any other
// path, file or failure, which the caller then resolves with Resolve.
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
    // Reads up to `size` bytes into `buffer`; `*done` gets the count.
    zvStatus ReadBytes(void* buffer, int64_t size, int64_t* done);

    int fd = -1;
    int32_t mode = -1;       // ZV_FILE_READ or ZV_FILE_WRITE once open
    bool failed = false;     // a write failed: never commit
    bool flushed = false;    // a flush was asked for: make the rename durable
    std::string path;        // the file-space path named at Init, for messages
    std::string target;      // host path of the file named at Init
    Fd folder;               // a written file: the folder its target is in
    std::string targetName;  // a written file: its target's name in `folder`
    std::string temporary;   // a written file: the name of the file being written
    bool noReplace = false;  // a written file: an existing target is not replaced (ZV_E_STATE)
    int64_t bytesRead = 0;   // a read file: bytes read so far
    // A file of a folder another machine serves (remote.hpp): held in an
    // anonymous memory file, sent whole at close when written.
    bool remote = false;
    std::string remoteFolder;
    std::string remotePath;
    bool remoteExisted = false;
};

// Opens `file` (not yet open) on file-space path `path`, as zvFileInit
// does: reading a plain file only (a folder: ZV_E_NOTFOUND; a FIFO, device
// or socket: ZV_E_UNSUPPORTED, without blocking), writing through a
// temporary file beside the target (a link's target, when the path names a
// link). Failures keep their reason.
zvStatus OpenPath(File* file, const char* path, int32_t mode);
// Opens `file` for writing a new file at `path`: at close, a file that
// exists there by then is kept and the close gives ZV_E_STATE.
zvStatus OpenNew(File* file, const char* path);

// Makes the temporary file of a write of `target` in folder `dir`: created
// exclusively under a name no other write uses, locked (shared) while it is
// written so that sweeps leave it, with `permissions`. `shown` names the
// file in messages. Nothing is left behind on failure (ZV_E_IO).
zvStatus MakeTemporary(int dir, const std::string& target, mode_t permissions, const std::string& shown, Fd* fd,
                       std::string* temporary);
// Gives `temporary` (closed and written whole) the name `target` in `dir`:
// replacing what is there, or with `noReplace` only when nothing is
// (ZV_E_STATE otherwise); with `flush`, the folder is forced to storage
// after. On failure the temporary file is removed and the old file stays.
zvStatus CommitTemporary(int dir, const std::string& temporary, const std::string& target, bool noReplace, bool flush,
                         const std::string& shown);

// Writes all `size` bytes of `data` to `fd` (short writes continued, EINTR
// retried); false with errno set (ENOSPC for a disk that takes nothing).
bool WriteFully(int fd, const unsigned char* data, int64_t size);

// True for the names of the temporary files that writes go through.
bool IsTemporaryName(const char* name);
// Removes from folder `dir` the temporary files of writes of `target` whose
// writer is gone (interrupted saves); those of live writers stay.
void RemoveStaleTemporaries(int dir, const std::string& target);

// The file a document about to be parsed was read from, when its text is the
// whole of the last file read to its end on this thread: that file's
// path; else "". For the reasons of parse failures.
std::string SourceOfText(int64_t size);

// The live file behind `handle`, or null with `*status` set.
inline File* GetFile(zvHandle handle, zvStatus* status) { return Get<File>(handle, ZV_TYPE_FILE, status); }

}  // namespace zv

#endif
