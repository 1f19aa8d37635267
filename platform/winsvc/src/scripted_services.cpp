#include "winsvc/scripted_services.hpp"

#include <cstdio>

namespace winsvc {

namespace {

constexpr Handle kKernel32 = Handle{0x7FFE0000};
constexpr Luid kShutdownLuid{19, 0};

std::string Text(const char* text) { return text != nullptr ? text : "null"; }

std::string Hex(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", value);
    return buffer;
}

std::string Join(std::initializer_list<std::string> args) {
    std::string out = "(";
    bool first = true;
    for (const std::string& a : args) {
        if (!first) out += ", ";
        out += a;
        first = false;
    }
    return out + ")";
}

}  // namespace

void ScriptedServices::FailNext(const std::string& call, uint32_t error) { failures_[call].push_back(error); }

std::vector<std::string> ScriptedServices::CallsOf(const std::string& name) const {
    std::vector<std::string> lines;
    for (const std::string& line : calls_) {
        if (line.compare(0, name.size(), name) == 0 && line.size() > name.size() && line[name.size()] == '(') {
            lines.push_back(line);
        }
    }
    return lines;
}

void ScriptedServices::Record(std::string line) { calls_.push_back(std::move(line)); }

bool ScriptedServices::Scripted(const std::string& call) {
    auto it = failures_.find(call);
    if (it == failures_.end() || it->second.empty()) return false;
    lastError_ = it->second.front();
    it->second.pop_front();
    return true;
}

Handle ScriptedServices::Add(Entry entry) {
    Handle handle = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(handle, std::move(entry));
    return handle;
}

ScriptedServices::Entry* ScriptedServices::Lookup(Handle handle, const char* kind) {
    auto it = handles_.find(handle);
    if (it == handles_.end() || (kind != nullptr && it->second.kind != kind)) return nullptr;
    return &it->second;
}

uint32_t ScriptedServices::GetLastError() { return lastError_; }

Handle ScriptedServices::GetCurrentProcess() { return kInvalidHandle; }

bool ScriptedServices::CloseHandle(Handle object) {
    Record("CloseHandle" + Join({std::to_string(object)}));
    if (Scripted("CloseHandle")) return false;
    if (object == kInvalidHandle) return true;
    Entry* entry = Lookup(object, nullptr);
    if (entry == nullptr || entry->kind == "module") {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    handles_.erase(object);
    return true;
}

bool ScriptedServices::OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) {
    Record("OpenProcessToken" +
           Join({process == kInvalidHandle ? "current" : std::to_string(process), Hex(desiredAccess)}));
    if (token != nullptr) *token = kNullHandle;
    if (Scripted("OpenProcessToken")) return false;
    if (token == nullptr) {
        lastError_ = kErrorInvalidParameter;
        return false;
    }
    *token = Add({"token", Hex(desiredAccess)});
    return true;
}

bool ScriptedServices::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    Record("LookupPrivilegeValueA" + Join({Text(systemName), Text(name)}));
    if (Scripted("LookupPrivilegeValueA")) return false;
    if (name == nullptr || luid == nullptr || std::string(name) != "SeShutdownPrivilege") {
        lastError_ = kErrorNoSuchPrivilege;
        return false;
    }
    *luid = kShutdownLuid;
    return true;
}

bool ScriptedServices::AdjustTokenPrivileges(Handle token, Luid privilege, uint32_t attributes) {
    Record("AdjustTokenPrivileges" + Join({std::to_string(token), std::to_string(privilege.lowPart), Hex(attributes)}));
    if (Scripted("AdjustTokenPrivileges")) return false;
    if (Lookup(token, "token") == nullptr) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    if (!holdsShutdownPrivilege || !(privilege == kShutdownLuid)) {
        lastError_ = kErrorNotAllAssigned;
        return true;
    }
    shutdownPrivilegeEnabled = (attributes & kSePrivilegeEnabled) != 0;
    lastError_ = kErrorSuccess;
    return true;
}

bool ScriptedServices::InitiateSystemShutdownA(const char* machineName, const char* message, uint32_t timeoutSeconds,
                                               bool forceAppsClosed, bool rebootAfterShutdown) {
    Record("InitiateSystemShutdownA" + Join({Text(machineName), Text(message), std::to_string(timeoutSeconds),
                                             std::to_string(forceAppsClosed), std::to_string(rebootAfterShutdown)}));
    if (Scripted("InitiateSystemShutdownA")) return false;
    if (!shutdownPrivilegeEnabled) {
        lastError_ = kErrorPrivilegeNotHeld;
        return false;
    }
    shutdownStarted = true;
    return true;
}

Handle ScriptedServices::FindWindowA(const char* className, const char* windowName) {
    Record("FindWindowA" + Join({Text(className), Text(windowName)}));
    if (Scripted("FindWindowA")) return kNullHandle;
    if (windowName == nullptr) return kNullHandle;
    auto it = windows.find(windowName);
    if (it == windows.end()) return kNullHandle;
    return (Handle{1} << 40) | it->second;
}

uint32_t ScriptedServices::GetWindowThreadProcessId(Handle window, uint32_t* processId) {
    uint32_t pid = static_cast<uint32_t>(window & 0xFFFFFFFFu);
    Record("GetWindowThreadProcessId" + Join({std::to_string(pid)}));
    if (processId != nullptr) *processId = 0;
    if (Scripted("GetWindowThreadProcessId")) return 0;
    if (processId != nullptr) *processId = pid;
    return pid;
}

Handle ScriptedServices::OpenProcess(uint32_t desiredAccess, bool inheritHandle, uint32_t processId) {
    Record("OpenProcess" + Join({Hex(desiredAccess), std::to_string(inheritHandle), std::to_string(processId)}));
    if (Scripted("OpenProcess")) return kNullHandle;
    if (processes.count(processId) == 0) {
        lastError_ = kErrorInvalidParameter;
        return kNullHandle;
    }
    Entry entry{"process", "", processId};
    return Add(entry);
}

bool ScriptedServices::TerminateProcess(Handle process, uint32_t exitCode) {
    Record("TerminateProcess" + Join({std::to_string(process), std::to_string(exitCode)}));
    if (Scripted("TerminateProcess")) return false;
    Entry* entry = Lookup(process, "process");
    if (entry == nullptr || entry->ended) {
        lastError_ = entry == nullptr ? kErrorInvalidHandle : kErrorAccessDenied;
        return false;
    }
    entry->ended = true;
    entry->exitCode = exitCode;
    processes.erase(entry->processId);
    terminated.insert(entry->processId);
    return true;
}

uint32_t ScriptedServices::WaitForSingleObject(Handle object, uint32_t milliseconds) {
    Record("WaitForSingleObject" + Join({std::to_string(object), Hex(milliseconds)}));
    if (Scripted("WaitForSingleObject")) return kWaitFailed;
    Entry* entry = Lookup(object, nullptr);
    if (entry == nullptr || (entry->kind != "process" && entry->kind != "thread")) {
        lastError_ = kErrorInvalidHandle;
        return kWaitFailed;
    }
    // Started processes end when waited for; opened ones only when terminated.
    if (entry->started) entry->ended = true;
    return entry->ended ? kWaitObject0 : kWaitTimeout;
}

bool ScriptedServices::CreateProcessA(const char* applicationName, const char* commandLine, bool inheritHandles,
                                      uint32_t creationFlags, ProcessInformation* info) {
    Record("CreateProcessA" +
           Join({Text(applicationName), Text(commandLine), std::to_string(inheritHandles), Hex(creationFlags)}));
    if (info != nullptr) *info = {};
    if (Scripted("CreateProcessA")) return false;
    if (info == nullptr || commandLine == nullptr) {
        lastError_ = kErrorInvalidParameter;
        return false;
    }
    auto it = exitCodes.find(commandLine);
    Entry entry{"process", commandLine, nextProcessId_++,
                true,      false,       static_cast<uint32_t>(it != exitCodes.end() ? it->second : 0)};
    info->processId = entry.processId;
    info->threadId = entry.processId;
    info->process = Add(entry);
    entry.kind = "thread";
    info->thread = Add(entry);
    return true;
}

bool ScriptedServices::GetExitCodeProcess(Handle process, uint32_t* exitCode) {
    Record("GetExitCodeProcess" + Join({std::to_string(process)}));
    if (Scripted("GetExitCodeProcess")) return false;
    Entry* entry = Lookup(process, "process");
    if (entry == nullptr || exitCode == nullptr) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    *exitCode = entry->ended ? entry->exitCode : kStillActive;
    return true;
}

int ScriptedServices::System(const char* command) {
    Record("System" + Join({Text(command)}));
    if (Scripted("System")) return -1;
    if (command == nullptr) return 1;
    auto it = exitCodes.find(command);
    return it != exitCodes.end() ? it->second : 0;
}

uint32_t ScriptedServices::GetFileAttributesA(const char* path) {
    Record("GetFileAttributesA" + Join({Text(path)}));
    if (Scripted("GetFileAttributesA")) return kInvalidFileAttributes;
    auto it = path != nullptr ? files.find(path) : files.end();
    if (it == files.end()) {
        lastError_ = kErrorFileNotFound;
        return kInvalidFileAttributes;
    }
    return it->second;
}

bool ScriptedServices::SetFileAttributesA(const char* path, uint32_t attributes) {
    Record("SetFileAttributesA" + Join({Text(path), Hex(attributes)}));
    if (Scripted("SetFileAttributesA")) return false;
    auto it = path != nullptr ? files.find(path) : files.end();
    if (it == files.end()) {
        lastError_ = kErrorFileNotFound;
        return false;
    }
    it->second = attributes;
    return true;
}

Handle ScriptedServices::CreateFileA(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                                     uint32_t creationDisposition, uint32_t flagsAndAttributes) {
    Record("CreateFileA" + Join({Text(name), Hex(desiredAccess), Hex(shareMode), std::to_string(creationDisposition),
                                 Hex(flagsAndAttributes)}));
    if (Scripted("CreateFileA")) return kInvalidHandle;
    if (name == nullptr || volumes.count(name) == 0) {
        lastError_ = kErrorFileNotFound;
        return kInvalidHandle;
    }
    return Add({"file", name});
}

bool ScriptedServices::FlushFileBuffers(Handle file) {
    Record("FlushFileBuffers" + Join({std::to_string(file)}));
    if (Scripted("FlushFileBuffers")) return false;
    if (Lookup(file, "file") == nullptr) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    return true;
}

Handle ScriptedServices::LoadLibraryA(const char* name) {
    Record("LoadLibraryA" + Join({Text(name)}));
    if (Scripted("LoadLibraryA")) return kNullHandle;
    if (name == nullptr || libraries.count(name) == 0) {
        lastError_ = kErrorModNotFound;
        return kNullHandle;
    }
    return Add({"module", name});
}

bool ScriptedServices::FreeLibrary(Handle module) {
    Record("FreeLibrary" + Join({std::to_string(module)}));
    if (Scripted("FreeLibrary")) return false;
    if (Lookup(module, "module") == nullptr) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    handles_.erase(module);
    return true;
}

Handle ScriptedServices::GetModuleHandleA(const char* name) {
    Record("GetModuleHandleA" + Join({Text(name)}));
    if (Scripted("GetModuleHandleA")) return kNullHandle;
    if (name == nullptr || (std::string(name) != "kernel32" && std::string(name) != "kernel32.dll")) {
        lastError_ = kErrorModNotFound;
        return kNullHandle;
    }
    return kKernel32;
}

Services::IsWow64ProcessFunction ScriptedServices::GetProcAddressIsWow64Process(Handle module) {
    Record("GetProcAddressIsWow64Process" + Join({module == kKernel32 ? "kernel32" : std::to_string(module)}));
    if (Scripted("GetProcAddressIsWow64Process")) return {};
    if (module != kKernel32 || wow64 == Wow64::Absent) {
        lastError_ = kErrorProcNotFound;
        return {};
    }
    return [this](Handle process, bool* result) {
        Record("IsWow64Process" + Join({process == kInvalidHandle ? "current" : std::to_string(process)}));
        if (Scripted("IsWow64Process")) return false;
        if (result == nullptr) {
            lastError_ = kErrorInvalidParameter;
            return false;
        }
        *result = wow64 == Wow64::Yes;
        return true;
    };
}

}  // namespace winsvc
