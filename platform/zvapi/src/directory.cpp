// Whole-file operations and folders of the file space, all through the
// file space's resolution.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "commits.hpp"
#include "containers.hpp"
#include "files.hpp"
#include "remote.hpp"

namespace zv {

// The folder `path` names, open; ZV_E_NOTFOUND when it is none.
zvStatus OpenFolder(const char* path, Fd* out) {
    Place place;
    zvStatus status = Resolve(path, Follow::kAll, &place);
    if (status <= 0) return status;
    if (!place.exists || !S_ISDIR(place.info.st_mode)) return ZV_E_NOTFOUND;
    if (place.IsRoot()) {
        *out = std::move(place.folder);
        return ZV_OK;
    }
    Fd dir(Sys().openat(place.folder.get(), place.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
    if (!dir) return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? ZV_E_NOTFOUND : ZV_E_IO;
    *out = std::move(dir);
    return ZV_OK;
}

namespace {

// Listings sort as the station's disk does: without regard to case, ties
// broken by byte order so the order is stable.
bool NameBefore(const std::string& a, const std::string& b) {
    const int c = ::strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

// Whether entry `name` of `dir` is a file (or a folder): a link counts as
// what it leads to, so that a walk can meet a link that leads out of the
// space and be refused when it follows it.
bool IsKind(int dir, const DirEntry& entry, bool folders) {
    const unsigned char type = entry.type;
    struct stat info {};
    if (type == DT_UNKNOWN || type == DT_LNK) {
        if (Sys().fstatat(dir, entry.name.c_str(), &info, 0) != 0) return false;
        return folders ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
    }
    return folders ? type == DT_DIR : type == DT_REG;
}

zvStatus List(const char* folder, zvHandle names, bool folders) {
    zvStatus status = ZV_OK;
    auto* list = Get<ArrayList>(names, ZV_TYPE_ARRAYLIST, &status);
    if (list == nullptr) return status;
    if (!list->initialised || list->itemType != ZV_TYPE_STRING) return ZV_E_TYPE;
    if (!list->owning()) return ZV_E_ARGUMENT;  // the strings would have no owner
    std::vector<std::string> found;
    if (RemotePlace place; RemotePath(folder, &place)) {
        std::vector<files::RemoteFolders::Entry> entries;
        std::string why;
        status = place.folders->List(place.folder, place.path, &entries, &why);
        if (status == ZV_E_NOTFOUND) return status;
        if (status <= 0) return Fail(status, "the folder \"" + Printable(folder) + "\": " + why);
        for (const auto& entry : entries)
            if (entry.folder == folders && !IsTemporaryName(entry.name.c_str())) found.push_back(entry.name);
    } else {
        Fd dir;
        status = OpenFolder(folder, &dir);
        if (status <= 0) return status;
        std::vector<DirEntry> entries;
        if (!ReadFolder(dir.get(), &entries))
            return Fail(ZV_E_IO, "the folder \"" + Printable(folder) + "\" cannot be read: " + std::strerror(errno));
        for (const DirEntry& entry : entries) {
            if (IsTemporaryName(entry.name.c_str())) continue;
            if (IsKind(dir.get(), entry, folders)) found.push_back(entry.name);
        }
    }
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

// Makes folder `name` in `dir` unless it is there, and opens it.
zvStatus MakeFolder(int dir, const std::string& name, Fd* out) {
    if (Sys().mkdirat(dir, name.c_str(), 0755) != 0 && errno != EEXIST)
        return Fail(ZV_E_IO, "the folder \"" + Printable(name) + "\" cannot be made: " + std::strerror(errno));
    Fd made(Sys().openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
    if (!made) return Fail(ZV_E_IO, "a file of the name \"" + Printable(name) + "\" is in the way of a folder");
    *out = std::move(made);
    return ZV_OK;
}

}  // namespace

}  // namespace zv

extern "C" {

int32_t zvFileExists(const char* path) {
    ZV_ENTER_OR(0, path);
    try {
        if (zv::RemotePlace remote; zv::RemotePath(path, &remote)) {
            int kind = 0;
            int64_t size = 0;
            std::string why;
            return remote.folders->Stat(remote.folder, remote.path, &kind, &size, &why) > 0 && kind == 1 ? 1 : 0;
        }
        zv::Place place;
        if (zv::Resolve(path, zv::Follow::kAll, &place) <= 0) return 0;
        return place.exists && S_ISREG(place.info.st_mode) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

zvStatus zvFileCopy(const char* from, const char* to, int32_t overwrite) {
    ZV_ENTER(from, to, overwrite);
    return zv::Guard([&] {
        zv::File in;
        zvStatus status = zv::OpenPath(&in, from, ZV_FILE_READ);
        if (status <= 0) return status;
        zv::RemotePlace remote;
        if (overwrite == 0 && !zv::RemotePath(to, &remote)) {
            zv::Place existing;
            status = zv::Resolve(to, zv::Follow::kAll, &existing);
            if (status <= 0) return status;
            if (existing.exists && S_ISREG(existing.info.st_mode)) return ZV_E_STATE;
        }
        // Without overwrite the copy is made only where nothing is, also
        // when something came there while it was copied.
        zv::File out;
        status = overwrite != 0 ? zv::OpenPath(&out, to, ZV_FILE_WRITE) : zv::OpenNew(&out, to);
        if (status <= 0) return status;
        // The copy goes through a temporary file like any write: a failure
        // half-way leaves the old destination.
        char chunk[65536];
        for (;;) {
            int64_t n = 0;
            status = in.ReadBytes(chunk, sizeof chunk, &n);
            if (status <= 0) {
                out.Poison();
                out.Close();
                return status;
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
        if (zv::RemotePlace remote; zv::RemotePath(path, &remote)) {
            std::string why;
            if (remote.path.empty()) return ZV_E_NOTFOUND;
            const zvStatus status = remote.folders->Delete(remote.folder, remote.path, &why);
            if (status == ZV_E_NOTFOUND) return status;
            if (status <= 0) return zv::Fail(status, "\"" + zv::Printable(path) + "\": " + why);
            zv::NoteCommit(zv::FileSpaceRoot() + "/" + remote.folder + "/" + remote.path,
                           zv::files::Commit::Change::Deleted, -1);
            return ZV_OK;
        }
        zv::Place place;
        zvStatus status = zv::Resolve(path, zv::Follow::kNotLast, &place);
        if (status <= 0) return status;
        if (!place.exists || place.IsRoot() || S_ISDIR(place.info.st_mode)) return ZV_E_NOTFOUND;
        if (S_ISREG(place.info.st_mode) && (place.info.st_mode & 0222) == 0)
            return zv::Fail(ZV_E_IO, "\"" + zv::Printable(path) + "\" is read-only");
        if (zv::Sys().unlinkat(place.folder.get(), place.name.c_str(), 0) != 0)
            return errno == ENOENT ? ZV_E_NOTFOUND : ZV_E_IO;
        zv::NoteCommit(place.host, zv::files::Commit::Change::Deleted, -1);
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
        if (zv::RemotePlace remote; zv::RemotePath(folder, &remote)) {
            if (remote.path.empty()) return ZV_OK;  // the server's folder is there
            std::string why;
            const zvStatus status = remote.folders->MakeFolder(remote.folder, remote.path, &why);
            if (status <= 0) return zv::Fail(status, "the folder \"" + zv::Printable(folder) + "\": " + why);
            return ZV_OK;
        }
        zv::Place place;
        zvStatus status = zv::Resolve(folder, zv::Follow::kAll, &place);
        // The one way to not find the place: a file where a folder would be.
        if (status == ZV_E_NOTFOUND)
            return zv::Fail(ZV_E_IO, "a file is in the way of the folder \"" + zv::Printable(folder) + "\"");
        if (status <= 0) return status;
        if (place.exists) {
            if (S_ISDIR(place.info.st_mode)) return ZV_OK;
            return zv::Fail(ZV_E_IO, "a file is in the way of the folder \"" + zv::Printable(folder) + "\"");
        }
        // Each missing folder from the deepest one there down.
        zv::Fd made;
        status = zv::MakeFolder(place.folder.get(), place.name, &made);
        for (const std::string& name : place.rest) {
            if (status <= 0) break;
            zv::Fd next;
            status = zv::MakeFolder(made.get(), name, &next);
            made = std::move(next);
        }
        return status;
    });
}

}  // extern "C"
