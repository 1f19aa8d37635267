// The client's file space: a folder of this machine standing for the
// station computer's disk, reached through paths with either separator,
// names matched without regard to case, and nothing outside it reachable.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"

namespace zv {

namespace {

struct Space {
    std::mutex mutex;
    std::string root;            // canonical; empty: the current directory
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
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// The entry of `folder` whose name equals `name` without regard to case;
// the first such in byte order when several do, for a stable choice.
bool FindIgnoringCase(const std::string& folder, const std::string& name, std::string* found) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    bool any = false;
    while (dirent* entry = ::readdir(dir)) {
        if (!SameNameIgnoringCase(entry->d_name, name.c_str())) continue;
        if (!any || std::strcmp(entry->d_name, found->c_str()) < 0) *found = entry->d_name;
        any = true;
    }
    ::closedir(dir);
    return any;
}

bool Inside(const std::string& path, const std::string& root) {
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
    return path.size() == root.size() || path[root.size()] == '/' || root == "/";
}

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

// The names of a file-space path from the root down, "." and ".." applied:
// the drive prefix, both separators. ZV_E_ARGUMENT, ZV_E_RANGE, ZV_E_ACCESS
// as ResolvePath.
zvStatus NamesOf(const char* path, std::vector<std::string>* names) {
    if (path == nullptr) return ZV_E_ARGUMENT;
    const size_t length = ::strnlen(path, ZV_PATH_MAX);
    if (length >= ZV_PATH_MAX) return ZV_E_RANGE;

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
            if (names->size() <= floor) return ZV_E_ACCESS;
            names->pop_back();
            continue;
        }
        names->emplace_back(name);
    }
    return ZV_OK;
}

// The host path of `names` below `root`, taken as they are.
std::string Join(const std::string& root, const std::vector<std::string>& names) {
    std::string joined = root;
    for (const std::string& name : names) {
        if (joined != "/") joined += '/';
        joined += name;
    }
    return joined;
}

// Whether the kernel offers openat2; cleared the first time it does not.
std::atomic<bool> g_openat2{true};

}  // namespace

zvStatus ResolvePath(const char* path, std::string* host) {
    if (path == nullptr || host == nullptr) return ZV_E_ARGUMENT;
    std::vector<std::string> names;
    const zvStatus lexical = NamesOf(path, &names);
    if (lexical <= 0) return lexical;

    const std::string root = FileSpaceRoot();
    std::string current = root;
    bool existing = true;  // everything so far exists
    for (const std::string& name : names) {
        std::string next = current == "/" ? "/" + name : current + "/" + name;
        struct stat info {};
        bool found = existing && ::lstat(next.c_str(), &info) == 0;
        if (existing && !found) {
            std::string actual;
            if (FindIgnoringCase(current, name, &actual)) {
                next = current == "/" ? "/" + actual : current + "/" + actual;
                found = ::lstat(next.c_str(), &info) == 0;
            }
        }
        if (found && S_ISLNK(info.st_mode)) {
            // A link may lead anywhere inside the space, nowhere out of it;
            // a dangling one is refused, since its target is unknown.
            std::string real;
            if (!Canonical(next, &real) || !Inside(real, root)) return ZV_E_ACCESS;
        }
        existing = found;
        current = std::move(next);
    }
    *host = std::move(current);
    return ZV_OK;
}

int OpenExactForReading(const char* path, std::string* host) {
    if (path == nullptr || host == nullptr || !g_openat2.load(std::memory_order_relaxed)) return -1;
    std::vector<std::string> names;
    if (NamesOf(path, &names) <= 0) return -1;
    std::string joined = Join(FileSpaceRoot(), names);
    // The root is canonical and the names hold no separators, "." or "..":
    // with no link anywhere on the way, the path stays inside the root.
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd;
    do {
        fd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, joined.c_str(), &how, sizeof how));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOSYS || errno == EPERM) g_openat2.store(false, std::memory_order_relaxed);
        return -1;
    }
    *host = std::move(joined);
    return fd;
}

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
        zv::Space& s = zv::space();
        std::lock_guard lock(s.mutex);
        s.root = real;
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
