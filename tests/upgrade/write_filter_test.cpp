#include <gtest/gtest.h>

#include "brenvik.hpp"
#include "support/fault_loop.hpp"
#include "test_support.hpp"
#include "winsvc/scripted_services.hpp"

namespace {

using namespace brenvik_test;
using winsvc::ScriptedServices;
using Lines = std::vector<std::string>;

class WriteFilterTest : public StationTest {
protected:
    ScriptedServices services_;
};

TEST_F(WriteFilterTest, StationTypeComesFromTheStationInfo) {
    struct Case {
        const char* name;
        std::string content;  // empty: no file
        int type;
        std::string reason = "";  // printed before the type
    };
    const Case cases[] = {
        {"file-based filter", "<StationInfo><Type>Lamina-XPE</Type></StationInfo>", 1},
        {"lower case", "<StationInfo><Type>lamina-xpe</Type></StationInfo>", 0},
        {"longer text", "<StationInfo><Type>Lamina-XPE2</Type></StationInfo>", 0},
        {"other type", "<StationInfo><Type>Lamina-EWF</Type></StationInfo>", 0},
        {"no Type", "<StationInfo><Kind>Lamina-XPE</Kind></StationInfo>", 0},
        {"Type deeper down", "<StationInfo><A><Type>Lamina-XPE</Type></A></StationInfo>", 0},
        {"malformed", "<StationInfo><Type>Lamina-XPE</Type>", 0,
         "Brenvik: \"C:\\Station\\_StationInfo.xml\": line 1: start-end tags mismatch\n"},
        {"not UTF-8", "<StationInfo><Type>Lamina-XPE\xFF</Type></StationInfo>", 0,
         "Brenvik: \"C:\\Station\\_StationInfo.xml\": line 1: bytes that are not UTF-8 text\n"},
        {"type of 300 characters", "<StationInfo><Type>Lamina-XPE" + std::string(290, 'x') + "</Type></StationInfo>",
         0},
        {"missing", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Host("C/Station/_StationInfo.xml"));
        if (!c.content.empty()) WriteText(Host("C/Station/_StationInfo.xml"), c.content);
        int type = -1;
        std::string out = Output([&] { type = brenvik::DetectStationType("C:\\Station"); });
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(out, c.reason + "Brenvik: Detected station type " + std::to_string(c.type) + ".\n");
    }
    // A folder whose combined path does not fit is reported, type 0.
    std::string longFolder = "C:\\" + std::string(250, 'f');
    std::string out = Output([&] { EXPECT_EQ(brenvik::DetectStationType(longFolder.c_str()), 0); });
    EXPECT_NE(out.find("Path too long"), std::string::npos) << out;
    EXPECT_NE(out.find("Brenvik: Detected station type 0.\n"), std::string::npos) << out;
}

TEST_F(WriteFilterTest, CommitCommandLinesByStationType) {
    struct Case {
        const char* name;
        int type;
        ScriptedServices::Wow64 wow64;
        const char* path;
        Lines system;
        Lines processes;
    };
    const Case cases[] = {
        {"file-based filter",
         1,
         ScriptedServices::Wow64::Yes,
         "C:\\Station\\data.bin",
         {"System(fbwfmgr /commit C: '\\Station\\data.bin')"},
         {}},
        {"file-based, rest with blanks and syntax",
         1,
         ScriptedServices::Wow64::No,
         "C:\\a b;rm -rf x\\it's",
         {"System(fbwfmgr /commit C: '\\a b;rm -rf x\\it'\\''s')"},
         {}},
        {"file-based, drive alone", 1, ScriptedServices::Wow64::No, "C:", {"System(fbwfmgr /commit C: )"}, {}},
        {"enhanced filter", 0, ScriptedServices::Wow64::No, "C:\\Station\\data.bin", {"System(ewfmgr C: -commit)"}, {}},
        {"no IsWow64Process", 0, ScriptedServices::Wow64::Absent, "D:\\x", {"System(ewfmgr D: -commit)"}, {}},
        {"drive with syntax",
         0,
         ScriptedServices::Wow64::No,
         "$(reboot):\\x",
         {"System(ewfmgr '$(reboot):' -commit)"},
         {}},
        {"32-bit on 64-bit",
         0,
         ScriptedServices::Wow64::Yes,
         "C:\\Station\\data.bin",
         {},
         {"CreateProcessA(null, \"C:\\Anvora\\zvX64Launcher.exe\" ewfmgr C: -commit, 0, 0x8)"}},
        {"32-bit on 64-bit, drive with blanks",
         0,
         ScriptedServices::Wow64::Yes,
         "a b:\\x",
         {},
         {"CreateProcessA(null, \"C:\\Anvora\\zvX64Launcher.exe\" ewfmgr \"a b:\" -commit, 0, 0x8)"}},
        {"no drive", 1, ScriptedServices::Wow64::Yes, "\\Station\\data.bin", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServices services;
        services.wow64 = c.wow64;
        std::string out = Output([&] { brenvik::CommitWriteFilter(services, c.type, c.path); });
        EXPECT_EQ(services.CallsOf("System"), c.system);
        EXPECT_EQ(services.CallsOf("CreateProcessA"), c.processes);
        EXPECT_EQ(services.OpenHandleCount(), 0u);
        if (!c.processes.empty()) {
            EXPECT_NE(out.find("CreateProcessEx [\"C:\\Anvora\\zvX64Launcher.exe\" ewfmgr"), std::string::npos) << out;
        }
    }
}

// Every platform failure while the station type is read gives type 0,
// and nothing leaks.
TEST_F(WriteFilterTest, EveryFailureOfTheStationTypeGivesTypeZero) {
    WriteText(Host("C/Station/_StationInfo.xml"), "<StationInfo><Type>Lamina-XPE</Type></StationInfo>");
    zvtest::FaultLoop loop;
    loop.operation = [] { return brenvik::DetectStationType("C:\\Station") == 1 ? 1 : 0; };
    loop.check = [](const zvtest::Fault&, zvStatus status) { EXPECT_EQ(status, 0); };
    Output([&] { EXPECT_GT(loop.Run(), 3); });
}

// A commit through the launcher needs the application home: a failure to
// get it runs nothing.
TEST_F(WriteFilterTest, EveryFailureOfACommitRunsNothing) {
    services_.wow64 = ScriptedServices::Wow64::Yes;
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        const size_t before = services_.CallsOf("CreateProcessA").size();
        const bool ran = brenvik::CommitWriteFilter(services_, 0, "C:\\x") != -1;
        EXPECT_EQ(services_.CallsOf("CreateProcessA").size(), before + (ran ? 1 : 0));
        return ran ? 1 : 0;
    };
    loop.check = [&](const zvtest::Fault&, zvStatus status) { EXPECT_EQ(status, 0); };
    int runs = 0;
    Output([&] { runs = loop.Run(); });
    EXPECT_GE(runs, 1);
}

TEST_F(WriteFilterTest, TheWow64CheckAsksKernel32AtRunTime) {
    services_.wow64 = ScriptedServices::Wow64::Yes;
    services_.FailNext("IsWow64Process", winsvc::kErrorAccessDenied);
    Output([&] { brenvik::CommitWriteFilter(services_, 0, "C:\\x"); });
    EXPECT_EQ(services_.Calls(), (Lines{"GetModuleHandleA(kernel32)", "GetProcAddressIsWow64Process(kernel32)",
                                        "IsWow64Process(current)", "System(ewfmgr C: -commit)"}));
    services_.ClearCalls();
    services_.FailNext("GetModuleHandleA", winsvc::kErrorModNotFound);
    Output([&] { brenvik::CommitWriteFilter(services_, 0, "C:\\x"); });
    EXPECT_EQ(services_.Calls(), (Lines{"GetModuleHandleA(kernel32)", "System(ewfmgr C: -commit)"}));
}

TEST_F(WriteFilterTest, LauncherNeedsAUsableApplicationHome) {
    services_.wow64 = ScriptedServices::Wow64::Yes;
    fs::create_directories(Host("C/Odd\"Home"));
    ASSERT_GT(zvDirectorySetAppHome("C:\\Odd\"Home"), 0);
    std::string out = Output([&] { EXPECT_EQ(brenvik::CommitWriteFilter(services_, 0, "C:\\x"), -1); });
    EXPECT_NE(out.find("Invalid application home folder"), std::string::npos) << out;
    EXPECT_TRUE(services_.CallsOf("CreateProcessA").empty());
}

TEST_F(WriteFilterTest, FlushVolumeReportsTheWindowsError) {
    struct Case {
        const char* name;
        const char* path;
        const char* failCall;
        uint32_t error;
        std::string out;
        bool flushed;
    };
    const Case cases[] = {
        {"flushed", "C:\\Station\\x", nullptr, 0, "", true},
        {"no such volume", "Q:\\x", nullptr, 0, "Open failed: 2\n", false},
        {"open refused", "C:\\x", "CreateFileA", 5, "Open failed: 5\n", false},
        {"flush refused", "C:\\x", "FlushFileBuffers", 19, "Flush failed: 19\n", false},
        {"no drive", "\\Station\\x", nullptr, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServices services;
        if (c.failCall != nullptr) services.FailNext(c.failCall, c.error);
        bool flushed = false;
        EXPECT_EQ(Output([&] { flushed = brenvik::FlushVolume(services, c.path); }), c.out);
        EXPECT_EQ(flushed, c.flushed);
        EXPECT_EQ(services.OpenHandleCount(), 0u);
    }
    ScriptedServices services;
    Output([&] { brenvik::FlushVolume(services, "C:\\Station\\x"); });
    EXPECT_EQ(services.CallsOf("CreateFileA"), Lines{"CreateFileA(\\\\.\\C:, 0x40000000, 0x7, 3, 0x0)"});
}

TEST_F(WriteFilterTest, RunAndWaitReportsTheExitCode) {
    services_.exitCodes["tool x"] = 3;
    int code = 0;
    EXPECT_EQ(Output([&] { code = brenvik::RunAndWait(services_, "tool x"); }),
              "CreateProcessEx [tool x]\nCreateProcessEx exit code 3\n");
    EXPECT_EQ(code, 3);
    EXPECT_EQ(services_.CallsOf("WaitForSingleObject").size(), 1u);
    EXPECT_NE(services_.CallsOf("WaitForSingleObject")[0].find("0xFFFFFFFF"), std::string::npos);  // no time limit
    EXPECT_EQ(services_.OpenHandleCount(), 0u);

    services_.FailNext("CreateProcessA", winsvc::kErrorFileNotFound);
    EXPECT_EQ(Output([&] { code = brenvik::RunAndWait(services_, "missing"); }),
              "CreateProcessEx [missing]\nCreateProcessEx exit code -1\n");
    EXPECT_EQ(code, -1);
}

}  // namespace
