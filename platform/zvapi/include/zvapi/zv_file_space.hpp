// The file space's one way in for the platform's own components and the
// host: the station's Settings.xml and Calibration.xml, the capture's
// segments, the host's station description and the files it reports. Every
// call resolves its path as the zvFile family does (from the root's
// descriptor, name by name, no link leading out, a FIFO or device refused
// without blocking), and reaches the disk through the system-call table
// (zv_system_calls.hpp). The one exception is WriteOutsideFile, for the
// files the host writes where its user asks (pictures and tables).
//
// Failures return a zvApi status and leave the reason, with the path, as
// the thread's last error (zvLastErrorText).
//
// Not for the product: Torvane reaches files through zv calls only.
#ifndef ZVAPI_ZV_FILE_SPACE_HPP
#define ZVAPI_ZV_FILE_SPACE_HPP

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zv_base.h"

namespace zv::files {

// Reads the plain file `path` whole. Its size is looked at before anything
// is read: one of more than `limit` bytes is refused with ZV_E_RANGE. A
// missing file: ZV_E_NOTFOUND; a folder, FIFO, device or socket:
// ZV_E_UNSUPPORTED; a path leaving the space: ZV_E_ACCESS.
ZV_API zvStatus ReadFile(const std::string& path, int64_t limit, std::string* text);

// Replaces (or creates) the file `path` with `bytes`: written to a
// temporary file beside it (created exclusively, under a name no other
// write uses), forced to storage and renamed over the old file, so that a
// failure leaves the old file and no temporary one. The folder must exist.
ZV_API zvStatus WriteFile(const std::string& path, std::string_view bytes);

// What a folder holds, as the host reports it.
struct Entry {
    enum class Kind { kFile, kFolder, kLink, kOther };
    std::string name;
    Kind kind = Kind::kOther;  // of the entry itself: a link is not followed
    int64_t size = 0;
    int64_t modified = 0;  // nanoseconds since the epoch
    uint64_t inode = 0;
};
// The entries directly in folder `folder` (links followed on the way to
// it), without the temporary files of writes, sorted by name without
// regard to case. ZV_E_NOTFOUND when it is no folder.
ZV_API zvStatus ListFolder(const std::string& folder, std::vector<Entry>* entries);

// Makes the folder `path`, which must not exist yet in any case (ZV_E_STATE
// when it does, also when another process makes it first); the folder
// above it must exist.
ZV_API zvStatus MakeNewFolder(const std::string& path);

// Removes the folder `path` when it is empty; ZV_E_STATE when it is not.
ZV_API zvStatus RemoveEmptyFolder(const std::string& path);

// A file written piece by piece, a capture segment: it is written as a
// temporary file beside its name (hidden from listings, locked while its
// writer lives) and takes its name at Commit. A writer that dies leaves the
// temporary file, which Orphans finds and Adopt takes over.
//
// Not thread-safe.
class ZV_API AppendFile {
public:
    AppendFile() = default;
    // A file neither committed nor abandoned stays as the temporary file of
    // an interrupted write (for a later Adopt), unlocked.
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Starts the new file `path` (its folder must exist). ZV_E_STATE when
    // something of that name exists.
    zvStatus Create(const std::string& path);
    // Takes over `temporary`, the temporary file in folder `folder` that an
    // interrupted write left, to read, cut and commit it (not to append)
    // under its target's name, or under `target` when given (a file of
    // another naming). ZV_E_STATE when its writer still lives.
    zvStatus Adopt(const std::string& folder, const std::string& temporary, const std::string& target = "");

    // Appends all of `bytes` or nothing: a write that fails (a full disk, a
    // limit on file sizes, a broken disk) cuts the file back to what it held
    // before and returns ZV_E_IO. After a failure only Commit and Abandon
    // are taken: what was appended before stays whole.
    zvStatus Append(std::string_view bytes);
    // Forces what was appended to storage; a failure is a failed append.
    zvStatus Sync();
    // Reads up to `size` bytes from `offset`; `*done` gets the count.
    zvStatus ReadAt(int64_t offset, void* buffer, int64_t size, int64_t* done);
    // Cuts the file to its first `size` bytes.
    zvStatus Truncate(int64_t size);
    // Forces the file to storage and gives it its name, never replacing a
    // file of that name (ZV_E_STATE), durably. When the rename fails the
    // file stays as the temporary file of an interrupted write, for the next
    // start to take over. The object is closed after, whatever the outcome.
    zvStatus Commit();
    // Removes the file.
    void Abandon();

    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }  // the name it gets

private:
    void CloseFile();

    int fd_ = -1;
    int folder_ = -1;
    std::string path_;
    std::string target_;     // the name it gets in its folder
    std::string temporary_;  // the name it has while written
    int64_t size_ = 0;
    bool failed_ = false;
    bool adopted_ = false;
};

// A temporary file of an interrupted write whose writer is gone.
struct Orphan {
    std::string temporary;  // its name in the folder
    std::string target;     // the name the write was to give it
};
// The orphans in folder `folder`, sorted by target.
ZV_API zvStatus Orphans(const std::string& folder, std::vector<Orphan>* orphans);

// Writes `bytes` to the file `hostPath` of this machine, outside the file
// space (a picture the host's user asked for), as WriteFile does inside it:
// a temporary file beside it, created exclusively, forced to storage and
// renamed over the target; removed on every failure. The folder must exist.
ZV_API zvStatus WriteOutsideFile(const std::string& hostPath, std::string_view bytes);

}  // namespace zv::files

#endif
