// File objects. Writing goes to a temporary file beside the target, renamed
// over it when the file is closed, so that readers only ever see a whole
// old file or a whole new one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "commits.hpp"
#include "files.hpp"
#include "remote.hpp"

namespace zv {

bool WriteFully(int fd, const unsigned char* data, int64_t size) {
    while (size > 0) {
        const size_t chunk = size > (int64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(size);
        const ssize_t n = Sys().write(fd, data, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;  // a disk that takes nothing more is full
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

namespace {

// The last file read to its end on this thread, for the reasons of parse
// failures of its text.
struct LastRead {
    std::string path;
    int64_t size = -1;
};
thread_local LastRead t_lastRead;

std::string Kind(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}

// A name for a temporary file that no other write uses.
std::string TemporaryName(const std::string& target) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // Seeded from the kernel's randomness, so that no other process can
    // tell the names in advance and put a link there first.
    thread_local uint64_t state = [] {
        uint64_t seed = 0;
        if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed))
            seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                   (static_cast<uint64_t>(::getpid()) << 32);
        return seed | 1;  // never the one state the sequence cannot leave
    }();
    std::string name = "." + target + ".zvtmp.";
    for (int i = 0; i < 6; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        name += kLetters[state % (sizeof kLetters - 1)];
    }
    return name;
}

}  // namespace

std::string SourceOfText(int64_t size) { return t_lastRead.size == size ? t_lastRead.path : std::string(); }

// The name of temporary files: hidden, and recognisable so that listings
// leave them out.
bool IsTemporaryName(const char* name) { return name[0] == '.' && std::strstr(name, ".zvtmp.") != nullptr; }

File::~File() { Close(); }

zvStatus File::Close() {
    if (fd < 0) return ZV_OK;
    if (remote && mode == ZV_FILE_WRITE) return CloseRemote(this);
    if (mode == ZV_FILE_READ) {
        struct stat info {};
        if (Sys().fstat(fd, &info) == 0 && info.st_size == bytesRead) {
            try {
                t_lastRead = LastRead{path, bytesRead};
            } catch (...) {
                t_lastRead = LastRead{};
            }
        }
        Sys().close(fd);
        fd = -1;
        return ZV_OK;
    }
    // The lock on the temporary file, which tells a live writer from an
    // interrupted one, is held through a duplicate of the descriptor (one
    // open file, one lock) until the file has its target's name.
    Fd lock(Sys().dup(fd));
    // What the commit log says of it: its size, and whether it replaces a file.
    struct stat written {};
    struct stat existing {};
    const int64_t size = Sys().fstat(fd, &written) == 0 ? static_cast<int64_t>(written.st_size) : -1;
    const bool replaces = Sys().fstatat(folder.get(), targetName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    const bool closedWell = Sys().close(fd) == 0;
    const int closeError = errno;
    fd = -1;
    // The test seams can make the commit fail as the disk would.
    zvStatus injected = ZV_E_FAIL;
    if (g_seamsActive.load(std::memory_order_relaxed) && InjectedFault("zvFileCommit", &injected)) {
        failed = true;
        Sys().unlinkat(folder.get(), temporary.c_str(), 0);
        return Fail(ZV_E_IO, "\"" + Printable(path) + "\" could not be replaced");
    }
    if (failed || !closedWell) {
        Sys().unlinkat(folder.get(), temporary.c_str(), 0);
        if (failed) return ZV_E_IO;
        return Fail(ZV_E_IO, "\"" + Printable(path) + "\" could not be written: " + std::strerror(closeError));
    }
    const zvStatus committed = CommitTemporary(folder.get(), temporary, targetName, noReplace, flushed, path);
    if (committed > 0)
        NoteCommit(target, replaces ? files::Commit::Change::Written : files::Commit::Change::Created, size);
    return committed;
}

zvStatus File::ReadAll(std::string* text, int64_t limit) {
    if (fd < 0 || mode != ZV_FILE_READ) return ZV_E_STATE;
    text->clear();
    // A file past the limit is refused before a byte of it is read; one
    // that grows while it is read, when it gets there.
    struct stat info {};
    if (Sys().fstat(fd, &info) != 0)
        return Fail(ZV_E_IO, "\"" + Printable(path) + "\" could not be read: " + std::strerror(errno));
    if (info.st_size - bytesRead > limit) return ZV_E_NOMEM;
    if (info.st_size > bytesRead) text->reserve(static_cast<size_t>(info.st_size - bytesRead));
    char chunk[65536];
    for (;;) {
        const ssize_t n = Sys().read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(ZV_E_IO, "\"" + Printable(path) + "\" could not be read: " + std::strerror(errno));
        }
        if (n == 0) return ZV_OK;
        if (static_cast<int64_t>(text->size()) + n > limit) return ZV_E_NOMEM;
        text->append(chunk, static_cast<size_t>(n));
        bytesRead += n;
    }
}

zvStatus File::ReadBytes(void* buffer, int64_t size, int64_t* done) {
    auto* out = static_cast<unsigned char*>(buffer);
    int64_t total = 0;
    while (total < size) {
        const int64_t left = size - total;
        const size_t chunk = left > (int64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(left);
        const ssize_t n = Sys().read(fd, out + total, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done != nullptr) *done = total;
            bytesRead += total;
            return Fail(ZV_E_IO, "\"" + Printable(path) + "\" could not be read: " + std::strerror(errno));
        }
        if (n == 0) break;
        total += n;
    }
    if (done != nullptr) *done = total;
    bytesRead += total;
    return ZV_OK;
}

zvStatus File::WriteBytes(const void* data, int64_t size) {
    if (fd < 0 || mode != ZV_FILE_WRITE) return ZV_E_STATE;
    if (size < 0 || (data == nullptr && size > 0)) {
        Poison();
        return ZV_E_ARGUMENT;
    }
    if (!WriteFully(fd, static_cast<const unsigned char*>(data), size)) {
        Poison();
        return Fail(ZV_E_IO, "\"" + Printable(path) + "\" could not be written: " + std::strerror(errno));
    }
    return ZV_OK;
}

zvStatus MakeTemporary(int dir, const std::string& target, mode_t permissions, const std::string& shown, Fd* out,
                       std::string* temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(target);
        Fd fd(Sys().openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST) continue;
            return Fail(ZV_E_IO, "\"" + Printable(shown) + "\" cannot be written beside: " + std::strerror(errno));
        }
        // Locked (shared) for as long as it is written, so that a sweep,
        // which needs the lock alone, leaves it; a sweep that got in between
        // its making and its locking took it away, and another is made.
        if (Sys().flock(fd.get(), LOCK_SH | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) continue;
            Sys().unlinkat(dir, name.c_str(), 0);
            return Fail(ZV_E_IO, "\"" + Printable(shown) + "\" cannot be written beside: " + std::strerror(error));
        }
        struct stat info {};
        if (Sys().fstat(fd.get(), &info) != 0) {
            const int error = errno;
            Sys().unlinkat(dir, name.c_str(), 0);
            return Fail(ZV_E_IO, "\"" + Printable(shown) + "\" cannot be written beside: " + std::strerror(error));
        }
        if (info.st_nlink == 0) continue;  // swept away already
        // Without the old file's permissions the new one still holds the
        // right bytes; it stays private to this machine's user.
        Sys().fchmod(fd.get(), permissions);
        *out = std::move(fd);
        *temporary = std::move(name);
        return ZV_OK;
    }
    return Fail(ZV_E_IO, "\"" + Printable(shown) + "\": no temporary file could be made beside it");
}

zvStatus CommitTemporary(int dir, const std::string& temporary, const std::string& target, bool noReplace, bool flush,
                         const std::string& shown) {
    const int renamed = Sys().renameat(dir, temporary.c_str(), dir, target.c_str(), noReplace ? RENAME_NOREPLACE : 0);
    if (renamed != 0) {
        const int error = errno;
        Sys().unlinkat(dir, temporary.c_str(), 0);
        if (noReplace && error == EEXIST) return Fail(ZV_E_STATE, "\"" + Printable(shown) + "\" exists already");
        return Fail(ZV_E_IO, "\"" + Printable(shown) + "\" could not be replaced: " + std::strerror(error));
    }
    // The new name is on the disk once the folder is: a folder that cannot
    // be forced leaves the file replaced all the same, as it now is for
    // every reader.
    if (flush) Sys().fsync(dir);
    // The one successful write makes earlier interrupted ones of the same
    // file pointless.
    RemoveStaleTemporaries(dir, target);
    return ZV_OK;
}

namespace {

// Makes `fd`, open for reading, the file's: a plain file only.
zvStatus TakeForReading(File* file, int fd, const char* path, std::string host) {
    struct stat info {};
    if (Sys().fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        Sys().close(fd);
        if (S_ISDIR(info.st_mode)) return ZV_E_NOTFOUND;
        return Fail(ZV_E_UNSUPPORTED, "\"" + Printable(path) + "\" is " + Kind(info.st_mode) + ", not a file");
    }
    file->fd = fd;
    file->mode = ZV_FILE_READ;
    file->path = path;
    file->target = std::move(host);
    file->bytesRead = 0;
    return ZV_OK;
}

// A link swapped in for a file after its path was resolved makes the open
// refuse it; the path is then resolved again, this many times at most.
constexpr int kAttempts = 8;

zvStatus OpenForReading(File* file, const char* path) {
    std::string host;
    const int quick = OpenExactForReading(path, &host);
    if (quick >= 0) return TakeForReading(file, quick, path, std::move(host));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Place place;
        zvStatus status = Resolve(path, Follow::kAll, &place);
        if (status <= 0) return status;
        if (!place.exists || place.IsRoot() || S_ISDIR(place.info.st_mode)) return ZV_E_NOTFOUND;
        if (!S_ISREG(place.info.st_mode))
            return Fail(ZV_E_UNSUPPORTED,
                        "\"" + Printable(path) + "\" is " + Kind(place.info.st_mode) + ", not a file");
        const int fd = Sys().openat(place.folder.get(), place.name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
        if (fd < 0) {
            if (errno == ELOOP) continue;  // a link swapped in: resolve again
            if (errno == ENOENT) return ZV_E_NOTFOUND;
            return Fail(ZV_E_IO, "\"" + Printable(path) + "\" cannot be opened: " + std::strerror(errno));
        }
        return TakeForReading(file, fd, path, std::move(place.host));
    }
    return Fail(ZV_E_ACCESS, "\"" + Printable(path) + "\" keeps changing into a link");
}

zvStatus OpenForWriting(File* file, const char* path, bool noReplace) {
    Place place;
    zvStatus status = Resolve(path, Follow::kAll, &place);
    if (status <= 0) return status;
    if (!place.rest.empty()) return ZV_E_NOTFOUND;  // missing folders are not made
    if (place.IsRoot()) return Fail(ZV_E_IO, "\"" + Printable(path) + "\" is a folder");
    mode_t permissions = 0644;
    if (place.exists) {
        if (S_ISDIR(place.info.st_mode)) return Fail(ZV_E_IO, "\"" + Printable(path) + "\" is a folder");
        if (!S_ISREG(place.info.st_mode))
            return Fail(ZV_E_UNSUPPORTED,
                        "\"" + Printable(path) + "\" is " + Kind(place.info.st_mode) + ", not a file");
        // A read-only file (no write bit for anyone) stays as it is, as on
        // the station's disk, whoever this process runs as.
        if ((place.info.st_mode & 0222) == 0) return Fail(ZV_E_IO, "\"" + Printable(path) + "\" is read-only");
        permissions = place.info.st_mode & 07777;
    }
    Fd fd;
    std::string temporary;
    status = MakeTemporary(place.folder.get(), place.name, permissions, path, &fd, &temporary);
    if (status <= 0) return status;
    file->fd = fd.release();
    file->mode = ZV_FILE_WRITE;
    file->path = path;
    file->target = std::move(place.host);
    file->folder = std::move(place.folder);
    file->targetName = std::move(place.name);
    file->temporary = std::move(temporary);
    file->failed = false;
    file->flushed = false;
    file->noReplace = noReplace;
    return ZV_OK;
}

}  // namespace

zvStatus OpenPath(File* file, const char* path, int32_t mode) {
    if (RemotePlace place; RemotePath(path, &place)) return OpenRemote(file, place, path, mode, false);
    if (mode == ZV_FILE_READ) return OpenForReading(file, path);
    return OpenForWriting(file, path, false);
}

zvStatus OpenNew(File* file, const char* path) {
    if (RemotePlace place; RemotePath(path, &place)) return OpenRemote(file, place, path, ZV_FILE_WRITE, true);
    return OpenForWriting(file, path, true);
}

}  // namespace zv

using zv::File;

extern "C" {

zvStatus zvFileCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<File>(out, allocator); });
}

zvStatus zvFileInit(zvHandle file, const char* path, int32_t mode) {
    ZV_ENTER(path, mode);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        if (f->fd >= 0) return ZV_E_STATE;
        if (mode != ZV_FILE_READ && mode != ZV_FILE_WRITE) return ZV_E_ARGUMENT;
        return zv::OpenPath(f, path, mode);
    });
}

zvStatus zvFileRead(zvHandle file, void* buffer, int64_t size, int64_t* done) {
    if (done != nullptr) *done = 0;
    ZV_ENTER(size);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        if (f->fd < 0 || f->mode != ZV_FILE_READ) return ZV_E_STATE;
        if (size < 0 || (buffer == nullptr && size > 0)) return ZV_E_ARGUMENT;
        return f->ReadBytes(buffer, size, done);
    });
}

zvStatus zvFileWrite(zvHandle file, const void* data, int64_t size) {
    zvStatus injected = ZV_E_FAIL;
    if (zv::Enter(__func__, &injected, size)) {
        // A write that failed, even by injection, must never be committed.
        if (File* f = zv::GetFile(file, nullptr)) f->Poison();
        return injected;
    }
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        return f->WriteBytes(data, size);
    });
}

zvStatus zvFileFlush(zvHandle file) {
    zvStatus injected = ZV_E_FAIL;
    if (zv::Enter(__func__, &injected)) {
        // Written data that could not be forced to storage is not trusted.
        if (File* f = zv::GetFile(file, nullptr); f != nullptr && f->mode == ZV_FILE_WRITE) f->Poison();
        return injected;
    }
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        if (f->fd < 0) return ZV_E_STATE;
        if (f->mode != ZV_FILE_WRITE) return ZV_OK;
        if (zv::Sys().fsync(f->fd) != 0) {
            f->Poison();
            return zv::Fail(ZV_E_IO,
                            "\"" + zv::Printable(f->path) + "\" could not be flushed: " + std::strerror(errno));
        }
        f->flushed = true;
        return ZV_OK;
    });
}

zvStatus zvFileLength(zvHandle file, int64_t* length) {
    if (length != nullptr) *length = 0;
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        if (length == nullptr) return ZV_E_ARGUMENT;
        if (f->fd < 0) return ZV_E_STATE;
        struct stat info {};
        if (zv::Sys().fstat(f->fd, &info) != 0) return ZV_E_IO;
        *length = info.st_size;
        return ZV_OK;
    });
}

zvStatus zvFileDestroy(zvHandle file) {
    ZV_ENTER();
    return zv::Guard([&] {
        if (file == nullptr) return ZV_OK;
        zvStatus status = ZV_OK;
        File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        if (f->container != nullptr || f->sent) return ZV_E_STATE;
        status = f->Close();
        zv::Delete(f);
        return status;
    });
}

}  // extern "C"
