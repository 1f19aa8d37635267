#include "winsvc/posix_services.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_space.hpp"
#include "winsvc/command_line.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace winsvc;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class PosixServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().string().empty());
        root_ = temp_.Path().string() + "/root";
        fs::create_directories(root_ + "/C/Station");
        config_.driveRoot = root_;
        config_.windowRegistry = temp_.Path().string() + "/windows";
    }
    std::string Host(const std::string& path) {
        std::string host;
        EXPECT_EQ(ResolveUnderRoot(root_, path, &host), kErrorSuccess) << path;
        return host;
    }

    zvtest::TempFileSpace temp_{"winsvc", zvtest::TempFileSpace::Root::kLeave};
    std::string root_;
    PosixConfig config_;
};

TEST_F(PosixServicesTest, StationPathsMapUnderTheDriveRoot) {
    fs::create_directories(root_ + "/C/Station/Data");
    struct Case {
        const char* path;
        std::string host;
    };
    const Case cases[] = {
        {"C:\\Station\\Data", root_ + "/C/Station/Data"},
        {"c:/station/DATA", root_ + "/C/Station/Data"},
        {"C:\\Station\\New\\file.xml", root_ + "/C/Station/New/file.xml"},
        {"\\C\\Station", root_ + "/C/Station"},
        {"C:\\Station\\.\\Data\\..\\Data", root_ + "/C/Station/Data"},
        {"D:\\x", root_ + "/D/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Host(c.path), c.host);
    }
}

TEST_F(PosixServicesTest, PathsLeavingTheRootAreRefused) {
    fs::create_symlink("/etc", root_ + "/C/out");
    std::string host;
    EXPECT_EQ(ResolveUnderRoot(root_, "C:\\..\\..\\etc", &host), kErrorAccessDenied);
    EXPECT_EQ(ResolveUnderRoot(root_, "..\\x", &host), kErrorAccessDenied);
    EXPECT_EQ(ResolveUnderRoot(root_, "C:\\out\\passwd", &host), kErrorAccessDenied);
    EXPECT_EQ(ResolveUnderRoot(root_, "", &host), kErrorPathNotFound);
    EXPECT_TRUE(host.empty());

    PosixServices services(config_);
    EXPECT_EQ(services.GetFileAttributesA("C:\\out\\passwd"), kInvalidFileAttributes);
    EXPECT_EQ(services.GetLastError(), kErrorAccessDenied);
    std::string longPath = "C:\\" + std::string(kMaxPath, 'a');
    EXPECT_EQ(services.GetFileAttributesA(longPath.c_str()), kInvalidFileAttributes);
    EXPECT_EQ(services.GetLastError(), kErrorFilenameExcedRange);
}

TEST_F(PosixServicesTest, ReadOnlyIsAFileWithoutWriteBits) {
    PosixServices services(config_);
    std::string host = root_ + "/C/Station/model.xml";
    WriteText(host, "<a/>");
    ::chmod(host.c_str(), 0444);

    uint32_t attributes = services.GetFileAttributesA("C:\\Station\\MODEL.xml");
    ASSERT_NE(attributes, kInvalidFileAttributes);
    EXPECT_NE(attributes & kFileAttributeReadonly, 0u);
    EXPECT_EQ(attributes & kFileAttributeDirectory, 0u);

    ASSERT_TRUE(services.SetFileAttributesA("C:\\Station\\model.xml", attributes & ~kFileAttributeReadonly));
    struct stat st;
    ASSERT_EQ(::stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(services.GetFileAttributesA("C:\\Station\\model.xml") & kFileAttributeReadonly, 0u);

    ASSERT_TRUE(services.SetFileAttributesA("C:\\Station\\model.xml", kFileAttributeReadonly));
    ASSERT_EQ(::stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);

    EXPECT_EQ(services.GetFileAttributesA("C:\\Station"), kFileAttributeDirectory);
    EXPECT_EQ(services.GetFileAttributesA("C:\\Station\\missing.xml"), kInvalidFileAttributes);
    EXPECT_EQ(services.GetLastError(), kErrorFileNotFound);
    EXPECT_FALSE(services.SetFileAttributesA("C:\\Station\\missing.xml", 0));
    EXPECT_EQ(services.GetLastError(), kErrorFileNotFound);
}

TEST_F(PosixServicesTest, VolumesOpenAndFlushByDriveLetter) {
    PosixServices services(config_);
    const uint32_t share = kFileShareRead | kFileShareWrite | kFileShareDelete;
    Handle volume = services.CreateFileA("\\\\.\\c:", kGenericWrite, share, kOpenExisting, 0);
    ASSERT_NE(volume, kInvalidHandle);
    EXPECT_TRUE(services.FlushFileBuffers(volume));
    EXPECT_TRUE(services.CloseHandle(volume));
    EXPECT_FALSE(services.FlushFileBuffers(volume));
    EXPECT_EQ(services.GetLastError(), kErrorInvalidHandle);

    // Flushing needs the volume opened for writing.
    Handle readOnly = services.CreateFileA("\\\\.\\C:", kGenericRead, share, kOpenExisting, 0);
    ASSERT_NE(readOnly, kInvalidHandle);
    EXPECT_FALSE(services.FlushFileBuffers(readOnly));
    EXPECT_EQ(services.GetLastError(), kErrorAccessDenied);
    services.CloseHandle(readOnly);

    struct Case {
        std::string name;
        uint32_t error;
    };
    const Case failures[] = {
        {"\\\\.\\Q:", kErrorFileNotFound},   // no such drive
        {"\\\\.\\CC:", kErrorFileNotFound},  // not a drive letter
        {"\\\\.\\C:\\", kErrorFileNotFound},
        {"\\\\.\\" + std::string(kMaxPath, 'x') + ":", kErrorFilenameExcedRange},
        {"C:\\Station", kErrorAccessDenied},  // a folder is no file
        {"C:\\Station\\none.bin", kErrorFileNotFound},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(services.CreateFileA(c.name.c_str(), kGenericWrite, share, kOpenExisting, 0), kInvalidHandle);
        EXPECT_EQ(services.GetLastError(), c.error);
    }
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(PosixServicesTest, CreateProcessPassesTheWordsAndReturnsTheExitCode) {
    PosixServices services(config_);
    std::string out = temp_.Path().string() + "/args.txt";
    // sh finds itself in PATH; the words reach it unchanged, not through a shell.
    std::string line = "sh -c " + QuoteWindowsArgument("printf '%s|' \"$@\" > " + out + "; exit 7") + " sh " +
                       QuoteWindowsArgument("a b") + " " + QuoteWindowsArgument("c\"d") + " ;x $HOME";
    ProcessInformation info;
    ASSERT_TRUE(services.CreateProcessA(nullptr, line.c_str(), false, kDetachedProcess, &info));
    EXPECT_NE(info.processId, 0u);
    EXPECT_EQ(services.WaitForSingleObject(info.process, kInfinite), kWaitObject0);
    uint32_t code = 0;
    ASSERT_TRUE(services.GetExitCodeProcess(info.process, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(ReadText(out), "a b|c\"d|;x|$HOME|");
    EXPECT_TRUE(services.CloseHandle(info.process));
    EXPECT_TRUE(services.CloseHandle(info.thread));
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(PosixServicesTest, CreateProcessFindsStationPathsAndKeepsHandlesPrivate) {
    // A program under the drive root, named by its station path in quotes.
    fs::create_directories(root_ + "/C/Program Files");
    std::string program = root_ + "/C/Program Files/probe";
    std::string out = temp_.Path().string() + "/probe.txt";
    WriteText(program, "#!/bin/sh\nif [ -e /proc/self/fd/57 ]; then echo inherited; else echo private; fi > " + out +
                           "\nexit 3\n");
    ::chmod(program.c_str(), 0755);
    int open = ::open("/dev/null", O_RDONLY);  // without close-on-exec
    ASSERT_GE(open, 0);
    ASSERT_EQ(::dup2(open, 57), 57);
    ::close(open);

    PosixServices services(config_);
    ProcessInformation info;
    ASSERT_TRUE(services.CreateProcessA(nullptr, "\"c:\\program files\\PROBE\" x", false, 0, &info));
    EXPECT_EQ(services.WaitForSingleObject(info.process, kInfinite), kWaitObject0);
    uint32_t code = 0;
    ASSERT_TRUE(services.GetExitCodeProcess(info.process, &code));
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(ReadText(out), "private\n");
    services.CloseHandle(info.process);
    services.CloseHandle(info.thread);
    ::close(57);

    EXPECT_FALSE(services.CreateProcessA(nullptr, "no-such-program-here x", false, 0, &info));
    EXPECT_EQ(services.GetLastError(), kErrorFileNotFound);
    EXPECT_EQ(info.process, kNullHandle);
    EXPECT_FALSE(services.CreateProcessA(nullptr, "\"C:\\Station\" x", false, 0, &info));
    EXPECT_EQ(services.GetLastError(), kErrorAccessDenied);
    EXPECT_FALSE(services.CreateProcessA(nullptr, "", false, 0, &info));
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(PosixServicesTest, SystemRunsTheCommandInterpreter) {
    PosixServices services(config_);
    std::string out = temp_.Path().string() + "/system.txt";
    std::string word = "x'; touch " + temp_.Path().string() + "/injected; '";
    std::string command = "printf %s " + services.QuoteForCommandInterpreter(word) + " > " + out + "; exit 4";
    EXPECT_EQ(services.System(command.c_str()), 4);
    EXPECT_EQ(ReadText(out), word);
    EXPECT_FALSE(fs::exists(temp_.Path().string() + "/injected"));
    EXPECT_EQ(services.System("kill -9 $$"), 128 + SIGKILL);
    EXPECT_EQ(services.System(nullptr), 1);
}

// A process that is not a child of the services: started here, by the test.
pid_t StartSleeper() {
    pid_t pid = 0;
    char sleep[] = "sleep";
    char seconds[] = "1000";
    char* argv[] = {sleep, seconds, nullptr};
    if (::posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) != 0) return 0;
    return pid;
}

TEST_F(PosixServicesTest, WindowsByTitleLeadToTheirProcess) {
    pid_t sleeper = StartSleeper();
    ASSERT_GT(sleeper, 0);
    WindowRegistry registry(config_.windowRegistry);
    ASSERT_TRUE(registry.Register("zvHealthAnchor", static_cast<uint32_t>(sleeper)));
    ASSERT_TRUE(registry.Register("../escape/title", static_cast<uint32_t>(sleeper)));
    EXPECT_TRUE(fs::exists(config_.windowRegistry));
    EXPECT_FALSE(fs::exists(temp_.Path().string() + "/escape"));

    PosixServices services(config_);
    EXPECT_EQ(services.FindWindowA(nullptr, "zvhealthanchor"), kNullHandle);  // titles match exactly
    Handle window = services.FindWindowA(nullptr, "zvHealthAnchor");
    ASSERT_NE(window, kNullHandle);
    EXPECT_NE(services.FindWindowA(nullptr, "../escape/title"), kNullHandle);
    uint32_t pid = 0;
    EXPECT_NE(services.GetWindowThreadProcessId(window, &pid), 0u);
    EXPECT_EQ(pid, static_cast<uint32_t>(sleeper));

    Handle process = services.OpenProcess(kProcessAllAccess, false, pid);
    ASSERT_NE(process, kNullHandle);
    EXPECT_EQ(services.WaitForSingleObject(process, 10), kWaitTimeout);
    uint32_t code = 0;
    ASSERT_TRUE(services.GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, kStillActive);
    ASSERT_TRUE(services.TerminateProcess(process, 0));
    EXPECT_EQ(services.WaitForSingleObject(process, kInfinite), kWaitObject0);
    ASSERT_TRUE(services.GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, 0u);  // the code it was terminated with
    EXPECT_FALSE(services.TerminateProcess(process, 0));
    EXPECT_TRUE(services.CloseHandle(process));

    // Ended (not yet collected by its parent): its windows are gone.
    EXPECT_EQ(services.FindWindowA(nullptr, "zvHealthAnchor"), kNullHandle);
    int status = 0;
    ASSERT_EQ(::waitpid(sleeper, &status, 0), sleeper);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(services.GetWindowThreadProcessId(window, &pid), 0u);
    EXPECT_EQ(pid, 0u);
    EXPECT_EQ(services.OpenProcess(kProcessAllAccess, false, static_cast<uint32_t>(sleeper)), kNullHandle);
    EXPECT_EQ(services.OpenProcess(kProcessAllAccess, false, 0), kNullHandle);
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(PosixServicesTest, ShutdownNeedsTheConfiguredCommand) {
    {
        PosixServices services(config_);  // no command: the privilege is not held
        Handle token = kNullHandle;
        ASSERT_TRUE(
            services.OpenProcessToken(services.GetCurrentProcess(), kTokenAdjustPrivileges | kTokenQuery, &token));
        Luid luid;
        ASSERT_TRUE(services.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
        EXPECT_TRUE(services.AdjustTokenPrivileges(token, luid, kSePrivilegeEnabled));
        EXPECT_EQ(services.GetLastError(), kErrorNotAllAssigned);
        EXPECT_FALSE(services.InitiateSystemShutdownA(nullptr, nullptr, 15, true, false));
        EXPECT_EQ(services.GetLastError(), kErrorPrivilegeNotHeld);
        EXPECT_TRUE(services.CloseHandle(token));
        EXPECT_FALSE(services.LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
        EXPECT_EQ(services.GetLastError(), kErrorNoSuchPrivilege);
    }
    std::string out = temp_.Path().string() + "/shutdown.txt";
    config_.shutdownCommand = "echo \"$1 $2 $3\" > " + out;
    PosixServices services(config_);
    Handle token = kNullHandle;
    ASSERT_TRUE(services.OpenProcessToken(services.GetCurrentProcess(), kTokenQuery, &token));
    Luid luid;
    ASSERT_TRUE(services.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
    EXPECT_FALSE(services.AdjustTokenPrivileges(token, luid, kSePrivilegeEnabled));  // not opened for adjusting
    EXPECT_EQ(services.GetLastError(), kErrorAccessDenied);
    services.CloseHandle(token);
    ASSERT_TRUE(services.OpenProcessToken(services.GetCurrentProcess(), kTokenAdjustPrivileges, &token));
    EXPECT_FALSE(services.InitiateSystemShutdownA(nullptr, nullptr, 15, true, false));  // not enabled yet
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(services.AdjustTokenPrivileges(token, luid, kSePrivilegeEnabled));
    EXPECT_EQ(services.GetLastError(), kErrorSuccess);
    EXPECT_TRUE(services.InitiateSystemShutdownA(nullptr, nullptr, 15, true, false));
    EXPECT_EQ(ReadText(out), "15 1 0\n");
    services.CloseHandle(token);
}

TEST_F(PosixServicesTest, LibrariesAndTheWow64LookUp) {
    PosixServices services(config_);
    Handle libc = services.LoadLibraryA("libc.so.6");
    ASSERT_NE(libc, kNullHandle);
    EXPECT_FALSE(services.CloseHandle(libc));  // libraries are freed, not closed
    EXPECT_TRUE(services.FreeLibrary(libc));
    EXPECT_EQ(services.LoadLibraryA("opengl32.dll"), kNullHandle);
    EXPECT_EQ(services.GetLastError(), kErrorModNotFound);
    EXPECT_EQ(services.OpenHandleCount(), 0u);

    struct Case {
        Wow64 mode;
        bool present;
        bool answer;
    };
    const Case cases[] = {{Wow64::Absent, false, false},
                          {Wow64::Yes, true, true},
                          {Wow64::No, true, false},
                          {Wow64::Detect, true, sizeof(void*) == 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        config_.wow64 = c.mode;
        PosixServices configured(config_);
        Handle kernel = configured.GetModuleHandleA("kernel32");
        ASSERT_NE(kernel, kNullHandle);
        Services::IsWow64ProcessFunction isWow64 = configured.GetProcAddressIsWow64Process(kernel);
        ASSERT_EQ(static_cast<bool>(isWow64), c.present);
        if (!c.present) {
            EXPECT_EQ(configured.GetLastError(), kErrorProcNotFound);
            continue;
        }
        bool wow64 = !c.answer;
        ASSERT_TRUE(isWow64(configured.GetCurrentProcess(), &wow64));
        EXPECT_EQ(wow64, c.answer);
    }
    EXPECT_EQ(services.GetModuleHandleA("user32"), kNullHandle);
}

}  // namespace
