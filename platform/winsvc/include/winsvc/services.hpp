// The Windows services of the station computer that Brenvik calls, behind
// one interface: process tokens and privileges, shutdown, top-level windows,
// processes, the command interpreter, file attributes, volumes and library
// loading.
//
// The operations keep the Windows names, arguments and conventions: a call
// that fails returns false (or a null / invalid handle) and sets the last
// error, read with GetLastError; handles are released with CloseHandle,
// libraries with FreeLibrary. Backends: PosixServices (posix_services.hpp)
// does the real thing on this machine, ScriptedServices
// (scripted_services.hpp) records calls and answers from a script for tests.
// One object serves one thread.
#ifndef WINSVC_SERVICES_HPP
#define WINSVC_SERVICES_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace winsvc {

// A kernel object, window or module; 0 is none.
using Handle = std::uintptr_t;
inline constexpr Handle kNullHandle = 0;
// What CreateFileA returns on failure; also the pseudo handle of the
// calling process (GetCurrentProcess), which needs no CloseHandle.
inline constexpr Handle kInvalidHandle = ~Handle{0};

// Windows error numbers the backends report.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorModNotFound = 126;
inline constexpr uint32_t kErrorProcNotFound = 127;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorNotAllAssigned = 1300;
inline constexpr uint32_t kErrorNoSuchPrivilege = 1313;
inline constexpr uint32_t kErrorPrivilegeNotHeld = 1314;
inline constexpr uint32_t kErrorInvalidWindowHandle = 1400;
// An operating-system error with no Windows counterpart: this bit (the
// application bit of Windows error numbers) with the errno value below it.
inline constexpr uint32_t kErrorFromErrno = 0x20000000;

// Paths of the station computer fit in this many characters with their
// terminator (259 characters at most); longer ones fail with
// kErrorFilenameExcedRange.
inline constexpr size_t kMaxPath = 260;

// Access rights, flags and values.
inline constexpr uint32_t kTokenQuery = 0x0008;
inline constexpr uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr uint32_t kSePrivilegeEnabled = 0x00000002;
inline constexpr uint32_t kProcessAllAccess = 0x001FFFFF;
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kFileShareRead = 0x1;
inline constexpr uint32_t kFileShareWrite = 0x2;
inline constexpr uint32_t kFileShareDelete = 0x4;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kDetachedProcess = 0x00000008;
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 0x102;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr uint32_t kStillActive = 259;

// File attributes.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t kFileAttributeReadonly = 0x01;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kFileAttributeNormal = 0x80;

// A privilege's locally unique identifier.
struct Luid {
    uint32_t lowPart = 0;
    int32_t highPart = 0;
    bool operator==(const Luid&) const = default;
};

// What CreateProcessA gives back: both handles belong to the caller.
struct ProcessInformation {
    Handle process = kNullHandle;
    Handle thread = kNullHandle;
    uint32_t processId = 0;
    uint32_t threadId = 0;
};

class Services {
public:
    virtual ~Services() = default;

    // The error of the last call that failed (or that set it on success,
    // like AdjustTokenPrivileges).
    virtual uint32_t GetLastError() = 0;
    // The pseudo handle of the calling process (kInvalidHandle).
    virtual Handle GetCurrentProcess() = 0;
    // Releases a token, process, thread or file handle.
    virtual bool CloseHandle(Handle object) = 0;

    // ---- Tokens and privileges ----------------------------------------------
    // Opens the access token of `process`; `*token` is 0 on failure.
    virtual bool OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) = 0;
    // The identifier of the privilege called `name` ("SeShutdownPrivilege")
    // on `systemName` (null: this computer).
    virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;
    // Sets one privilege's attributes (kSePrivilegeEnabled or 0). Succeeds
    // also when the token does not hold the privilege: the last error is
    // then kErrorNotAllAssigned, otherwise kErrorSuccess.
    virtual bool AdjustTokenPrivileges(Handle token, Luid privilege, uint32_t attributes) = 0;
    // Starts the shutdown of `machineName` (null: this computer) after
    // `timeoutSeconds`; needs the shutdown privilege enabled.
    virtual bool InitiateSystemShutdownA(const char* machineName, const char* message, uint32_t timeoutSeconds,
                                         bool forceAppsClosed, bool rebootAfterShutdown) = 0;

    // ---- Windows -------------------------------------------------------------
    // The top-level window with the title `windowName` (`className` null:
    // any class), or 0.
    virtual Handle FindWindowA(const char* className, const char* windowName) = 0;
    // The id of the thread that made `window` (0 when it is gone); the
    // process id goes to `*processId` (may be null).
    virtual uint32_t GetWindowThreadProcessId(Handle window, uint32_t* processId) = 0;

    // ---- Processes -----------------------------------------------------------
    // A handle to the running process `processId`, or 0.
    virtual Handle OpenProcess(uint32_t desiredAccess, bool inheritHandle, uint32_t processId) = 0;
    // Ends the process at once; its exit code becomes `exitCode`.
    virtual bool TerminateProcess(Handle process, uint32_t exitCode) = 0;
    // Waits for a process (or thread) to end: kWaitObject0 when it has,
    // kWaitTimeout when `milliseconds` passed first (kInfinite: no limit),
    // kWaitFailed for a handle that cannot be waited on.
    virtual uint32_t WaitForSingleObject(Handle object, uint32_t milliseconds) = 0;
    // Starts the program named by `applicationName`, or when that is null by
    // the first word of `commandLine` (Windows quoting rules), with the
    // command line's words as its arguments. Not through the command
    // interpreter. `creationFlags` may hold kDetachedProcess (no console).
    // On success `*info` holds new process and thread handles.
    virtual bool CreateProcessA(const char* applicationName, const char* commandLine, bool inheritHandles,
                                uint32_t creationFlags, ProcessInformation* info) = 0;
    // The exit code of a process that ended, kStillActive while it runs.
    virtual bool GetExitCodeProcess(Handle process, uint32_t* exitCode) = 0;
    // Runs `command` through the command interpreter and waits for it, as
    // the C runtime's system(): the command's exit status, or -1 when the
    // interpreter could not be started.
    virtual int System(const char* command) = 0;
    // `word` as one argument for the command interpreter of System, none of
    // its characters acting as syntax; words of harmless characters only
    // come back unchanged. The default is the POSIX shell's single quoting.
    virtual std::string QuoteForCommandInterpreter(std::string_view word);

    // ---- Files and volumes ---------------------------------------------------
    // The attributes of a file or folder, or kInvalidFileAttributes.
    virtual uint32_t GetFileAttributesA(const char* path) = 0;
    virtual bool SetFileAttributesA(const char* path, uint32_t attributes) = 0;
    // Opens an existing file or a volume ("\\.\C:"); kInvalidHandle on
    // failure (not 0).
    virtual Handle CreateFileA(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                               uint32_t creationDisposition, uint32_t flagsAndAttributes) = 0;
    // Writes what the file or volume holds in memory to its storage.
    virtual bool FlushFileBuffers(Handle file) = 0;

    // ---- Libraries -----------------------------------------------------------
    // Loads a library (0 when it cannot be loaded); release with FreeLibrary.
    virtual Handle LoadLibraryA(const char* name) = 0;
    virtual bool FreeLibrary(Handle module) = 0;
    // A library the process already has loaded ("kernel32"), not counted
    // as a new load; 0 when it has none of that name.
    virtual Handle GetModuleHandleA(const char* name) = 0;

    // IsWow64Process as found at run time in a module: whether a process
    // runs as a 32-bit process on 64-bit Windows.
    using IsWow64ProcessFunction = std::function<bool(Handle process, bool* wow64)>;
    // GetProcAddress(module, "IsWow64Process"): empty when the module does
    // not have it (older systems), with the last error set.
    virtual IsWow64ProcessFunction GetProcAddressIsWow64Process(Handle module) = 0;
};

}  // namespace winsvc

#endif
