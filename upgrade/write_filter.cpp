// Committing through the disk write filter: the station type, the volume
// flush, the write-filter managers and the 64-bit launcher.
#include <cstring>

#include "brenvik.hpp"
#include "winsvc/command_line.hpp"

namespace brenvik {

namespace {

constexpr const char* kStationInfo = "_StationInfo.xml";
constexpr const char* kFileFilterType = "Lamina-XPE";
constexpr int32_t kTypeSize = 256;  // the station type text: at most 255 characters

// The drive of `path`: up to and including its first ':'; false without one.
bool SplitDrive(const char* path, std::string* drive, std::string* rest) {
    const char* colon = path != nullptr ? std::strchr(path, ':') : nullptr;
    if (colon == nullptr) return false;
    drive->assign(path, static_cast<size_t>(colon - path) + 1);
    rest->assign(colon + 1);
    return true;
}

// A word of a command line for the command interpreter; an empty word
// stays empty, as the command line had nothing there.
std::string Word(winsvc::Services& services, const std::string& word) {
    return word.empty() ? std::string() : services.QuoteForCommandInterpreter(word);
}

// True when this program runs as a 32-bit process on 64-bit Windows;
// systems without IsWow64Process answer no.
bool RunsOn64BitWindows(winsvc::Services& services) {
    winsvc::Handle kernel = services.GetModuleHandleA("kernel32");
    if (kernel == winsvc::kNullHandle) return false;
    winsvc::Services::IsWow64ProcessFunction isWow64 = services.GetProcAddressIsWow64Process(kernel);
    bool wow64 = false;
    return isWow64 && isWow64(services.GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

int DetectStationType(const char* folder) {
    int type = 0;
    char path[kPathMax];
    zvStatus status = zvPathCombine(path, sizeof path, folder != nullptr ? folder : "", kStationInfo);
    if (status == ZV_E_RANGE) zvPrintf("Path too long: %s\\%s\n", folder, kStationInfo);
    zvHandle document = nullptr;
    zvXmlItem root = 0;
    char text[kTypeSize] = {};
    zvLastErrorClear();
    if (status > 0) status = zvXmlLoad(path, &document);
    // A file that is there but cannot be read says why; a missing one is
    // the usual station of type 0.
    if (status <= 0 && status != ZV_E_NOTFOUND && zvLastErrorText()[0] != '\0')
        zvPrintf("Brenvik: %s\n", zvLastErrorText());
    if (status > 0) status = zvXmlRoot(document, &root);
    if (status > 0 && root == 0) status = ZV_E_FAIL;
    if (status > 0) status = zvXmlChildText(document, root, "Type", text, kTypeSize);
    if (status > 0 && std::strcmp(text, kFileFilterType) == 0) type = 1;
    if (document != nullptr) zvXMLDestroy(document);
    zvPrintf("Brenvik: Detected station type %d.\n", type);
    return type;
}

bool FlushVolume(winsvc::Services& services, const char* path) {
    std::string drive;
    std::string rest;
    if (!SplitDrive(path, &drive, &rest)) return false;
    std::string volume = "\\\\.\\" + drive;
    winsvc::Handle handle = services.CreateFileA(
        volume.c_str(), winsvc::kGenericWrite,
        winsvc::kFileShareRead | winsvc::kFileShareWrite | winsvc::kFileShareDelete, winsvc::kOpenExisting, 0);
    if (handle == winsvc::kInvalidHandle) {
        zvPrintf("Open failed: %u\n", services.GetLastError());
        return false;
    }
    bool flushed = services.FlushFileBuffers(handle);
    if (!flushed) zvPrintf("Flush failed: %u\n", services.GetLastError());
    services.CloseHandle(handle);
    return flushed;
}

int CommitWriteFilter(winsvc::Services& services, int stationType, const char* path) {
    std::string drive;
    std::string rest;
    if (!SplitDrive(path, &drive, &rest)) return -1;
    // The managers would read a word starting with "-" as one of their
    // options, whatever its quoting: such a path commits nothing.
    if (drive[0] == '-' || (!rest.empty() && rest[0] == '-')) {
        zvPrintf("Invalid path to commit (it starts an option): %s\n", path);
        return -1;
    }

    if (stationType == 1) {
        // The file-based filter commits this one file.
        std::string command = "fbwfmgr /commit " + Word(services, drive) + " " + Word(services, rest);
        return services.System(command.c_str());
    }
    if (RunsOn64BitWindows(services)) {
        // A 32-bit program cannot reach the 64-bit filter manager: the
        // launcher in the application home runs it on the program's behalf.
        char home[kPathMax];
        if (zvDirectoryGetAppHome(home, sizeof home) <= 0) {
            zvPrintf("Path too long: the application home folder\n");
            return -1;
        }
        if (std::strchr(home, '"') != nullptr) {
            zvPrintf("Invalid application home folder: %s\n", home);
            return -1;
        }
        std::string commandLine = std::string("\"") + home + "\\zvX64Launcher.exe\" ewfmgr " +
                                  winsvc::QuoteWindowsArgument(drive) + " -commit";
        return RunAndWait(services, commandLine.c_str());
    }
    // The enhanced filter commits the whole volume.
    std::string command = "ewfmgr " + Word(services, drive) + " -commit";
    return services.System(command.c_str());
}

int RunAndWait(winsvc::Services& services, const char* commandLine) {
    zvPrintf("CreateProcessEx [%s]\n", commandLine);
    int exitCode = -1;
    winsvc::ProcessInformation info;
    if (services.CreateProcessA(nullptr, commandLine, false, winsvc::kDetachedProcess, &info)) {
        services.WaitForSingleObject(info.process, winsvc::kInfinite);
        uint32_t code = 0;
        if (services.GetExitCodeProcess(info.process, &code)) exitCode = static_cast<int>(code);
        services.CloseHandle(info.process);
        services.CloseHandle(info.thread);
    }
    zvPrintf("CreateProcessEx exit code %d\n", exitCode);
    return exitCode;
}

}  // namespace brenvik
