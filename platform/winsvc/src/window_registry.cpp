// Top-level windows of this machine: a folder with one file per title that
// holds the id of the process showing it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "winsvc/posix_services.hpp"

namespace winsvc {

namespace {

// A title as a file name: letters, digits, "-" and "_" stay, every other
// byte (and a leading ".") becomes %XX, so no title names another folder.
std::string EncodeTitle(const std::string& title) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (size_t i = 0; i < title.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(title[i]);
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || (c == '.' && i > 0);
        if (keep) {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += kHex[c >> 4];
            name += kHex[c & 15];
        }
    }
    return name;
}

// Creates `folder` and its missing parents; the last level private to the
// user.
bool MakeFolders(const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// A process that still runs: it exists and has not ended (a process that
// ended but was not yet collected by its parent shows no windows).
bool Running(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    std::string statPath = "/proc/" + std::to_string(pid) + "/stat";
    FILE* stat = std::fopen(statPath.c_str(), "r");
    if (stat == nullptr) return true;  // no /proc: trust kill()
    char line[512] = {};
    size_t n = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    std::string text(line, n);
    size_t close = text.rfind(')');  // the state follows the command name in parentheses
    if (close == std::string::npos || close + 2 >= text.size()) return true;
    char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

// The process id written in the registry file at `path`, when it is the
// calling user's regular file.
std::optional<uint32_t> ReadEntry(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct stat st;
    char text[32] = {};
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        n = ::read(fd, text, sizeof text - 1);
    }
    ::close(fd);
    if (n <= 0) return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || value == 0 || value > static_cast<unsigned long>(INT32_MAX)) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

std::string DefaultWindowRegistryFolder() {
    if (const char* folder = std::getenv("BRENVIK_WINDOWS"); folder != nullptr && *folder != '\0') return folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/zvwindows";
    }
    return "/tmp/zvwindows-" + std::to_string(::geteuid());
}

WindowRegistry::WindowRegistry(std::string folder) : folder_(std::move(folder)) {}

std::string WindowRegistry::PathOf(const std::string& title) const { return folder_ + "/" + EncodeTitle(title); }

bool WindowRegistry::Register(const std::string& title, uint32_t processId) const {
    if (title.empty() || processId == 0 || !MakeFolders(folder_)) return false;
    std::string path = PathOf(title);
    std::string temporary = path + ".new" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    std::string text = std::to_string(processId) + "\n";
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = (::close(fd) == 0) && written;
    // The rename makes the window appear whole: a reader never sees half an id.
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void WindowRegistry::Unregister(const std::string& title, uint32_t processId) const {
    if (title.empty()) return;
    std::string path = PathOf(title);
    if (ReadEntry(path) == processId) ::unlink(path.c_str());
}

std::optional<uint32_t> WindowRegistry::Find(const std::string& title) const {
    if (title.empty()) return std::nullopt;
    std::optional<uint32_t> pid = ReadEntry(PathOf(title));
    if (!pid || !Running(static_cast<pid_t>(*pid))) return std::nullopt;
    return pid;
}

}  // namespace winsvc
