#include <gtest/gtest.h>

#include "brenvik.hpp"
#include "winsvc/scripted_services.hpp"

namespace {

using winsvc::ScriptedServices;
using Lines = std::vector<std::string>;

TEST(ShutdownStation, EnablesThePrivilegeShutsDownAndDisablesIt) {
    ScriptedServices services;
    EXPECT_TRUE(brenvik::ShutdownStation(services));
    EXPECT_EQ(services.Calls(), (Lines{
                                    "OpenProcessToken(current, 0x28)",
                                    "LookupPrivilegeValueA(null, SeShutdownPrivilege)",
                                    "AdjustTokenPrivileges(4, 19, 0x2)",
                                    "InitiateSystemShutdownA(null, null, 15, 1, 0)",
                                    "AdjustTokenPrivileges(4, 19, 0x0)",
                                    "CloseHandle(4)",
                                }));
    EXPECT_TRUE(services.shutdownStarted);
    EXPECT_FALSE(services.shutdownPrivilegeEnabled);
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST(ShutdownStation, StopsAtTheFirstRefusal) {
    struct Case {
        const char* name;
        std::function<void(ScriptedServices&)> arrange;
        Lines calls;
    };
    const Case cases[] = {
        {"no token",
         [](ScriptedServices& s) { s.FailNext("OpenProcessToken", winsvc::kErrorAccessDenied); },
         {"OpenProcessToken(current, 0x28)"}},
        {"unknown privilege",
         [](ScriptedServices& s) { s.FailNext("LookupPrivilegeValueA", winsvc::kErrorNoSuchPrivilege); },
         {"OpenProcessToken(current, 0x28)", "LookupPrivilegeValueA(null, SeShutdownPrivilege)", "CloseHandle(4)"}},
        {"privilege not held",
         [](ScriptedServices& s) { s.holdsShutdownPrivilege = false; },
         {"OpenProcessToken(current, 0x28)", "LookupPrivilegeValueA(null, SeShutdownPrivilege)",
          "AdjustTokenPrivileges(4, 19, 0x2)", "CloseHandle(4)"}},
        {"enabling fails",
         [](ScriptedServices& s) { s.FailNext("AdjustTokenPrivileges", winsvc::kErrorInvalidHandle); },
         {"OpenProcessToken(current, 0x28)", "LookupPrivilegeValueA(null, SeShutdownPrivilege)",
          "AdjustTokenPrivileges(4, 19, 0x2)", "CloseHandle(4)"}},
        {"shutdown refused",
         [](ScriptedServices& s) { s.FailNext("InitiateSystemShutdownA", winsvc::kErrorAccessDenied); },
         {"OpenProcessToken(current, 0x28)", "LookupPrivilegeValueA(null, SeShutdownPrivilege)",
          "AdjustTokenPrivileges(4, 19, 0x2)", "InitiateSystemShutdownA(null, null, 15, 1, 0)", "CloseHandle(4)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServices services;
        c.arrange(services);
        EXPECT_FALSE(brenvik::ShutdownStation(services));
        EXPECT_EQ(services.Calls(), c.calls);
        EXPECT_FALSE(services.shutdownStarted);
        EXPECT_EQ(services.OpenHandleCount(), 0u);
    }
}

TEST(StopHealthMonitor, EndsTheWindowsProcessAndWaitsForIt) {
    ScriptedServices services;
    services.windows["zvHealthAnchor"] = 4242;
    services.processes.insert(4242);
    EXPECT_TRUE(brenvik::StopHealthMonitor(services));
    EXPECT_EQ(services.Calls(), (Lines{
                                    "FindWindowA(null, zvHealthAnchor)",
                                    "GetWindowThreadProcessId(4242)",
                                    "OpenProcess(0x1FFFFF, 0, 4242)",
                                    "TerminateProcess(4, 0)",
                                    "WaitForSingleObject(4, 0xFFFFFFFF)",
                                    "CloseHandle(4)",
                                }));
    EXPECT_EQ(services.terminated, std::set<uint32_t>{4242});
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST(StopHealthMonitor, DoesNothingMoreThanItCan) {
    struct Case {
        const char* name;
        std::function<void(ScriptedServices&)> arrange;
        Lines calls;
    };
    const Case cases[] = {
        {"no monitor", [](ScriptedServices&) {}, {"FindWindowA(null, zvHealthAnchor)"}},
        {"process gone",
         [](ScriptedServices& s) { s.windows["zvHealthAnchor"] = 7; },
         {"FindWindowA(null, zvHealthAnchor)", "GetWindowThreadProcessId(7)", "OpenProcess(0x1FFFFF, 0, 7)"}},
        {"window gone meanwhile",
         [](ScriptedServices& s) {
             s.windows["zvHealthAnchor"] = 7;
             s.FailNext("GetWindowThreadProcessId", winsvc::kErrorInvalidWindowHandle);
         },
         {"FindWindowA(null, zvHealthAnchor)", "GetWindowThreadProcessId(7)"}},
        {"termination refused",
         [](ScriptedServices& s) {
             s.windows["zvHealthAnchor"] = 7;
             s.processes.insert(7);
             s.FailNext("TerminateProcess", winsvc::kErrorAccessDenied);
         },
         {"FindWindowA(null, zvHealthAnchor)", "GetWindowThreadProcessId(7)", "OpenProcess(0x1FFFFF, 0, 7)",
          "TerminateProcess(4, 0)", "CloseHandle(4)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServices services;
        c.arrange(services);
        EXPECT_FALSE(brenvik::StopHealthMonitor(services));
        EXPECT_EQ(services.Calls(), c.calls);
        EXPECT_EQ(services.OpenHandleCount(), 0u);
    }
}

}  // namespace
