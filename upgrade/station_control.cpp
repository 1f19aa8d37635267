// Shutting the station computer down and stopping its health monitor.
#include "brenvik.hpp"

namespace brenvik {

namespace {

constexpr const char* kHealthMonitorTitle = "zvHealthAnchor";

}  // namespace

bool ShutdownStation(winsvc::Services& services, uint32_t timeoutSeconds, bool reboot) {
    winsvc::Handle token = winsvc::kNullHandle;
    if (!services.OpenProcessToken(services.GetCurrentProcess(), winsvc::kTokenAdjustPrivileges | winsvc::kTokenQuery,
                                   &token)) {
        return false;
    }
    bool started = false;
    winsvc::Luid shutdown;
    if (services.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown)) {
        // Enabling succeeds even without the privilege: the last error tells.
        services.AdjustTokenPrivileges(token, shutdown, winsvc::kSePrivilegeEnabled);
        if (services.GetLastError() == winsvc::kErrorSuccess) {
            started = services.InitiateSystemShutdownA(nullptr, nullptr, timeoutSeconds, true, reboot);
            if (started) services.AdjustTokenPrivileges(token, shutdown, 0);
        }
    }
    services.CloseHandle(token);
    return started;
}

bool StopHealthMonitor(winsvc::Services& services) {
    winsvc::Handle window = services.FindWindowA(nullptr, kHealthMonitorTitle);
    if (window == winsvc::kNullHandle) return false;
    uint32_t processId = 0;
    services.GetWindowThreadProcessId(window, &processId);
    if (processId == 0) return false;  // the window went away meanwhile
    winsvc::Handle process = services.OpenProcess(winsvc::kProcessAllAccess, false, processId);
    if (process == winsvc::kNullHandle) return false;
    bool stopped = services.TerminateProcess(process, 0);
    if (stopped) services.WaitForSingleObject(process, winsvc::kInfinite);
    services.CloseHandle(process);
    return stopped;
}

}  // namespace brenvik
