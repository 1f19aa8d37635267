// File objects. Writing goes to a temporary file beside the target, renamed
// over it when the file is closed, so that readers only ever see a whole
// old file or a whole new one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "files.hpp"

namespace zv {

namespace {

std::string ParentOf(const std::string& host) {
    const size_t slash = host.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return host.substr(0, slash);
}

std::string BaseOf(const std::string& host) {
    const size_t slash = host.rfind('/');
    return slash == std::string::npos ? host : host.substr(slash + 1);
}

// Makes a directory entry change (a rename) durable.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool WriteFully(int fd, const unsigned char* data, int64_t size) {
    while (size > 0) {
        const size_t chunk = size > (int64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(size);
        const ssize_t n = ::write(fd, data, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

// The name of temporary files: hidden, and recognisable so that listings
// leave them out.
bool IsTemporaryName(const char* name) {
    return name[0] == '.' && std::strstr(name, ".zvtmp.") != nullptr;
}

File::~File() { Close(); }

zvStatus File::Close() {
    if (fd < 0) return ZV_OK;
    const bool writing = mode == ZV_FILE_WRITE;
    const bool closedWell = ::close(fd) == 0;
    fd = -1;
    if (!writing) return ZV_OK;
    if (failed || !closedWell || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return ZV_E_IO;
    }
    if (flushed) SyncFolder(ParentOf(target));
    return ZV_OK;
}

zvStatus File::ReadAll(std::string* text, int64_t limit) {
    if (fd < 0 || mode != ZV_FILE_READ) return ZV_E_STATE;
    text->clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ZV_E_IO;
        }
        if (n == 0) return ZV_OK;
        if (static_cast<int64_t>(text->size()) + n > limit) return ZV_E_NOMEM;
        text->append(chunk, static_cast<size_t>(n));
    }
}

zvStatus File::WriteBytes(const void* data, int64_t size) {
    if (fd < 0 || mode != ZV_FILE_WRITE) return ZV_E_STATE;
    if (size < 0 || (data == nullptr && size > 0)) {
        Poison();
        return ZV_E_ARGUMENT;
    }
    if (!WriteFully(fd, static_cast<const unsigned char*>(data), size)) {
        Poison();
        return ZV_E_IO;
    }
    return ZV_OK;
}

namespace {

// Makes `fd`, open for reading on `host`, the file's; only a plain file
// will do (ZV_E_NOTFOUND, `fd` closed).
zvStatus TakeForReading(File* file, int fd, std::string host) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ZV_E_NOTFOUND;
    }
    file->fd = fd;
    file->mode = ZV_FILE_READ;
    file->target = std::move(host);
    return ZV_OK;
}

}  // namespace

// Opens `file` on the resolved `host` path.
zvStatus OpenFile(File* file, const std::string& host, int32_t mode) {
    if (mode == ZV_FILE_READ) {
        const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ZV_E_NOTFOUND : ZV_E_IO;
        return TakeForReading(file, fd, host);
    }
    const std::string folder = ParentOf(host);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return ZV_E_NOTFOUND;
    mode_t permissions = 0644;
    if (::stat(host.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) return ZV_E_IO;  // a folder of that name
        // A read-only file (no write bit for anyone) stays as it is, as on
        // the station's disk, whoever this process runs as.
        if ((info.st_mode & 0222) == 0) return ZV_E_IO;
        permissions = info.st_mode & 07777;
    }
    std::string temporary = folder + "/." + BaseOf(host) + ".zvtmp.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return ZV_E_IO;
    ::fchmod(fd, permissions);
    file->fd = fd;
    file->mode = mode;
    file->target = host;
    file->temporary = std::move(temporary);
    file->failed = false;
    file->flushed = false;
    return ZV_OK;
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
        std::string host;
        if (mode == ZV_FILE_READ) {
            const int fd = zv::OpenExactForReading(path, &host);
            if (fd >= 0) return zv::TakeForReading(f, fd, std::move(host));
        }
        status = zv::ResolvePath(path, &host);
        if (status <= 0) return status;
        return zv::OpenFile(f, host, mode);
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
        auto* out = static_cast<unsigned char*>(buffer);
        int64_t total = 0;
        while (total < size) {
            const int64_t left = size - total;
            const size_t chunk = left > (int64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(left);
            const ssize_t n = ::read(f->fd, out + total, chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (done != nullptr) *done = total;
                return ZV_E_IO;
            }
            if (n == 0) break;
            total += n;
        }
        if (done != nullptr) *done = total;
        return ZV_OK;
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
        if (::fsync(f->fd) != 0) {
            f->Poison();
            return ZV_E_IO;
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
        if (::fstat(f->fd, &info) != 0) return ZV_E_IO;
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
