// Whole-file operations and folders of the file space.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "containers.hpp"
#include "files.hpp"

namespace zv {

namespace {

bool IsRegularFile(const std::string& host) {
    struct stat info {};
    return ::stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& host) {
    struct stat info {};
    return ::stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Listings sort as the station's disk does: without regard to case, ties
// broken by byte order so the order is stable.
bool NameBefore(const std::string& a, const std::string& b) {
    const int c = ::strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

zvStatus List(const char* folder, zvHandle names, bool folders) {
    zvStatus status = ZV_OK;
    auto* list = Get<ArrayList>(names, ZV_TYPE_ARRAYLIST, &status);
    if (list == nullptr) return status;
    if (!list->initialised || list->itemType != ZV_TYPE_STRING) return ZV_E_TYPE;
    if (!list->owning()) return ZV_E_ARGUMENT;  // the strings would have no owner
    std::string host;
    status = ResolvePath(folder, &host);
    if (status <= 0) return status;
    DIR* dir = ::opendir(host.c_str());
    if (dir == nullptr) return errno == ENOENT || errno == ENOTDIR ? ZV_E_NOTFOUND : ZV_E_IO;
    std::vector<std::string> found;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || IsTemporaryName(name)) continue;
        const std::string path = host + "/" + name;
        if (folders ? IsFolder(path) : IsRegularFile(path)) found.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), NameBefore);

    // All or nothing: room first, then the strings, then the items.
    if (!list->Reserve(int64_t{list->count} + static_cast<int64_t>(found.size()))) return ZV_E_NOMEM;
    std::vector<String*> made;
    made.reserve(found.size());
    for (const std::string& name : found) {
        auto* s = new (std::nothrow) String;
        bool madeOk = s != nullptr && s->Assign(name.data(), static_cast<int64_t>(name.size()));
        if (s != nullptr && !madeOk) delete s;
        // Register deletes what it refuses.
        if (madeOk && Register(s, nullptr) == nullptr) madeOk = false;
        if (!madeOk) {
            for (String* m : made) Delete(m);
            return ZV_E_NOMEM;
        }
        made.push_back(s);
    }
    for (String* s : made) {
        zvHandle h = ToHandle(s);
        std::memcpy(list->item(list->count), &h, sizeof h);
        list->count++;
        Adopt(list, s);
    }
    return ZV_OK;
}

zvStatus MakeFolders(const std::string& root, const std::string& host) {
    // Create each missing folder from the root down.
    size_t at = root.size();
    while (at < host.size()) {
        size_t next = host.find('/', at + 1);
        if (next == std::string::npos) next = host.size();
        const std::string part = host.substr(0, next);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return ZV_E_IO;
        if (!IsFolder(part)) return ZV_E_IO;  // a file of that name is in the way
        at = next;
    }
    return ZV_OK;
}

}  // namespace

}  // namespace zv

extern "C" {

int32_t zvFileExists(const char* path) {
    ZV_ENTER_OR(0, path);
    try {
        std::string host;
        if (zv::ResolvePath(path, &host) <= 0) return 0;
        return zv::IsRegularFile(host) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

zvStatus zvFileCopy(const char* from, const char* to, int32_t overwrite) {
    ZV_ENTER(from, to, overwrite);
    return zv::Guard([&] {
        std::string source;
        std::string destination;
        zvStatus status = zv::ResolvePath(from, &source);
        if (status <= 0) return status;
        status = zv::ResolvePath(to, &destination);
        if (status <= 0) return status;
        if (!zv::IsRegularFile(source)) return ZV_E_NOTFOUND;
        struct stat info {};
        if (::stat(destination.c_str(), &info) == 0) {
            if (!S_ISREG(info.st_mode)) return ZV_E_IO;
            if (overwrite == 0) return ZV_E_STATE;
        }
        zv::File in;
        zv::File out;
        status = zv::OpenFile(&in, source, ZV_FILE_READ);
        if (status <= 0) return status;
        status = zv::OpenFile(&out, destination, ZV_FILE_WRITE);
        if (status <= 0) return status;
        // The copy goes through a temporary file like any write: a failure
        // half-way leaves the old destination.
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(in.fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                out.Poison();
                out.Close();
                return ZV_E_IO;
            }
            if (n == 0) break;
            status = out.WriteBytes(chunk, n);
            if (status <= 0) {
                out.Close();
                return status;
            }
        }
        return out.Close();
    });
}

zvStatus zvFileDelete(const char* path) {
    ZV_ENTER(path);
    return zv::Guard([&] {
        std::string host;
        zvStatus status = zv::ResolvePath(path, &host);
        if (status <= 0) return status;
        struct stat info {};
        if (::lstat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return ZV_E_NOTFOUND;
        if (S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0) return ZV_E_IO;  // read-only
        if (::unlink(host.c_str()) != 0) return errno == ENOENT ? ZV_E_NOTFOUND : ZV_E_IO;
        return ZV_OK;
    });
}

zvStatus zvDirectoryGetFiles(const char* folder, zvHandle names) {
    ZV_ENTER(folder);
    return zv::Guard([&] { return zv::List(folder, names, false); });
}

zvStatus zvDirectoryGetDirectories(const char* folder, zvHandle names) {
    ZV_ENTER(folder);
    return zv::Guard([&] { return zv::List(folder, names, true); });
}

zvStatus zvDirectoryCreate(const char* folder) {
    ZV_ENTER(folder);
    return zv::Guard([&] {
        std::string host;
        zvStatus status = zv::ResolvePath(folder, &host);
        if (status <= 0) return status;
        if (zv::IsFolder(host)) return ZV_OK;
        return zv::MakeFolders(zv::FileSpaceRoot(), host);
    });
}

}  // extern "C"
