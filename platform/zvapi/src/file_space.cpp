// The client's file space: a folder of this machine standing for the
// station computer's disk, reached through paths with either separator,
// names matched without regard to case, and nothing outside it reachable.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"

namespace zv {

void Fd::Reset() {
    if (fd_ >= 0) Sys().close(fd_);
    fd_ = -1;
}

bool ReadFolder(int dir, std::vector<DirEntry>* entries) {
    struct Context {
        std::vector<DirEntry>* entries;
        bool failed = false;
    } context{entries};
    const int status = Sys().readdir(
        dir,
        [](void* c, const char* name, unsigned char type) {
            auto* context = static_cast<Context*>(c);
            if (context->failed) return;
            try {
                context->entries->push_back({name, type});
            } catch (...) {
                context->failed = true;  // no memory: the listing is not whole
            }
        },
        &context);
    if (context.failed) {
        errno = ENOMEM;
        return false;
    }
    return status == 0;
}

namespace {

struct Space {
    std::mutex mutex;
    std::string root;            // canonical; empty: the current directory
    std::string given;           // the root as the host named it
    std::string appHome = "\\";  // a file-space path
};

Space& space() {
    static Space* s = new Space;  // lives to the end of the process
    return *s;
}

bool Canonical(const std::string& path, std::string* out) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return false;
    *out = real;
    std::free(real);
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

// The entry of folder `dir` whose name equals `name` without regard to
// case; the first such in byte order when several do, for a stable choice.
// 1 found, 0 none, -1 (errno set) when the folder could not be read.
int FindIgnoringCase(int dir, const std::string& name, std::string* found) {
    std::vector<DirEntry> entries;
    if (!ReadFolder(dir, &entries)) return -1;
    bool any = false;
    for (const DirEntry& entry : entries) {
        if (!SameNameIgnoringCase(entry.name.c_str(), name.c_str())) continue;
        if (!any || entry.name < *found) *found = entry.name;
        any = true;
    }
    return any ? 1 : 0;
}

// Whether a failed look at a name says that no such name exists, rather
// than that the disk could not tell.
bool Absent(int error) { return error == ENOENT || error == ENAMETOOLONG; }

std::string Quoted(const char* path) { return "\"" + Printable(path) + "\""; }

// The names of a file-space path from the root down, "." and ".." applied:
// the drive prefix, both separators. ZV_E_ARGUMENT, ZV_E_RANGE, ZV_E_ACCESS
// as Resolve.
zvStatus NamesOf(const char* path, std::vector<std::string>* names) {
    if (path == nullptr) return ZV_E_ARGUMENT;
    const size_t length = ::strnlen(path, ZV_PATH_MAX);
    if (length >= ZV_PATH_MAX) {
        return Fail(ZV_E_RANGE, "a path of " + std::to_string(ZV_PATH_MAX) +
                                    " characters or more: " + Quoted(std::string(path, 40).c_str()));
    }
    // `floor` names the ones ".." may not pop (the drive's folder: a drive
    // has no parent).
    size_t floor = 0;
    const char* rest = path;
    if (length >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        names->emplace_back(1, path[0]);
        floor = 1;
        rest = path + 2;
    }
    for (const char* p = rest; *p != '\0';) {
        while (IsSeparator(*p)) ++p;
        const char* end = p;
        while (*end != '\0' && !IsSeparator(*end)) ++end;
        std::string_view name(p, static_cast<size_t>(end - p));
        p = end;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (names->size() <= floor) return Fail(ZV_E_ACCESS, Quoted(path) + " leads out of the file space");
            names->pop_back();
            continue;
        }
        names->emplace_back(name);
    }
    return ZV_OK;
}

// `folder` joined with `name` as this machine writes paths.
std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Links followed for one path at most; more is taken for a loop.
constexpr int kMaxLinks = 40;

// A link's target is read whole or not at all.
bool ReadLink(int dir, const std::string& name, std::string* target) {
    char buffer[PATH_MAX];
    const ssize_t n = Sys().readlinkat(dir, name.c_str(), buffer, sizeof buffer);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
    target->assign(buffer, static_cast<size_t>(n));
    return true;
}

// The names of a link's target (this machine's "/" only), "." and ".."
// kept for the walk to apply.
std::vector<std::string> LinkNames(std::string_view target) {
    std::vector<std::string> names;
    for (size_t at = 0; at <= target.size();) {
        size_t end = target.find('/', at);
        if (end == std::string_view::npos) end = target.size();
        if (end > at) names.emplace_back(target.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// The part of absolute `target` below `root`; false when it is not inside.
bool BelowRoot(const std::string& target, const std::string& root, std::string* below) {
    if (root.empty()) return false;
    if (root == "/") {
        *below = target;
        return true;
    }
    if (target.compare(0, root.size(), root) != 0) return false;
    if (target.size() > root.size() && target[root.size()] != '/') return false;
    *below = target.substr(root.size());
    return true;
}

// Whether the kernel offers openat2; cleared the first time it does not.
std::atomic<bool> g_openat2{true};

}  // namespace

std::string FileSpaceRoot() {
    Space& s = space();
    {
        std::lock_guard lock(s.mutex);
        if (!s.root.empty()) return s.root;
    }
    std::string cwd;
    if (!Canonical(".", &cwd)) cwd = "/nonexistent-file-space";
    return cwd;
}

namespace {

// Resolve's walk. `linkPlace`, when given, receives the last name of the
// path when it is a link (which the walk then follows all the same, so
// that a link leading out is refused).
zvStatus Walk(const char* path, Follow follow, Place* place, Place* linkPlace, bool* lastWasLink) {
    std::vector<std::string> names;
    zvStatus status = NamesOf(path, &names);
    if (status <= 0) return status;

    std::string root;
    std::string given;
    {
        Space& s = space();
        std::lock_guard lock(s.mutex);
        root = s.root;
        given = s.given;
    }
    if (root.empty()) root = FileSpaceRoot();
    Fd rootFolder(Sys().open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!rootFolder)
        return Fail(ZV_E_IO, "the file space " + Printable(root) + " cannot be opened: " + std::strerror(errno));

    // The folders walked so far, each open, from the root down; `chain`
    // holds the names of all but the root.
    std::vector<Fd> folders;
    folders.push_back(std::move(rootFolder));
    std::vector<std::string> chain;
    std::deque<std::string> pending(names.begin(), names.end());
    const auto hostOf = [&](const std::string& last, const std::deque<std::string>& after) {
        std::string host = root;
        for (const std::string& n : chain) host = Join(host, n);
        if (!last.empty()) host = Join(host, last);
        for (const std::string& n : after) host = Join(host, n);
        return host;
    };
    int turns = 0;  // links followed and names looked at again
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == ".") continue;  // from a link's target
        if (name == "..") {         // likewise
            if (chain.empty()) return Fail(ZV_E_ACCESS, Quoted(path) + " leads out of the file space through a link");
            chain.pop_back();
            folders.pop_back();
            continue;
        }
        const int dir = folders.back().get();
        std::string actual = name;
        struct stat info {};
        // A name the disk cannot look at is not taken for a missing one: a
        // write would make a second file of another case beside it.
        bool found = Sys().fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found && !Absent(errno))
            return Fail(ZV_E_IO, Quoted(path) + ": a name on the way cannot be looked at: " + std::strerror(errno));
        if (!found) {
            const int match = FindIgnoringCase(dir, name, &actual);
            if (match < 0)
                return Fail(ZV_E_IO, Quoted(path) + ": a folder on the way cannot be read: " + std::strerror(errno));
            if (match > 0) found = Sys().fstatat(dir, actual.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
            if (match > 0 && !found && !Absent(errno))
                return Fail(ZV_E_IO, Quoted(path) + ": a name on the way cannot be looked at: " + std::strerror(errno));
        }
        const bool last = pending.empty();
        if (!found) {
            place->host = hostOf(name, pending);
            place->folder = std::move(folders.back());
            place->name = name;
            place->rest.assign(pending.begin(), pending.end());
            place->exists = false;
            return ZV_OK;
        }
        if (S_ISLNK(info.st_mode) && last && follow == Follow::kNotLast && !*lastWasLink) {
            *lastWasLink = true;
            linkPlace->folder = Fd(Sys().dup(dir));
            if (!linkPlace->folder) return ZV_E_IO;
            linkPlace->name = actual;
            linkPlace->rest.clear();
            linkPlace->exists = true;
            linkPlace->info = info;
            linkPlace->host = hostOf(actual, {});
        }
        if (S_ISLNK(info.st_mode)) {
            // The target is walked name by name from where the link is, or
            // from the root for an absolute target inside it.
            if (++turns > kMaxLinks) return Fail(ZV_E_ACCESS, Quoted(path) + ": the links on the way loop");
            std::string target;
            if (!ReadLink(dir, actual, &target))
                return Fail(ZV_E_IO, Quoted(path) + ": a link on the way cannot be read");
            if (!target.empty() && target[0] == '/') {
                std::string below;
                if (!BelowRoot(target, root, &below) && !BelowRoot(target, given, &below))
                    return Fail(ZV_E_ACCESS, Quoted(path) + " leads out of the file space through a link");
                target = below;
                chain.clear();
                folders.resize(1);
            }
            const std::vector<std::string> more = LinkNames(target);
            pending.insert(pending.begin(), more.begin(), more.end());
            continue;
        }
        if (last) {
            place->host = hostOf(actual, {});
            place->folder = std::move(folders.back());
            place->name = actual;
            place->rest.clear();
            place->exists = true;
            place->info = info;
            return ZV_OK;
        }
        if (!S_ISDIR(info.st_mode)) return ZV_E_NOTFOUND;  // a file where a folder is needed
        Fd next(Sys().openat(dir, actual.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
        if (!next) {
            // Swapped for a link or a file since it was looked at: again.
            if ((errno == ELOOP || errno == ENOTDIR || errno == ENOENT) && ++turns <= kMaxLinks) {
                pending.push_front(name);
                continue;
            }
            if (errno == EACCES) return Fail(ZV_E_IO, Quoted(path) + ": a folder on the way may not be opened");
            return Fail(ZV_E_IO, Quoted(path) + ": a folder on the way cannot be opened: " + std::strerror(errno));
        }
        folders.push_back(std::move(next));
        chain.push_back(actual);
    }
    // The folder the names ended in (the root for an empty path).
    place->host = hostOf("", {});
    if (chain.empty()) {
        place->folder = std::move(folders.back());
        place->name.clear();
        place->rest.clear();
        place->exists = true;
        if (Sys().fstat(place->folder.get(), &place->info) != 0) return ZV_E_IO;
        return ZV_OK;
    }
    // Named from its parent, as every other place is.
    const std::string last = chain.back();
    chain.pop_back();
    folders.pop_back();
    struct stat info {};
    if (Sys().fstatat(folders.back().get(), last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return ZV_E_NOTFOUND;
    place->folder = std::move(folders.back());
    place->name = last;
    place->rest.clear();
    place->exists = true;
    place->info = info;
    return ZV_OK;
}

}  // namespace

zvStatus Resolve(const char* path, Follow follow, Place* place) {
    if (path == nullptr || place == nullptr) return ZV_E_ARGUMENT;
    Place link;
    bool lastWasLink = false;
    const zvStatus status = Walk(path, follow, place, &link, &lastWasLink);
    if (status > 0 && lastWasLink) *place = std::move(link);
    return status;
}

zvStatus ResolvePath(const char* path, std::string* host) {
    if (host == nullptr) return ZV_E_ARGUMENT;
    Place place;
    const zvStatus status = Resolve(path, Follow::kAll, &place);
    if (status <= 0) return status;
    *host = std::move(place.host);
    return ZV_OK;
}

int OpenExactForReading(const char* path, std::string* host) {
    if (path == nullptr || host == nullptr || !g_openat2.load(std::memory_order_relaxed)) return -1;
    std::vector<std::string> names;
    if (NamesOf(path, &names) <= 0) return -1;
    std::string joined = FileSpaceRoot();
    for (const std::string& name : names) joined = Join(joined, name);
    // The root is canonical and the names hold no separators, "." or "..":
    // with no link anywhere on the way, the path stays inside the root.
    int fd;
    do {
        fd = Sys().openat2(joined.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // The real kernel's answer when it has no openat2; a table's ENOSYS
        // says the same for itself alone.
        if ((errno == ENOSYS || errno == EPERM) && &Sys() == &sys::Real())
            g_openat2.store(false, std::memory_order_relaxed);
        return -1;
    }
    // Anything but a plain file takes the long way, which says why.
    struct stat info {};
    if (Sys().fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        Sys().close(fd);
        return -1;
    }
    *host = std::move(joined);
    return fd;
}

// ---- Temporary files ----------------------------------------------------------

namespace {

// The temporary files of interrupted writes are hidden, named after their
// target, and locked by the writer while it lives: one that can be locked
// has no writer any more.
void RemoveStale(int dir, const std::string& prefix) {
    std::vector<DirEntry> entries;
    if (!ReadFolder(dir, &entries)) return;
    for (const DirEntry& entry : entries) {
        const char* name = entry.name.c_str();
        if (!IsTemporaryName(name) || std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
        Fd probe(Sys().openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
        if (!probe) continue;
        struct stat info {};
        if (Sys().fstat(probe.get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (Sys().flock(probe.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its writer is still at work
        Sys().unlinkat(dir, name, 0);
    }
}

// Every folder under `dir` (`depth` levels at most), links not followed.
void SweepTree(int dir, int depth) {
    RemoveStale(dir, ".");
    if (depth <= 0) return;
    std::vector<DirEntry> entries;
    if (!ReadFolder(dir, &entries)) return;
    for (const DirEntry& entry : entries) {
        if (entry.type != DT_DIR && entry.type != DT_UNKNOWN) continue;
        Fd child(Sys().openat(dir, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
        if (child) SweepTree(child.get(), depth - 1);
    }
}

}  // namespace

void RemoveStaleTemporaries(int dir, const std::string& target) { RemoveStale(dir, "." + target + ".zvtmp."); }

}  // namespace zv

namespace {

// Copies `text` into the caller's buffer; ZV_E_RANGE (buffer "") when it
// does not fit.
zvStatus CopyOut(const std::string& text, char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
    if (text.size() >= static_cast<size_t>(size)) {
        buffer[0] = '\0';
        return ZV_E_RANGE;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return ZV_OK;
}

}  // namespace

extern "C" {

zvStatus zvFileSpaceSetRoot(const char* folder) {
    ZV_ENTER(folder);
    return zv::Guard([&] {
        if (folder == nullptr || folder[0] == '\0') return ZV_E_ARGUMENT;
        std::string real;
        struct stat info {};
        if (!zv::Canonical(folder, &real) || ::stat(real.c_str(), &info) != 0) return ZV_E_NOTFOUND;
        if (!S_ISDIR(info.st_mode)) return ZV_E_NOTFOUND;
        std::string given = folder;
        while (given.size() > 1 && given.back() == '/') given.pop_back();
        zv::Space& s = zv::space();
        std::lock_guard lock(s.mutex);
        s.root = real;
        s.given = given[0] == '/' ? given : std::string();  // a relative name means nothing to a link
        return ZV_OK;
    });
}

zvStatus zvFileSpaceRoot(char* buffer, int32_t size) {
    ZV_ENTER(size);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        const std::string root = zv::FileSpaceRoot();
        // Shortened to the buffer; a root that did not fit is reported.
        const size_t n = root.size() < static_cast<size_t>(size) ? root.size() : static_cast<size_t>(size) - 1;
        std::memcpy(buffer, root.data(), n);
        buffer[n] = '\0';
        return n == root.size() ? ZV_OK : ZV_E_RANGE;
    });
}

zvStatus zvFileSpaceResolve(const char* path, char* buffer, int32_t size) {
    ZV_ENTER(path);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        std::string host;
        zvStatus status = zv::ResolvePath(path, &host);
        if (status <= 0) return status;
        return CopyOut(host, buffer, size);
    });
}

zvStatus zvFileSpaceSweep(const char* folder) {
    ZV_ENTER(folder);
    return zv::Guard([&] {
        zv::Fd dir;
        const zvStatus status = zv::OpenFolder(folder, &dir);
        if (status <= 0) return status;
        // Deep enough for any station folder, shallow enough to end.
        zv::SweepTree(dir.get(), 32);
        return ZV_OK;
    });
}

zvStatus zvDirectoryGetAppHome(char* buffer, int32_t size) {
    ZV_ENTER(size);
    return zv::Guard([&] {
        zv::Space& s = zv::space();
        std::string home;
        {
            std::lock_guard lock(s.mutex);
            home = s.appHome;
        }
        return CopyOut(home, buffer, size);
    });
}

zvStatus zvDirectorySetAppHome(const char* folder) {
    ZV_ENTER(folder);
    return zv::Guard([&] {
        std::string host;
        zvStatus status = zv::ResolvePath(folder, &host);  // refuses what leaves the space
        if (status <= 0) return status;
        zv::Space& s = zv::space();
        std::lock_guard lock(s.mutex);
        s.appHome = folder;
        return ZV_OK;
    });
}

zvStatus zvPathCombine(char* buffer, int32_t size, const char* first, const char* second) {
    ZV_ENTER(first, second);
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        if (first == nullptr || second == nullptr) return ZV_E_ARGUMENT;
        const size_t firstLength = ::strnlen(first, ZV_PATH_MAX);
        const size_t secondLength = ::strnlen(second, ZV_PATH_MAX);
        if (firstLength >= ZV_PATH_MAX || secondLength >= ZV_PATH_MAX) return ZV_E_RANGE;
        std::string joined;
        if (firstLength == 0) {
            joined = second;
        } else {
            size_t keep = firstLength;
            while (keep > 0 && zv::IsSeparator(first[keep - 1])) --keep;
            const char* tail = second;
            while (zv::IsSeparator(*tail)) ++tail;
            joined.assign(first, keep);
            joined += '\\';
            joined += tail;
        }
        if (joined.size() >= ZV_PATH_MAX) return ZV_E_RANGE;
        return CopyOut(joined, buffer, size);
    });
}

}  // extern "C"
