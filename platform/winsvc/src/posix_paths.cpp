// Station paths mapped onto this machine, and errno values as Windows error
// numbers.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "winsvc/posix_services.hpp"

namespace winsvc {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` called `name`: the exact name when it exists,
// otherwise the first (in name order) that differs only in case, otherwise
// `name` itself.
std::string MatchName(const std::string& folder, const std::string& name) {
    if (Exists(folder + "/" + name)) return name;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return name;
    std::string best;
    while (dirent* entry = ::readdir(dir)) {
        std::string candidate = entry->d_name;
        if (SameIgnoringCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
    }
    ::closedir(dir);
    return best.empty() ? name : best;
}

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) return {};
    return buffer;
}

// True when the deepest existing part of `path` lies inside `rootReal`
// (links followed).
bool StaysInside(const std::string& rootReal, std::string path) {
    while (true) {
        std::string real = RealPath(path);
        if (!real.empty()) {
            return real == rootReal ||
                   (real.size() > rootReal.size() && real.compare(0, rootReal.size(), rootReal) == 0 &&
                    (rootReal == "/" || real[rootReal.size()] == '/'));
        }
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || slash == 0) return false;
        path.resize(slash);
    }
}

}  // namespace

uint32_t ResolveUnderRoot(const std::string& root, const std::string& path, std::string* hostPath) {
    if (hostPath == nullptr) return kErrorInvalidParameter;
    hostPath->clear();
    if (path.empty()) return kErrorPathNotFound;

    std::vector<std::string> names;
    std::string rest = path;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        names.push_back(std::string(1, static_cast<char>(path[0] & ~0x20)));  // the drive's folder
        rest = path.substr(2);
    }
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos) end = rest.size();
        std::string name = rest.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (names.empty()) return kErrorAccessDenied;
            names.pop_back();
            continue;
        }
        names.push_back(std::move(name));
    }

    std::string base = root.empty() ? "." : root;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string current = base;
    for (const std::string& name : names) {
        const std::string matched = MatchName(current, name);
        current.push_back('/');
        current.append(matched);
    }

    std::string rootReal = RealPath(base);
    if (rootReal.empty()) return kErrorPathNotFound;
    if (!StaysInside(rootReal, current)) return kErrorAccessDenied;
    *hostPath = std::move(current);
    return kErrorSuccess;
}

uint32_t WindowsErrorFromErrno(int error) {
    switch (error) {
        case 0: return kErrorSuccess;
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EROFS: return kErrorWriteProtect;
        case EIO: return kErrorGenFailure;
        case ENOSYS:
        case EOPNOTSUPP: return kErrorNotSupported;
        case EEXIST: return kErrorFileExists;
        case ENOSPC: return kErrorDiskFull;
        case EINVAL:
        case ESRCH: return kErrorInvalidParameter;
        case ELOOP: return kErrorInvalidName;
        case ENOEXEC: return kErrorBadExeFormat;
        case ENAMETOOLONG: return kErrorFilenameExcedRange;
        default: return kErrorFromErrno | static_cast<uint32_t>(error);
    }
}

}  // namespace winsvc
