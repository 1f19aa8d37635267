// Scripted Windows services for tests: every call is recorded, answers come
// from the state set up below, and any call can be made to fail.
//
// The record holds one line per call: its name, then its arguments in
// parentheses separated by ", " (texts as given, numbers in decimal, access
// rights and flags in hexadecimal), for example
//   CreateProcessA(null, "C:\App\zvX64Launcher.exe" ewfmgr C: -commit, 0, 0x8)
// Handles are small numbers from 4 up; closing an unknown one fails.
#ifndef WINSVC_SCRIPTED_SERVICES_HPP
#define WINSVC_SCRIPTED_SERVICES_HPP

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "winsvc/services.hpp"

namespace winsvc {

class ScriptedServices final : public Services {
public:
    enum class Wow64 { Absent, No, Yes };

    // ---- The scripted station ------------------------------------------------
    // The token holds the shutdown privilege (else enabling it leaves the
    // last error kErrorNotAllAssigned).
    bool holdsShutdownPrivilege = true;
    // Files by exact path with their attributes; others do not exist.
    std::map<std::string, uint32_t> files;
    // Top-level windows: title -> the id of the process showing it.
    std::map<std::string, uint32_t> windows;
    // Ids of running processes that OpenProcess can open.
    std::set<uint32_t> processes;
    // Names LoadLibraryA can load.
    std::set<std::string> libraries;
    // Volume names CreateFileA can open.
    std::set<std::string> volumes{"\\\\.\\C:"};
    // Exit codes by command line (CreateProcessA) or command (System);
    // 0 for one not listed.
    std::map<std::string, int> exitCodes;
    // IsWow64Process in "kernel32", and its answer.
    Wow64 wow64 = Wow64::No;

    // The next call of `call` (a member name, "IsWow64Process" for the
    // looked-up function) fails with `error`; several queue up in order.
    void FailNext(const std::string& call, uint32_t error);

    // ---- What happened -------------------------------------------------------
    const std::vector<std::string>& Calls() const { return calls_; }
    // The recorded lines of one call name.
    std::vector<std::string> CallsOf(const std::string& name) const;
    void ClearCalls() { calls_.clear(); }
    // Handles made and not yet closed (libraries included).
    size_t OpenHandleCount() const { return handles_.size(); }
    bool shutdownStarted = false;
    bool shutdownPrivilegeEnabled = false;
    std::set<uint32_t> terminated;  // ids of processes ended by TerminateProcess

    // ---- Services --------------------------------------------------------------
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

private:
    struct Entry {
        std::string kind;  // "token", "process", "thread", "file", "module"
        std::string what;  // the command line, volume or library
        uint32_t processId = 0;
        bool started = false;  // made by CreateProcessA: it ends when waited for
        bool ended = false;
        uint32_t exitCode = 0;
    };

    void Record(std::string line);
    // True (with the last error set) when a failure is queued for `call`.
    bool Scripted(const std::string& call);
    Handle Add(Entry entry);
    Entry* Lookup(Handle handle, const char* kind);

    std::vector<std::string> calls_;
    std::map<std::string, std::deque<uint32_t>> failures_;
    std::map<Handle, Entry> handles_;
    Handle nextHandle_ = 4;
    uint32_t lastError_ = 0;
    uint32_t nextProcessId_ = 1000;
};

}  // namespace winsvc

#endif
