// Files of folders another machine serves: fetched whole into an anonymous
// memory file when opened for reading, and written into one and sent whole
// when closed, so that the file object reads and writes as it does on disk.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "commits.hpp"
#include "files.hpp"
#include "remote.hpp"

namespace zv {

namespace files {
RemoteFolders::~RemoteFolders() = default;
}  // namespace files

namespace {

std::atomic<files::RemoteFolders*> g_remote{nullptr};

// The reason of a failed remote call, as the platform keeps reasons.
zvStatus Failed(zvStatus status, const std::string& path, const std::string& why) {
    return Fail(status <= 0 ? status : ZV_E_IO, "\"" + Printable(path) + "\": " + (why.empty() ? "failed" : why));
}

}  // namespace

bool RemotePath(const char* path, RemotePlace* out) {
    files::RemoteFolders* folders = g_remote.load(std::memory_order_acquire);
    if (folders == nullptr || path == nullptr) return false;
    std::string text = path;
    if (text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]))) text.erase(0, 2);
    std::vector<std::string> names;
    std::string name;
    auto take = [&]() -> bool {
        if (name == "..") {
            if (names.empty()) return false;  // leaves the space: the file space refuses it
            names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        name.clear();
        return true;
    };
    for (char c : text) {
        if (c != '/' && c != '\\') {
            name += c;
            continue;
        }
        if (!take()) return false;
    }
    if (!take() || names.empty() || !folders->Serves(names.front())) return false;
    out->folders = folders;
    out->folder = names.front();
    out->path.clear();
    for (size_t i = 1; i < names.size(); ++i) out->path += (i > 1 ? "/" : "") + names[i];
    return true;
}

zvStatus OpenRemote(File* file, const RemotePlace& place, const char* path, int32_t mode, bool noReplace) {
    std::string why;
    int kind = 0;
    int64_t size = 0;
    zvStatus status = ZV_OK;
    std::string bytes;
    if (mode == ZV_FILE_READ) {
        status = place.folders->Read(place.folder, place.path, &bytes, &why);
        if (status == ZV_E_NOTFOUND) return ZV_E_NOTFOUND;
        if (status <= 0) return Failed(status, path, why);
    } else {
        if (place.path.empty()) return Fail(ZV_E_IO, "\"" + Printable(path) + "\" is a folder");
        status = place.folders->Stat(place.folder, place.path, &kind, &size, &why);
        if (status <= 0) return Failed(status, path, why);
        if (kind == 2) return Fail(ZV_E_IO, "\"" + Printable(path) + "\" is a folder");
        if (kind == 3) return Fail(ZV_E_UNSUPPORTED, "\"" + Printable(path) + "\" is not a plain file");
    }
    Fd fd(::memfd_create("zvremote", MFD_CLOEXEC));
    if (!fd) return Fail(ZV_E_IO, "\"" + Printable(path) + "\" cannot be held: " + std::strerror(errno));
    if (mode == ZV_FILE_READ) {
        if (!WriteFully(fd.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int64_t>(bytes.size())) ||
            ::lseek(fd.get(), 0, SEEK_SET) != 0)
            return Fail(ZV_E_IO, "\"" + Printable(path) + "\" cannot be held: " + std::strerror(errno));
    }
    file->fd = fd.release();
    file->mode = mode;
    file->path = path;
    file->target = FileSpaceRoot() + "/" + place.folder + (place.path.empty() ? "" : "/" + place.path);
    file->bytesRead = 0;
    file->failed = false;
    file->flushed = false;
    file->noReplace = noReplace;
    file->remote = true;
    file->remoteFolder = place.folder;
    file->remotePath = place.path;
    file->remoteExisted = kind == 1;
    return ZV_OK;
}

zvStatus CloseRemote(File* file) {
    const int fd = std::exchange(file->fd, -1);
    std::string bytes;
    bool read = !file->failed;
    struct stat info {};
    if (read && ::fstat(fd, &info) == 0) {
        bytes.resize(static_cast<size_t>(info.st_size));
        int64_t done = 0;
        while (done < info.st_size) {
            const ssize_t n = ::pread(fd, bytes.data() + done, static_cast<size_t>(info.st_size - done), done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                read = false;
                break;
            }
            done += n;
        }
    } else {
        read = false;
    }
    ::close(fd);
    if (file->failed) return ZV_E_IO;
    if (!read) return Fail(ZV_E_IO, "\"" + Printable(file->path) + "\" could not be written");
    files::RemoteFolders* folders = g_remote.load(std::memory_order_acquire);
    if (folders == nullptr) return Fail(ZV_E_IO, "\"" + Printable(file->path) + "\": its server is no longer reached");
    std::string why;
    if (file->noReplace) {
        int kind = 0;
        int64_t size = 0;
        const zvStatus status = folders->Stat(file->remoteFolder, file->remotePath, &kind, &size, &why);
        if (status <= 0) return Failed(status, file->path, why);
        if (kind != 0) return Fail(ZV_E_STATE, "\"" + Printable(file->path) + "\" exists already");
    }
    const zvStatus status = folders->Write(file->remoteFolder, file->remotePath, bytes, &why);
    if (status <= 0) return Failed(status, file->path, why);
    NoteCommit(file->target, file->remoteExisted ? files::Commit::Change::Written : files::Commit::Change::Created,
               static_cast<int64_t>(bytes.size()));
    return ZV_OK;
}

zvStatus RemoteFileSize(const RemotePlace& place, const char* path, int64_t* size) {
    std::string why;
    int kind = 0;
    const zvStatus status = place.folders->Stat(place.folder, place.path, &kind, size, &why);
    if (status <= 0) return Failed(status, path, why);
    if (kind != 1) {
        *size = 0;
        return ZV_E_NOTFOUND;
    }
    return ZV_OK;
}

zvStatus RemoteDelete(const RemotePlace& place, const char* path) {
    int64_t size = 0;
    zvStatus status = RemoteFileSize(place, path, &size);
    if (status <= 0) return status;
    std::string why;
    status = place.folders->Delete(place.folder, place.path, &why);
    if (status == ZV_E_NOTFOUND) return status;
    if (status <= 0) return Failed(status, path, why);
    NoteCommit(FileSpaceRoot() + "/" + place.folder + "/" + place.path, files::Commit::Change::Deleted, -1);
    return ZV_OK;
}

}  // namespace zv

namespace zv::files {

void SetRemoteFolders(RemoteFolders* folders) { g_remote.store(folders, std::memory_order_release); }

}  // namespace zv::files
