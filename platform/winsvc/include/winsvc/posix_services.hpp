// The Windows services on this machine.
//
// - Drives: the drive letter X of a path ("X:\..." or the volume
//   "\\.\X:") names the folder X under the drive root; paths without a drive
//   lie under the drive root as well. Names are matched without regard to
//   case; ".." and links that would leave the root are refused.
// - Processes are real; the command interpreter is "/bin/sh -c". Programs
//   named without a folder are searched in PATH. A detached process gets
//   /dev/null as its standard streams and a session of its own. A process
//   ended by a signal other than TerminateProcess reports 128 + the signal.
// - Read-only is a file without write bits; clearing it gives the owner
//   write access.
// - Volumes: flushing a volume syncs the file system that holds the drive's
//   folder (syncfs); opening it for writing needs write access to the
//   folder.
// - Top-level windows: a process shows a window by joining the window
//   registry (WindowRegistry below) under its title.
// - Shutdown runs the configured shutdown command; the process holds the
//   shutdown privilege only when there is one. Without it, shutdown is
//   refused and nothing runs.
// - Libraries load with dlopen; "kernel32" is always loaded and offers
//   IsWow64Process as configured.
#ifndef WINSVC_POSIX_SERVICES_HPP
#define WINSVC_POSIX_SERVICES_HPP

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "winsvc/services.hpp"

namespace winsvc {

// Whether IsWow64Process exists and what it answers.
enum class Wow64 {
    Detect,  // present: yes for a 32-bit process on a 64-bit kernel
    Yes,     // present, always yes (a 32-bit install on a 64-bit station)
    No,      // present, always no
    Absent,  // the system lacks it
};

// Maps a path of the station computer to this machine's path. Returns a
// Windows error number, kErrorSuccess when `*hostPath` was set.
using PathResolver = std::function<uint32_t(const std::string& path, std::string* hostPath)>;

struct PosixConfig {
    std::string driveRoot;       // folder holding one folder per drive letter; "" = current folder
    std::string windowRegistry;  // folder of the window registry; "" = DefaultWindowRegistryFolder()
    // Run through /bin/sh -c by InitiateSystemShutdownA with the time-out in
    // seconds, force (0/1) and reboot (0/1) as $1 $2 $3; "" = no shutdown.
    std::string shutdownCommand;
    Wow64 wow64 = Wow64::Detect;
    // Replaces the drive-root mapping (for example by the file space of
    // zvApi, so that both see one disk); empty = map under driveRoot.
    PathResolver resolver;
};

// The folder of the window registry when none is configured: the
// environment's BRENVIK_WINDOWS, else $XDG_RUNTIME_DIR/zvwindows, else
// /tmp/zvwindows-<uid>.
std::string DefaultWindowRegistryFolder();

// Maps `path` under `root` by the drive rules above (existing names matched
// without regard to case, missing ones kept as given). Returns kErrorSuccess,
// kErrorAccessDenied for a path that leaves the root, kErrorPathNotFound for
// an empty path.
uint32_t ResolveUnderRoot(const std::string& root, const std::string& path, std::string* hostPath);

// The Windows error number for an errno value.
uint32_t WindowsErrorFromErrno(int error);

// The top-level windows of this machine: one file per title in a folder,
// holding the id of the process that shows it. Only files of the calling
// user count, and only while their process lives.
class WindowRegistry {
public:
    explicit WindowRegistry(std::string folder);
    // Shows a window titled `title` for process `processId` (creating the
    // folder, private to the user, when needed). False when it cannot be
    // written.
    bool Register(const std::string& title, uint32_t processId) const;
    // Removes the window, if it is still the one of `processId`.
    void Unregister(const std::string& title, uint32_t processId) const;
    // The process showing a live window titled `title`.
    std::optional<uint32_t> Find(const std::string& title) const;
    const std::string& folder() const { return folder_; }

private:
    std::string PathOf(const std::string& title) const;
    std::string folder_;
};

class PosixServices final : public Services {
public:
    explicit PosixServices(PosixConfig config);
    ~PosixServices() override;  // closes every handle still open
    PosixServices(const PosixServices&) = delete;
    PosixServices& operator=(const PosixServices&) = delete;

    uint32_t GetLastError() override;
    Handle GetCurrentProcess() override;
    bool CloseHandle(Handle object) override;

    bool OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) override;
    bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
    bool AdjustTokenPrivileges(Handle token, Luid privilege, uint32_t attributes) override;
    bool InitiateSystemShutdownA(const char* machineName, const char* message, uint32_t timeoutSeconds,
                                 bool forceAppsClosed, bool rebootAfterShutdown) override;

    Handle FindWindowA(const char* className, const char* windowName) override;
    uint32_t GetWindowThreadProcessId(Handle window, uint32_t* processId) override;

    Handle OpenProcess(uint32_t desiredAccess, bool inheritHandle, uint32_t processId) override;
    bool TerminateProcess(Handle process, uint32_t exitCode) override;
    uint32_t WaitForSingleObject(Handle object, uint32_t milliseconds) override;
    bool CreateProcessA(const char* applicationName, const char* commandLine, bool inheritHandles,
                        uint32_t creationFlags, ProcessInformation* info) override;
    bool GetExitCodeProcess(Handle process, uint32_t* exitCode) override;
    int System(const char* command) override;

    uint32_t GetFileAttributesA(const char* path) override;
    bool SetFileAttributesA(const char* path, uint32_t attributes) override;
    Handle CreateFileA(const char* name, uint32_t desiredAccess, uint32_t shareMode, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes) override;
    bool FlushFileBuffers(Handle file) override;

    Handle LoadLibraryA(const char* name) override;
    bool FreeLibrary(Handle module) override;
    Handle GetModuleHandleA(const char* name) override;
    IsWow64ProcessFunction GetProcAddressIsWow64Process(Handle module) override;

    // Open handles (tokens, processes, threads, files, libraries), for tests.
    size_t OpenHandleCount() const { return objects_.size(); }

private:
    struct Object;
    struct Process;

    Handle Insert(std::unique_ptr<Object> object);
    Object* Find(Handle handle, int kind);
    std::shared_ptr<Process> ProcessOf(Handle handle);
    uint32_t Resolve(const char* path, std::string* hostPath);
    bool Fail(uint32_t error);
    bool FailErrno();
    bool WaitProcess(Process& process, int timeoutMs, bool* ended);
    bool SearchProgram(const std::string& name, std::string* hostPath);

    PosixConfig config_;
    WindowRegistry windows_;
    uint32_t lastError_ = 0;
    bool shutdownEnabled_ = false;  // the shutdown privilege, enabled in the process token
    Handle nextHandle_ = 4;
    std::map<Handle, std::unique_ptr<Object>> objects_;
    std::map<uint32_t, std::weak_ptr<Process>> children_;  // started here, by id
};

}  // namespace winsvc

#endif
