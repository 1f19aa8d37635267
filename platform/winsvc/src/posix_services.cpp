// The Windows services on this machine (see posix_services.hpp).
#include "winsvc/posix_services.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "winsvc/command_line.hpp"

extern char** environ;

namespace winsvc {

namespace {

enum Kind { kToken = 1, kProcessKind, kThreadKind, kFile, kModule };

// Windows are not kernel objects: a window handle carries its process id.
constexpr Handle kWindowTag = Handle{1} << 40;
// "kernel32" is always loaded and never unloaded.
constexpr Handle kKernel32 = Handle{0x7FFE0000};
// The locally unique identifier Windows gives the shutdown privilege.
constexpr Luid kShutdownLuid{19, 0};

constexpr const char* kInterpreter = "/bin/sh";

// Process descriptors, called directly: the C library's declarations of
// these are not usable from C++ everywhere.
int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int PidfdKill(int pidfd) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0)); }

bool SameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

uint32_t ExitCodeOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return static_cast<uint32_t>(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) return 128u + static_cast<uint32_t>(WTERMSIG(waitStatus));
    return 0;
}

// Runs the interpreter with `args` (after "sh") and waits: exit status, or
// -1 with errno set when it could not start.
int RunInterpreter(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("sh"));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int error = ::posix_spawn(&pid, kInterpreter, nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return static_cast<int>(ExitCodeOf(status));
}

int PollTimeout(uint32_t milliseconds) {
    if (milliseconds == kInfinite) return -1;
    return milliseconds > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(milliseconds);
}

}  // namespace

// A process the services know: one started here (a child, whose end is
// collected here) or one opened by id.
struct PosixServices::Process {
    ~Process() {
        if (child && !ended) {
            int status = 0;
            ::waitpid(pid, &status, WNOHANG);  // collect it if it already ended
        }
        if (pidfd >= 0) ::close(pidfd);
    }
    void Ended(int waitStatus) {
        ended = true;
        exitKnown = true;
        exitCode = ExitCodeOf(waitStatus);
        if (terminatedWith && WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGKILL) {
            exitCode = *terminatedWith;
        }
    }

    pid_t pid = 0;
    int pidfd = -1;
    bool child = false;
    bool ended = false;
    bool exitKnown = false;
    uint32_t exitCode = 0;
    std::optional<uint32_t> terminatedWith;
};

struct PosixServices::Object {
    explicit Object(int kind) : kind(kind) {}
    ~Object() {
        if (fd >= 0) ::close(fd);
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    int kind;
    uint32_t access = 0;
    std::shared_ptr<Process> process;  // process and thread handles
    int fd = -1;                       // files and volumes
    bool volume = false;
    void* library = nullptr;  // modules
};

PosixServices::PosixServices(PosixConfig config)
    : config_(std::move(config)),
      windows_(config_.windowRegistry.empty() ? DefaultWindowRegistryFolder() : config_.windowRegistry) {}

PosixServices::~PosixServices() {
    for (auto& [handle, object] : objects_) {
        if (object->kind == kModule && object->library != nullptr) ::dlclose(object->library);
    }
}

bool PosixServices::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

bool PosixServices::FailErrno() { return Fail(WindowsErrorFromErrno(errno)); }

Handle PosixServices::Insert(std::unique_ptr<Object> object) {
    Handle handle = nextHandle_;
    nextHandle_ += 4;
    objects_.emplace(handle, std::move(object));
    return handle;
}

PosixServices::Object* PosixServices::Find(Handle handle, int kind) {
    auto it = objects_.find(handle);
    if (it == objects_.end() || (kind != 0 && it->second->kind != kind)) return nullptr;
    return it->second.get();
}

std::shared_ptr<PosixServices::Process> PosixServices::ProcessOf(Handle handle) {
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    if (it->second->kind != kProcessKind && it->second->kind != kThreadKind) return nullptr;
    return it->second->process;
}

uint32_t PosixServices::Resolve(const char* path, std::string* hostPath) {
    if (path == nullptr) return kErrorInvalidParameter;
    if (std::strlen(path) >= kMaxPath) return kErrorFilenameExcedRange;
    if (config_.resolver) return config_.resolver(path, hostPath);
    return ResolveUnderRoot(config_.driveRoot, path, hostPath);
}

uint32_t PosixServices::GetLastError() { return lastError_; }

Handle PosixServices::GetCurrentProcess() { return kInvalidHandle; }

bool PosixServices::CloseHandle(Handle object) {
    if (object == kInvalidHandle) return true;  // the current process
    Object* found = Find(object, 0);
    if (found == nullptr || found->kind == kModule) return Fail(kErrorInvalidHandle);
    objects_.erase(object);
    return true;
}

// ---- Tokens and privileges ---------------------------------------------------

bool PosixServices::OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) {
    if (token == nullptr) return Fail(kErrorInvalidParameter);
    *token = kNullHandle;
    if (process != kInvalidHandle && ProcessOf(process) == nullptr) return Fail(kErrorInvalidHandle);
    auto object = std::make_unique<Object>(kToken);
    object->access = desiredAccess;
    *token = Insert(std::move(object));
    return true;
}

bool PosixServices::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    if (name == nullptr || luid == nullptr) return Fail(kErrorInvalidParameter);
    if (systemName != nullptr && *systemName != '\0') return Fail(kErrorNotSupported);
    if (!SameIgnoringCase(name, "SeShutdownPrivilege")) return Fail(kErrorNoSuchPrivilege);
    *luid = kShutdownLuid;
    return true;
}

bool PosixServices::AdjustTokenPrivileges(Handle token, Luid privilege, uint32_t attributes) {
    Object* object = Find(token, kToken);
    if (object == nullptr) return Fail(kErrorInvalidHandle);
    if ((object->access & kTokenAdjustPrivileges) == 0) return Fail(kErrorAccessDenied);
    // The process holds the shutdown privilege only when it can shut down.
    if (!(privilege == kShutdownLuid) || config_.shutdownCommand.empty()) {
        lastError_ = kErrorNotAllAssigned;
        return true;
    }
    shutdownEnabled_ = (attributes & kSePrivilegeEnabled) != 0;
    lastError_ = kErrorSuccess;
    return true;
}

bool PosixServices::InitiateSystemShutdownA(const char* machineName, const char* message, uint32_t timeoutSeconds,
                                            bool forceAppsClosed, bool rebootAfterShutdown) {
    if (machineName != nullptr && *machineName != '\0') return Fail(kErrorNotSupported);
    if (config_.shutdownCommand.empty() || !shutdownEnabled_) return Fail(kErrorPrivilegeNotHeld);
    int status = RunInterpreter({"-c", config_.shutdownCommand, "shutdown", std::to_string(timeoutSeconds),
                                 forceAppsClosed ? "1" : "0", rebootAfterShutdown ? "1" : "0",
                                 message != nullptr ? message : ""});
    if (status < 0) return FailErrno();
    if (status != 0) return Fail(kErrorGenFailure);
    return true;
}

// ---- Windows -------------------------------------------------------------------

Handle PosixServices::FindWindowA(const char* /*className*/, const char* windowName) {
    if (windowName == nullptr) {
        Fail(kErrorInvalidParameter);
        return kNullHandle;
    }
    std::optional<uint32_t> pid = windows_.Find(windowName);
    if (!pid) {
        lastError_ = kErrorSuccess;  // no such window is not an error
        return kNullHandle;
    }
    return kWindowTag | *pid;
}

uint32_t PosixServices::GetWindowThreadProcessId(Handle window, uint32_t* processId) {
    if (processId != nullptr) *processId = 0;
    uint32_t pid = static_cast<uint32_t>(window & 0xFFFFFFFFu);
    if ((window & ~Handle{0xFFFFFFFFu}) != kWindowTag || pid == 0 ||
        (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
        Fail(kErrorInvalidWindowHandle);
        return 0;
    }
    if (processId != nullptr) *processId = pid;
    return pid;  // a single-threaded window owner: its main thread has the process's id
}

// ---- Processes -------------------------------------------------------------------

Handle PosixServices::OpenProcess(uint32_t desiredAccess, bool /*inheritHandle*/, uint32_t processId) {
    if (processId == 0 || processId > static_cast<uint32_t>(INT32_MAX)) {
        Fail(kErrorInvalidParameter);
        return kNullHandle;
    }
    std::shared_ptr<Process> process;
    if (auto it = children_.find(processId); it != children_.end()) process = it->second.lock();
    if (process == nullptr) {
        process = std::make_shared<Process>();
        process->pid = static_cast<pid_t>(processId);
        process->pidfd = PidfdOpen(process->pid);
        if (process->pidfd < 0) {
            if (errno != ENOSYS) {
                FailErrno();
                return kNullHandle;
            }
            if (::kill(process->pid, 0) != 0 && errno != EPERM) {
                FailErrno();
                return kNullHandle;
            }
        }
    }
    auto object = std::make_unique<Object>(kProcessKind);
    object->access = desiredAccess;
    object->process = std::move(process);
    return Insert(std::move(object));
}

bool PosixServices::TerminateProcess(Handle process, uint32_t exitCode) {
    if (process == kInvalidHandle) std::_Exit(static_cast<int>(exitCode));
    Object* object = Find(process, kProcessKind);
    if (object == nullptr) return Fail(kErrorInvalidHandle);
    Process& target = *object->process;
    if (target.ended) return Fail(kErrorAccessDenied);
    int result = target.pidfd >= 0 ? PidfdKill(target.pidfd) : ::kill(target.pid, SIGKILL);
    if (result != 0) return errno == ESRCH ? Fail(kErrorAccessDenied) : FailErrno();
    target.terminatedWith = exitCode;
    return true;
}

bool PosixServices::WaitProcess(Process& process, int timeoutMs, bool* ended) {
    *ended = process.ended;
    if (process.ended) return true;
    if (process.child && timeoutMs < 0) {
        int status = 0;
        while (::waitpid(process.pid, &status, 0) < 0) {
            if (errno != EINTR) return FailErrno();
        }
        process.Ended(status);
        *ended = true;
        return true;
    }
    if (process.pidfd >= 0) {
        pollfd watch{process.pidfd, POLLIN, 0};
        int ready;
        while ((ready = ::poll(&watch, 1, timeoutMs)) < 0) {
            if (errno != EINTR) return FailErrno();
        }
        if (ready == 0) return true;  // still running
    } else {
        // No process descriptors: look every 10 ms.
        for (int waited = 0; ::kill(process.pid, 0) == 0 || errno == EPERM; waited += 10) {
            if (timeoutMs >= 0 && waited >= timeoutMs) return true;
            ::usleep(10000);
        }
    }
    if (process.child) {
        int status = 0;
        pid_t done;
        while ((done = ::waitpid(process.pid, &status, WNOHANG)) < 0) {
            if (errno != EINTR) return FailErrno();
        }
        if (done == 0) return true;
        process.Ended(status);
    } else {
        process.ended = true;
        if (process.terminatedWith) {
            process.exitKnown = true;
            process.exitCode = *process.terminatedWith;
        }
    }
    *ended = true;
    return true;
}

uint32_t PosixServices::WaitForSingleObject(Handle object, uint32_t milliseconds) {
    std::shared_ptr<Process> process = ProcessOf(object);
    if (process == nullptr) {
        Fail(kErrorInvalidHandle);
        return kWaitFailed;
    }
    bool ended = false;
    if (!WaitProcess(*process, PollTimeout(milliseconds), &ended)) return kWaitFailed;
    return ended ? kWaitObject0 : kWaitTimeout;
}

bool PosixServices::SearchProgram(const std::string& name, std::string* hostPath) {
    const char* path = std::getenv("PATH");
    std::string folders = (path != nullptr && *path != '\0') ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        start = end + 1;
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            *hostPath = candidate;
            return true;
        }
    }
    return false;
}

bool PosixServices::CreateProcessA(const char* applicationName, const char* commandLine, bool inheritHandles,
                                   uint32_t creationFlags, ProcessInformation* info) {
    if (info == nullptr) return Fail(kErrorInvalidParameter);
    *info = {};
    std::vector<std::string> words = SplitWindowsCommandLine(commandLine != nullptr ? commandLine : "");
    std::string program = applicationName != nullptr ? applicationName : (words.empty() ? "" : words[0]);
    if (program.empty()) return Fail(kErrorFileNotFound);

    std::string hostPath;
    if (program.find_first_of("\\/:") != std::string::npos) {
        if (uint32_t error = Resolve(program.c_str(), &hostPath); error != kErrorSuccess) return Fail(error);
    } else if (!SearchProgram(program, &hostPath)) {
        return Fail(kErrorFileNotFound);
    }
    struct stat st;
    if (::stat(hostPath.c_str(), &st) != 0) return FailErrno();
    if (!S_ISREG(st.st_mode) || ::access(hostPath.c_str(), X_OK) != 0) return Fail(kErrorAccessDenied);

    // Everything the child needs is made before the fork: after it, the
    // child only calls what is safe between fork and exec.
    std::vector<char*> argv;
    argv.push_back(hostPath.data());
    for (size_t i = 1; i < words.size(); ++i) argv.push_back(words[i].data());
    argv.push_back(nullptr);
    bool detached = (creationFlags & kDetachedProcess) != 0;

    // The exec's failure comes back through a pipe that closes on success.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return FailErrno();
    pid_t pid = ::fork();
    if (pid < 0) {
        int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = error;
        return FailErrno();
    }
    if (pid == 0) {
        if (detached) {
            ::setsid();
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
                ::dup2(null, 2);
                if (null > 2) ::close(null);
            }
        }
        if (!inheritHandles) {
            unsigned keep = static_cast<unsigned>(report[1]);
            if (keep > 3) ::close_range(3, keep - 1, 0);
            ::close_range(keep + 1, ~0U, 0);
        }
        ::execv(argv[0], argv.data());
        int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        errno = error;
        return FailErrno();
    }

    auto process = std::make_shared<Process>();
    process->pid = pid;
    process->child = true;
    process->pidfd = PidfdOpen(pid);
    children_[static_cast<uint32_t>(pid)] = process;
    auto processObject = std::make_unique<Object>(kProcessKind);
    processObject->access = kProcessAllAccess;
    processObject->process = process;
    auto threadObject = std::make_unique<Object>(kThreadKind);
    threadObject->process = process;
    info->process = Insert(std::move(processObject));
    info->thread = Insert(std::move(threadObject));
    info->processId = static_cast<uint32_t>(pid);
    info->threadId = static_cast<uint32_t>(pid);
    return true;
}

bool PosixServices::GetExitCodeProcess(Handle process, uint32_t* exitCode) {
    if (exitCode == nullptr) return Fail(kErrorInvalidParameter);
    Object* object = Find(process, kProcessKind);
    if (object == nullptr) return Fail(kErrorInvalidHandle);
    bool ended = false;
    if (!WaitProcess(*object->process, 0, &ended)) return false;
    if (!ended) {
        *exitCode = kStillActive;
        return true;
    }
    // A process that is not ours ends without telling its exit code.
    if (!object->process->exitKnown) return Fail(kErrorNotSupported);
    *exitCode = object->process->exitCode;
    return true;
}

int PosixServices::System(const char* command) {
    if (command == nullptr) return ::access(kInterpreter, X_OK) == 0 ? 1 : 0;
    int status = RunInterpreter({"-c", command});
    if (status < 0) FailErrno();
    return status;
}

// ---- Files and volumes ------------------------------------------------------------

uint32_t PosixServices::GetFileAttributesA(const char* path) {
    std::string host;
    if (uint32_t error = Resolve(path, &host); error != kErrorSuccess) {
        Fail(error);
        return kInvalidFileAttributes;
    }
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
        FailErrno();
        return kInvalidFileAttributes;
    }
    if (S_ISDIR(st.st_mode)) return kFileAttributeDirectory;
    uint32_t attributes = kFileAttributeArchive;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= kFileAttributeReadonly;
    return attributes;
}

bool PosixServices::SetFileAttributesA(const char* path, uint32_t attributes) {
    std::string host;
    if (uint32_t error = Resolve(path, &host); error != kErrorSuccess) return Fail(error);
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return FailErrno();
    if (S_ISDIR(st.st_mode)) return true;  // folders have no read-only state here
    mode_t mode = st.st_mode & 07777;
    if ((attributes & kFileAttributeReadonly) != 0) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        mode |= S_IWUSR;
    }
    if (mode != (st.st_mode & 07777) && ::chmod(host.c_str(), mode) != 0) return FailErrno();
    return true;
}

Handle PosixServices::CreateFileA(const char* name, uint32_t desiredAccess, uint32_t /*shareMode*/,
                                  uint32_t creationDisposition, uint32_t /*flagsAndAttributes*/) {
    if (name == nullptr) {
        Fail(kErrorInvalidParameter);
        return kInvalidHandle;
    }
    if (std::strlen(name) >= kMaxPath) {
        Fail(kErrorFilenameExcedRange);
        return kInvalidHandle;
    }
    if (creationDisposition != kOpenExisting) {
        Fail(kErrorNotSupported);
        return kInvalidHandle;
    }
    auto object = std::make_unique<Object>(kFile);
    object->access = desiredAccess;
    std::string host;
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        // A volume: "\\.\X:" is the folder of drive X.
        const char* drive = name + 4;
        bool letter = (drive[0] >= 'A' && drive[0] <= 'Z') || (drive[0] >= 'a' && drive[0] <= 'z');
        if (!letter || drive[1] != ':' || drive[2] != '\0') {
            Fail(kErrorFileNotFound);
            return kInvalidHandle;
        }
        std::string root = std::string(1, drive[0]) + ":\\";
        if (uint32_t error = Resolve(root.c_str(), &host); error != kErrorSuccess) {
            Fail(error);
            return kInvalidHandle;
        }
        struct stat st;
        if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            Fail(kErrorFileNotFound);
            return kInvalidHandle;
        }
        if ((desiredAccess & kGenericWrite) != 0 && ::access(host.c_str(), W_OK) != 0) {
            FailErrno();
            return kInvalidHandle;
        }
        object->volume = true;
        object->fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        if (uint32_t error = Resolve(name, &host); error != kErrorSuccess) {
            Fail(error);
            return kInvalidHandle;
        }
        struct stat st;
        if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            Fail(kErrorAccessDenied);
            return kInvalidHandle;
        }
        int flags =
            (desiredAccess & kGenericWrite) != 0 ? ((desiredAccess & kGenericRead) != 0 ? O_RDWR : O_WRONLY) : O_RDONLY;
        object->fd = ::open(host.c_str(), flags | O_CLOEXEC);
    }
    if (object->fd < 0) {
        FailErrno();
        return kInvalidHandle;
    }
    return Insert(std::move(object));
}

bool PosixServices::FlushFileBuffers(Handle file) {
    Object* object = Find(file, kFile);
    if (object == nullptr) return Fail(kErrorInvalidHandle);
    if ((object->access & kGenericWrite) == 0) return Fail(kErrorAccessDenied);
    int result = object->volume ? ::syncfs(object->fd) : ::fsync(object->fd);
    if (result != 0) return FailErrno();
    return true;
}

// ---- Libraries ------------------------------------------------------------------

Handle PosixServices::LoadLibraryA(const char* name) {
    if (name == nullptr || *name == '\0') {
        Fail(kErrorInvalidParameter);
        return kNullHandle;
    }
    if (SameIgnoringCase(name, "kernel32") || SameIgnoringCase(name, "kernel32.dll")) return kKernel32;
    std::string file = name;
    if (file.find_first_of("\\/:") != std::string::npos) {
        if (uint32_t error = Resolve(name, &file); error != kErrorSuccess) {
            Fail(error);
            return kNullHandle;
        }
    }
    void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        Fail(kErrorModNotFound);
        return kNullHandle;
    }
    auto object = std::make_unique<Object>(kModule);
    object->library = library;
    return Insert(std::move(object));
}

bool PosixServices::FreeLibrary(Handle module) {
    if (module == kKernel32) return true;
    Object* object = Find(module, kModule);
    if (object == nullptr) return Fail(kErrorInvalidHandle);
    if (object->library != nullptr) ::dlclose(object->library);
    object->library = nullptr;
    objects_.erase(module);
    return true;
}

Handle PosixServices::GetModuleHandleA(const char* name) {
    if (name != nullptr && (SameIgnoringCase(name, "kernel32") || SameIgnoringCase(name, "kernel32.dll"))) {
        return kKernel32;
    }
    Fail(kErrorModNotFound);
    return kNullHandle;
}

Services::IsWow64ProcessFunction PosixServices::GetProcAddressIsWow64Process(Handle module) {
    if (module != kKernel32) {
        Fail(Find(module, kModule) != nullptr ? kErrorProcNotFound : kErrorModNotFound);
        return {};
    }
    bool answer = false;
    switch (config_.wow64) {
        case Wow64::Absent: Fail(kErrorProcNotFound); return {};
        case Wow64::Yes: answer = true; break;
        case Wow64::No: answer = false; break;
        case Wow64::Detect: {
            utsname system{};
            answer = sizeof(void*) == 4 && ::uname(&system) == 0 && std::strstr(system.machine, "64") != nullptr;
            break;
        }
    }
    // Valid while these services live; answers for the current process and
    // for process handles it holds.
    return [this, answer](Handle process, bool* wow64) {
        if (wow64 == nullptr) return Fail(kErrorInvalidParameter);
        if (process != kInvalidHandle && ProcessOf(process) == nullptr) return Fail(kErrorInvalidHandle);
        *wow64 = answer;
        return true;
    };
}

}  // namespace winsvc
