// The file space's system calls, behind one table.
//
// Every file operation of the platform reaches the disk through the calls of
// the table installed here and through nothing else: the zvFile and
// zvDirectory families, XML documents read and written through them, the
// station's storage, and the helpers of zv_file_space.hpp that the station,
// the capture writer and the host use for their own files. The real table
// passes each call to this machine's kernel; tests install a failing fake
// (zvapi_testing.hpp) that makes the k-th call of one of them fail as a
// broken or full disk would, so that fault loops reach below the zv calls.
//
// The table is an interface, and the seam through which a server's folder
// on the network is to be served. An implementation keeps these rules:
//  - Each call has the meaning and the signature of the POSIX call of its
//    name (for `renameat`, that of Linux's renameat2 with its flags;
//    `readdir` and `openat2` below), returns -1 with errno set when it
//    fails, and may fail with any errno its POSIX call may give; callers
//    retry EINTR themselves.
//  - Descriptors are the implementation's own: one it returned is valid
//    only for its other calls, until its `close`. Folders are named only by
//    a descriptor and a single name inside it (no "/", no ".."), except for
//    `open`, which opens the root of the file space by its path.
//  - Locks taken with `flock` are held by the open file and tell a live
//    writer of a temporary file from a gone one, across processes.
// The platform never calls the kernel for a file of the space around this
// table, so a table that serves another disk serves every file operation.
//
// Not for the product: Torvane reaches files through zv calls only.
#ifndef ZVAPI_ZV_SYSTEM_CALLS_HPP
#define ZVAPI_ZV_SYSTEM_CALLS_HPP

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "zv_base.h"

namespace zv::sys {

inline constexpr int kCallsVersion = 1;

struct Calls {
    int version;  // kCallsVersion
    int (*open)(const char* path, int flags, mode_t mode);
    int (*openat)(int dir, const char* name, int flags, mode_t mode);
    // Opens absolute `path` (flags as open) only when no name on the way is
    // a link; -1 with ENOSYS from a table or kernel that cannot tell.
    int (*openat2)(const char* path, int flags);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*pread)(int fd, void* buffer, size_t size, off_t offset);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t length);
    int (*fstat)(int fd, struct stat* info);
    int (*fstatat)(int dir, const char* name, struct stat* info, int flags);
    int (*renameat)(int fromDir, const char* from, int toDir, const char* to, unsigned int flags);
    int (*unlinkat)(int dir, const char* name, int flags);
    int (*mkdirat)(int dir, const char* name, mode_t mode);
    ssize_t (*readlinkat)(int dir, const char* name, char* buffer, size_t size);
    // Reads the entries of open folder `dir` ("." and ".." left out),
    // calling `each` with the name and the dirent type (DT_UNKNOWN when the
    // disk does not say) of every one; `dir` stays open and is not moved.
    // 0, or -1 with errno when the folder could not be read to its end.
    int (*readdir)(int dir, void (*each)(void* context, const char* name, unsigned char type), void* context);
    int (*flock)(int fd, int operation);
    int (*fchmod)(int fd, mode_t mode);
    int (*dup)(int fd);  // close-on-exec
};

// The table that calls this machine's kernel.
ZV_API const Calls& Real();
// The table in use.
ZV_API const Calls& Current();
// Installs `table` (null: the real one) for every later call, and returns
// the one installed before. A table must outlive its use; one of another
// version is refused (nothing changes, the current one is returned).
ZV_API const Calls* Install(const Calls* table);

}  // namespace zv::sys

#endif
