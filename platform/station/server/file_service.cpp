#include "file_service.hpp"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "zvapi/zvapi.h"
#include "zvstation/net/keys.hpp"

namespace zv::station {

namespace {

// The platform's reason for the last failure, or `fallback`.
std::string Reason(const std::string& what, zvStatus status) {
    std::string reason = zvLastErrorText();
    if (reason.empty()) {
        switch (status) {
            case ZV_E_NOTFOUND: reason = "there is no such file or folder"; break;
            case ZV_E_ACCESS: reason = "the path leaves the server's folder"; break;
            case ZV_E_RANGE: reason = "the path is too long"; break;
            case ZV_E_UNSUPPORTED: reason = "it is no plain file"; break;
            case ZV_E_IO: reason = "the system refused it"; break;
            default: reason = "status " + std::to_string(status); break;
        }
    }
    return what + ": " + reason;
}

// Owns a platform file object.
struct File {
    zvHandle handle = nullptr;
    ~File() {
        if (handle != nullptr) zvFileDestroy(handle);
    }
    zvStatus Close() {
        const zvStatus status = zvFileDestroy(handle);
        handle = nullptr;
        return status;
    }
};

// Owns a list of strings.
struct Names {
    zvHandle list = nullptr;
    Names() {
        if (zvArrayListCreate(&list, nullptr) > 0) zvArrayListInit(list, ZV_TYPE_STRING, 0, 0);
    }
    ~Names() { zvArrayListDestroy(list); }
    std::vector<std::string> Items() const {
        std::vector<std::string> out;
        for (int32_t i = 0; i < zvArrayListCount(list); ++i) {
            const auto* item = static_cast<const zvHandle*>(zvArrayListAt(list, i));
            const char* text = item != nullptr ? zvStringChars(*item) : nullptr;
            if (text != nullptr) out.emplace_back(text);
        }
        return out;
    }
};

// A file of the storage is named by a plain name: "\\<name>".
zvStatus StoragePath(const std::string& name, std::string* path, std::string* why) {
    if (!name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string::npos &&
        name.find('\0') == std::string::npos) {
        *path = "\\" + name;
        return ZV_OK;
    }
    *why = "\"" + name.substr(0, 200) + "\" is no plain file name of the storage";
    return name.empty() ? ZV_E_ARGUMENT : ZV_E_ACCESS;
}

}  // namespace

FileService::FileService(std::filesystem::path root) : root_(std::move(root)) {
    std::error_code ec;
    keys_ = std::filesystem::weakly_canonical(root_ / net::kKeysFolder, ec);
}

zvStatus FileService::Allowed(const std::string& path, std::string* why) const {
    if (path.find('\0') != std::string::npos) {
        *why = "a path with a NUL character";
        return ZV_E_ARGUMENT;
    }
    char resolved[4096] = {};
    zvLastErrorClear();
    const zvStatus status = zvFileSpaceResolve(path.c_str(), resolved, sizeof resolved);
    if (status <= 0) {
        *why = Reason(path, status);
        return status;
    }
    // The keys' folder, however it is named or reached (any case, a link).
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::weakly_canonical(resolved, ec);
    const std::string keys = keys_.string();
    const std::string t = target.string();
    if (!keys.empty() && t.size() >= keys.size() && strncasecmp(t.c_str(), keys.c_str(), keys.size()) == 0 &&
        (t.size() == keys.size() || t[keys.size()] == '/')) {
        *why = path + ": the server's keys are not served";
        return ZV_E_ACCESS;
    }
    return ZV_OK;
}

// Opens `path` for reading and tells its length.
zvStatus FileService::Open(const std::string& path, zvHandle* file, int64_t* length, std::string* why) const {
    zvStatus status = Allowed(path, why);
    if (status <= 0) return status;
    zvLastErrorClear();
    status = zvFileCreate(file, nullptr);
    if (status > 0) status = zvFileInit(*file, path.c_str(), ZV_FILE_READ);
    if (status > 0) status = zvFileLength(*file, length);
    if (status <= 0) *why = Reason(path, status);
    return status;
}

zvStatus FileService::Read(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) const {
    bytes->clear();
    File file;
    int64_t length = 0;
    zvStatus status = Open(path, &file.handle, &length, why);
    if (status <= 0) return status;
    if (length < 0 || static_cast<uint64_t>(length) > wire::kMaxFileBytes) {
        *why = path + ": " + std::to_string(length) + " bytes, more than a file sent whole may hold (" +
               std::to_string(wire::kMaxFileBytes) + ")";
        return ZV_E_RANGE;
    }
    // Read to its end, whatever the length said: a file that grows stops at
    // the limit.
    bytes->resize(static_cast<size_t>(length));
    size_t filled = 0;
    for (;;) {
        if (filled == bytes->size()) {
            if (bytes->size() >= wire::kMaxFileBytes) break;
            bytes->resize(std::min(wire::kMaxFileBytes, bytes->size() + 65536));
        }
        int64_t done = 0;
        status = zvFileRead(file.handle, bytes->data() + filled, static_cast<int64_t>(bytes->size() - filled), &done);
        if (status <= 0) {
            bytes->clear();
            *why = Reason(path, status);
            return status;
        }
        if (done <= 0) break;
        filled += static_cast<size_t>(done);
    }
    bytes->resize(filled);
    return ZV_OK;
}

zvStatus FileService::Write(const std::string& path, const std::vector<uint8_t>& bytes, std::string* why) const {
    zvStatus status = Allowed(path, why);
    if (status <= 0) return status;
    File file;
    zvLastErrorClear();
    status = zvFileCreate(&file.handle, nullptr);
    if (status > 0) status = zvFileInit(file.handle, path.c_str(), ZV_FILE_WRITE);
    if (status > 0 && !bytes.empty())
        status = zvFileWrite(file.handle, bytes.data(), static_cast<int64_t>(bytes.size()));
    if (status > 0) status = zvFileFlush(file.handle);
    // The file is whole on the disk only once it is closed.
    const zvStatus closed = file.Close();
    if (status > 0) status = closed;
    if (status <= 0) *why = Reason(path, status);
    return status;
}

zvStatus FileService::Delete(const std::string& path, std::string* why) const {
    zvStatus status = Allowed(path, why);
    if (status <= 0) return status;
    zvLastErrorClear();
    status = zvFileDelete(path.c_str());
    if (status <= 0) *why = Reason(path, status);
    return status;
}

zvStatus FileService::List(const std::string& path, std::vector<wire::Entry>* entries, std::string* why) const {
    entries->clear();
    zvStatus status = Allowed(path, why);
    if (status <= 0) return status;
    Names folders;
    Names files;
    zvLastErrorClear();
    status = zvDirectoryGetDirectories(path.c_str(), folders.list);
    if (status > 0) status = zvDirectoryGetFiles(path.c_str(), files.list);
    if (status <= 0) {
        *why = Reason(path, status);
        return status;
    }
    const std::string base = path.empty() || path.back() == '\\' || path.back() == '/' ? path : path + "\\";
    for (const std::string& name : folders.Items()) {
        std::string ignored;
        if (Allowed(base + name, &ignored) <= 0) continue;  // the keys' folder is not shown
        entries->push_back({name, true, 0});
        if (entries->size() >= wire::kMaxEntries) break;
    }
    for (const std::string& name : files.Items()) {
        if (entries->size() >= wire::kMaxEntries) break;
        wire::StatKind kind = wire::StatKind::None;
        int64_t size = 0;
        std::string ignored;
        Stat(base + name, &kind, &size, &ignored);
        entries->push_back({name, false, size});
    }
    return ZV_OK;
}

zvStatus FileService::Stat(const std::string& path, wire::StatKind* kind, int64_t* size, std::string* why) const {
    *kind = wire::StatKind::None;
    *size = 0;
    const zvStatus status = Allowed(path, why);
    if (status == ZV_E_NOTFOUND) return ZV_OK;  // nothing there: that is the answer
    if (status <= 0) return status;
    char resolved[4096] = {};
    if (zvFileSpaceResolve(path.c_str(), resolved, sizeof resolved) <= 0) return ZV_OK;
    struct stat info {};
    if (::stat(resolved, &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ZV_OK;
        *why = path + ": " + std::strerror(errno);
        return ZV_E_IO;
    }
    if (S_ISREG(info.st_mode)) {
        *kind = wire::StatKind::File;
        *size = static_cast<int64_t>(info.st_size);
    } else if (S_ISDIR(info.st_mode)) {
        *kind = wire::StatKind::Folder;
    } else {
        *kind = wire::StatKind::Other;
    }
    return ZV_OK;
}

zvStatus FileService::MakeFolder(const std::string& path, std::string* why) const {
    zvStatus status = Allowed(path, why);
    if (status <= 0) return status;
    zvLastErrorClear();
    status = zvDirectoryCreate(path.c_str());
    if (status <= 0) *why = Reason(path, status);
    return status;
}

zvStatus FileService::StorageDelete(const std::string& name, std::string* why) const {
    std::string path;
    const zvStatus status = StoragePath(name, &path, why);
    return status <= 0 ? status : Delete(path, why);
}

zvStatus FileService::StorageSize(const std::string& name, int64_t* size, std::string* why) const {
    *size = 0;
    std::string path;
    File file;
    zvStatus status = StoragePath(name, &path, why);
    if (status > 0) status = Open(path, &file.handle, size, why);
    if (status <= 0) *size = 0;
    return status;
}

}  // namespace zv::station
