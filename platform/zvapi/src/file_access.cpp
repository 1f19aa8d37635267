// The file space's way in for the platform's own components and the host
// (zv_file_space.hpp): whole files, folder listings, append files and the
// host's files outside the space, all on the file space's resolution and
// its system-call table.
#include "zvapi/zv_file_space.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files.hpp"
#include "remote.hpp"

namespace zv::files {

namespace {

std::string Quoted(const std::string& path) { return "\"" + Printable(path) + "\""; }

// A failure always leaves a reason naming the path, also when the step
// that failed gave none.
zvStatus Reasoned(zvStatus status, const std::string& path) {
    if (status > 0) return status;
    const char* reason = zvLastErrorText();
    if (reason != nullptr && reason[0] != '\0') return status;
    switch (status) {
        case ZV_E_NOTFOUND: return Fail(status, Quoted(path) + ": no such file or folder");
        case ZV_E_ACCESS: return Fail(status, Quoted(path) + " leads out of the file space");
        case ZV_E_RANGE: return Fail(status, Quoted(path) + ": the path is too long");
        case ZV_E_NOMEM: return Fail(status, Quoted(path) + ": out of memory");
        default: return Fail(status, Quoted(path) + ": failed (status " + std::to_string(status) + ")");
    }
}

template <class F>
zvStatus Run(const std::string& path, F&& body) {
    zvLastErrorClear();
    return Reasoned(Guard(std::forward<F>(body)), path);
}

bool NameBefore(const Entry& a, const Entry& b) {
    const int c = ::strcasecmp(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
}

// The target of temporary file `name` (".Settings.xml.zvtmp.ab12cd" is
// "Settings.xml"), or "" for a name that is none.
std::string TargetOf(const std::string& name) {
    if (!IsTemporaryName(name.c_str())) return "";
    const size_t at = name.rfind(".zvtmp.");
    return at > 1 ? name.substr(1, at - 1) : std::string();
}

}  // namespace

zvStatus ReadFile(const std::string& path, int64_t limit, std::string* text) {
    return Run(path, [&] {
        if (text == nullptr) return ZV_E_ARGUMENT;
        text->clear();
        File file;
        zvStatus status = OpenPath(&file, path.c_str(), ZV_FILE_READ);
        if (status == ZV_E_NOTFOUND) {
            // A folder in the file's place is said to be one.
            Place place;
            if (Resolve(path.c_str(), Follow::kAll, &place) > 0 && place.exists && S_ISDIR(place.info.st_mode))
                return Fail(ZV_E_UNSUPPORTED, Quoted(path) + " is a folder, not a file");
        }
        if (status <= 0) return status;
        status = file.ReadAll(text, limit);
        if (status == ZV_E_NOMEM) {
            text->clear();
            return Fail(ZV_E_RANGE,
                        Quoted(path) + " is larger than the " + std::to_string(limit) + " bytes it may hold");
        }
        return status;
    });
}

zvStatus WriteFile(const std::string& path, std::string_view bytes) {
    return Run(path, [&] {
        File file;
        zvStatus status = OpenPath(&file, path.c_str(), ZV_FILE_WRITE);
        if (status <= 0) return status;
        status = file.WriteBytes(bytes.data(), static_cast<int64_t>(bytes.size()));
        if (status > 0 && Sys().fsync(file.fd) != 0) {
            status = Fail(ZV_E_IO, Quoted(path) + " could not be forced to storage: " + std::strerror(errno));
            file.Poison();
        }
        file.flushed = true;
        const zvStatus closed = file.Close();
        return status > 0 ? closed : status;
    });
}

namespace {

// Opens `folder` and reads its names; `dir` stays open for the calls made
// relative to it.
zvStatus OpenAndReadFolder(const std::string& folder, Fd* dir, std::vector<DirEntry>* found) {
    zvStatus status = OpenFolder(folder.c_str(), dir);
    if (status <= 0) return status;
    if (!ReadFolder(dir->get(), found))
        return Fail(ZV_E_IO, "the folder " + Quoted(folder) + " cannot be read: " + std::strerror(errno));
    return ZV_OK;
}

}  // namespace

zvStatus ListFolder(const std::string& folder, std::vector<Entry>* entries) {
    return Run(folder, [&] {
        if (entries == nullptr) return ZV_E_ARGUMENT;
        entries->clear();
        if (RemotePlace remote; RemotePath(folder.c_str(), &remote)) {
            std::vector<RemoteFolders::Entry> found;
            std::string why;
            const zvStatus status = remote.folders->List(remote.folder, remote.path, &found, &why);
            if (status == ZV_E_NOTFOUND) return status;
            if (status <= 0) return Fail(status, "the folder " + Quoted(folder) + ": " + why);
            for (const RemoteFolders::Entry& e : found) {
                if (IsTemporaryName(e.name.c_str())) continue;
                Entry entry;
                entry.name = e.name;
                entry.kind = e.folder ? Entry::Kind::kFolder : Entry::Kind::kFile;
                entry.size = e.size;
                entries->push_back(std::move(entry));
            }
            std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) {
                const int c = ::strcasecmp(a.name.c_str(), b.name.c_str());
                return c != 0 ? c < 0 : a.name < b.name;
            });
            return ZV_OK;
        }
        Fd dir;
        std::vector<DirEntry> found;
        zvStatus status = OpenAndReadFolder(folder, &dir, &found);
        if (status <= 0) return status;
        for (const DirEntry& d : found) {
            if (IsTemporaryName(d.name.c_str())) continue;
            struct stat info {};
            if (Sys().fstatat(dir.get(), d.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone since
            Entry e;
            e.name = d.name;
            e.kind = S_ISREG(info.st_mode)   ? Entry::Kind::kFile
                     : S_ISDIR(info.st_mode) ? Entry::Kind::kFolder
                     : S_ISLNK(info.st_mode) ? Entry::Kind::kLink
                                             : Entry::Kind::kOther;
            e.size = static_cast<int64_t>(info.st_size);
            e.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            e.inode = static_cast<uint64_t>(info.st_ino);
            entries->push_back(std::move(e));
        }
        std::sort(entries->begin(), entries->end(), NameBefore);
        return ZV_OK;
    });
}

zvStatus MakeNewFolder(const std::string& path) {
    return Run(path, [&] {
        if (RemotePlace remote; RemotePath(path.c_str(), &remote)) {
            int kind = 0;
            int64_t size = 0;
            std::string why;
            zvStatus status = remote.folders->Stat(remote.folder, remote.path, &kind, &size, &why);
            if (status > 0 && kind != 0) return Fail(ZV_E_STATE, Quoted(path) + " exists already");
            if (status > 0) status = remote.folders->MakeFolder(remote.folder, remote.path, &why);
            return status > 0 ? ZV_OK : Fail(status, Quoted(path) + ": " + why);
        }
        Place place;
        zvStatus status = Resolve(path.c_str(), Follow::kNotLast, &place);
        if (status <= 0) return status;
        if (!place.rest.empty()) return ZV_E_NOTFOUND;  // the folder above must exist
        if (place.exists || place.IsRoot()) return Fail(ZV_E_STATE, Quoted(path) + " exists already");
        if (Sys().mkdirat(place.folder.get(), place.name.c_str(), 0755) == 0) return ZV_OK;
        if (errno == EEXIST) return Fail(ZV_E_STATE, Quoted(path) + " exists already");
        return Fail(ZV_E_IO, "the folder " + Quoted(path) + " cannot be made: " + std::strerror(errno));
    });
}

zvStatus RemoveEmptyFolder(const std::string& path) {
    return Run(path, [&] {
        Place place;
        zvStatus status = Resolve(path.c_str(), Follow::kNotLast, &place);
        if (status <= 0) return status;
        if (!place.exists || place.IsRoot() || !S_ISDIR(place.info.st_mode)) return ZV_E_NOTFOUND;
        if (Sys().unlinkat(place.folder.get(), place.name.c_str(), AT_REMOVEDIR) == 0) return ZV_OK;
        if (errno == ENOTEMPTY || errno == EEXIST) return Fail(ZV_E_STATE, Quoted(path) + " is not empty");
        return Fail(ZV_E_IO, Quoted(path) + " cannot be removed: " + std::strerror(errno));
    });
}

zvStatus Orphans(const std::string& folder, std::vector<Orphan>* orphans) {
    return Run(folder, [&] {
        if (orphans == nullptr) return ZV_E_ARGUMENT;
        orphans->clear();
        Fd dir;
        std::vector<DirEntry> found;
        zvStatus status = OpenAndReadFolder(folder, &dir, &found);
        if (status <= 0) return status;
        for (const DirEntry& d : found) {
            const std::string target = TargetOf(d.name);
            if (target.empty()) continue;
            Fd probe(
                Sys().openat(dir.get(), d.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
            if (!probe) continue;
            struct stat info {};
            if (Sys().fstat(probe.get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            if (Sys().flock(probe.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its writer lives
            orphans->push_back({d.name, target});
        }
        std::sort(orphans->begin(), orphans->end(),
                  [](const Orphan& a, const Orphan& b) { return a.target < b.target; });
        return ZV_OK;
    });
}

// ---- Append files ------------------------------------------------------------------

AppendFile::~AppendFile() { CloseFile(); }

void AppendFile::CloseFile() {
    if (fd_ >= 0) Sys().close(fd_);
    if (folder_ >= 0) Sys().close(folder_);
    fd_ = folder_ = -1;
}

zvStatus AppendFile::Create(const std::string& path) {
    return Run(path, [&] {
        if (fd_ >= 0) return ZV_E_STATE;
        Place place;
        zvStatus status = Resolve(path.c_str(), Follow::kNotLast, &place);
        if (status <= 0) return status;
        if (!place.rest.empty()) return ZV_E_NOTFOUND;  // its folder must exist
        if (place.IsRoot() || place.exists) return Fail(ZV_E_STATE, Quoted(path) + " exists already");
        Fd fd;
        std::string temporary;
        status = MakeTemporary(place.folder.get(), place.name, 0644, path, &fd, &temporary);
        if (status <= 0) return status;
        fd_ = fd.release();
        folder_ = place.folder.release();
        path_ = path;
        target_ = place.name;
        temporary_ = std::move(temporary);
        size_ = 0;
        failed_ = adopted_ = false;
        return ZV_OK;
    });
}

zvStatus AppendFile::Adopt(const std::string& folder, const std::string& temporary, const std::string& named) {
    return Run(folder + "/" + temporary, [&] {
        if (fd_ >= 0) return ZV_E_STATE;
        const std::string target = named.empty() ? TargetOf(temporary) : named;
        const auto plain = [](const std::string& name) {
            return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
                   name.find('\\') == std::string::npos;
        };
        if (!plain(target) || !plain(temporary)) return ZV_E_ARGUMENT;
        Fd dir;
        zvStatus status = OpenFolder(folder.c_str(), &dir);
        if (status <= 0) return status;
        Fd fd(Sys().openat(dir.get(), temporary.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
        if (!fd) {
            if (errno == ENOENT) return ZV_E_NOTFOUND;
            return Fail(ZV_E_IO, Quoted(temporary) + " cannot be opened: " + std::strerror(errno));
        }
        struct stat info {};
        if (Sys().fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
            return Fail(ZV_E_UNSUPPORTED, Quoted(temporary) + " is not a plain file");
        if (Sys().flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            return Fail(ZV_E_STATE, Quoted(temporary) + " is still being written");
        fd_ = fd.release();
        folder_ = dir.release();
        path_ = folder + "/" + target;
        target_ = target;
        temporary_ = temporary;
        size_ = static_cast<int64_t>(info.st_size);
        failed_ = false;
        adopted_ = true;
        return ZV_OK;
    });
}

zvStatus AppendFile::Append(std::string_view bytes) {
    if (fd_ < 0 || adopted_ || failed_) return ZV_E_STATE;
    if (WriteFully(fd_, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int64_t>(bytes.size()))) {
        size_ += static_cast<int64_t>(bytes.size());
        return ZV_OK;
    }
    const int error = errno;
    failed_ = true;
    // What was written of these bytes goes again; should even that fail,
    // readers know a piece that ends short by its missing end.
    Sys().ftruncate(fd_, size_);
    return Fail(ZV_E_IO, Quoted(path_) + " could not be written: " + std::strerror(error));
}

zvStatus AppendFile::Sync() {
    if (fd_ < 0) return ZV_E_STATE;
    if (Sys().fsync(fd_) == 0) return ZV_OK;
    failed_ = true;
    return Fail(ZV_E_IO, Quoted(path_) + " could not be forced to storage: " + std::strerror(errno));
}

zvStatus AppendFile::ReadAt(int64_t offset, void* buffer, int64_t size, int64_t* done) {
    if (done != nullptr) *done = 0;
    if (fd_ < 0 || !adopted_) return ZV_E_STATE;
    if (offset < 0 || size < 0 || (buffer == nullptr && size > 0)) return ZV_E_ARGUMENT;
    auto* out = static_cast<unsigned char*>(buffer);
    int64_t total = 0;
    while (total < size) {
        const ssize_t n = Sys().pread(fd_, out + total, static_cast<size_t>(size - total), offset + total);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(ZV_E_IO, Quoted(path_) + " could not be read: " + std::strerror(errno));
        }
        if (n == 0) break;
        total += n;
    }
    if (done != nullptr) *done = total;
    return ZV_OK;
}

zvStatus AppendFile::Truncate(int64_t size) {
    if (fd_ < 0 || size < 0 || size > size_) return fd_ < 0 ? ZV_E_STATE : ZV_E_ARGUMENT;
    if (Sys().ftruncate(fd_, size) != 0)
        return Fail(ZV_E_IO, Quoted(path_) + " could not be cut: " + std::strerror(errno));
    size_ = size;
    return ZV_OK;
}

zvStatus AppendFile::Commit() {
    if (fd_ < 0) return ZV_E_STATE;
    zvLastErrorClear();
    const bool synced = Sys().fsync(fd_) == 0;
    const int syncError = errno;
    // The lock stays with the descriptor until the file has its name, so
    // that no sweep takes it in between.
    const int renamed = Sys().renameat(folder_, temporary_.c_str(), folder_, target_.c_str(), RENAME_NOREPLACE);
    const int renameError = errno;
    if (renamed == 0) Sys().fsync(folder_);
    CloseFile();
    if (renamed != 0) {
        if (renameError == EEXIST) return Fail(ZV_E_STATE, Quoted(path_) + " exists already");
        return Fail(ZV_E_IO, Quoted(path_) + " could not be given its name: " + std::strerror(renameError));
    }
    if (!synced) return Fail(ZV_E_IO, Quoted(path_) + " could not be forced to storage: " + std::strerror(syncError));
    return ZV_OK;
}

void AppendFile::Abandon() {
    if (fd_ < 0) return;
    Sys().unlinkat(folder_, temporary_.c_str(), 0);
    CloseFile();
}

// ---- Files outside the file space -----------------------------------------------------

zvStatus WriteOutsideFile(const std::string& hostPath, std::string_view bytes) {
    return Run(hostPath, [&] {
        const std::string quoted = Quoted(hostPath);
        // Every reason is said the one way: what could not be written, why.
        const auto failed = [&](zvStatus status, const std::string& why) {
            return Fail(status, "cannot write " + quoted + ": " + why);
        };
        const auto rephrased = [&](zvStatus status) {
            std::string why = zvLastErrorText();
            if (why.rfind(quoted, 0) == 0) why = why.substr(quoted.size() + 1);
            return failed(status, why);
        };
        const size_t slash = hostPath.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : hostPath.substr(0, slash);
        const std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
        if (name.empty() || name == "." || name == "..") return failed(ZV_E_ARGUMENT, "it names no file");
        Fd dir(Sys().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
        if (!dir) return failed(ZV_E_NOTFOUND, "its folder cannot be opened: " + std::string(std::strerror(errno)));
        Fd fd;
        std::string temporary;
        zvStatus status = MakeTemporary(dir.get(), name, 0644, hostPath, &fd, &temporary);
        if (status <= 0) return rephrased(status);
        const auto removed = [&](const char* why) {
            Sys().unlinkat(dir.get(), temporary.c_str(), 0);
            return failed(ZV_E_IO, why);
        };
        if (!WriteFully(fd.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int64_t>(bytes.size())))
            return removed(std::strerror(errno));
        if (Sys().fsync(fd.get()) != 0) return removed(std::strerror(errno));
        Fd lock(Sys().dup(fd.get()));  // held until the file has its name
        if (Sys().close(fd.release()) != 0) return removed(std::strerror(errno));
        status = CommitTemporary(dir.get(), temporary, name, false, true, hostPath);
        return status > 0 ? status : rephrased(status);
    });
}

}  // namespace zv::files
