// Brenvik's command line: the command first, then its own arguments.
#include <cstring>

#include "brenvik.hpp"

namespace brenvik {

namespace {

bool SameIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// A path argument that fits the station's path buffers; prints why not.
bool FitsPath(const std::string& path) {
    if (path.size() < kPathMax) return true;
    zvPrintf("Path too long (%zu characters, at most %zu): %.40s...\n", path.size(), kPathMax - 1, path.c_str());
    return false;
}

// "--setmodel": "--file" and "--model" take the next argument as their
// value; that value is examined again as a possible switch, and any other
// argument is skipped.
int SetModelCommand(winsvc::Services& services, const std::vector<std::string>& args) {
    std::string file;
    std::string model;
    bool complete = true;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string* value = SameIgnoringCase(args[i], "--file")    ? &file
                             : SameIgnoringCase(args[i], "--model") ? &model
                                                                    : nullptr;
        if (value == nullptr) continue;
        if (i + 1 >= args.size()) {
            complete = false;  // a switch without its value
            break;
        }
        *value = args[i + 1];
    }
    zvLastErrorClear();
    if (!complete || file.empty() || model.empty() || SetModelName(services, file.c_str(), model.c_str()) <= 0) {
        zvPrintf("Could not set model name\n");
        // The platform's reason, when it kept one: the file, the line, what is wrong.
        if (zvLastErrorText()[0] != '\0') zvPrintf("Reason: %s\n", zvLastErrorText());
        return kExitFailure;
    }
    return kExitSuccess;
}

int CommitCommand(winsvc::Services& services, const std::vector<std::string>& args) {
    if (args.size() < 3) {
        zvPrintf("Insufficient parameters: --commit needs a station folder and a path\n");
        return kExitFailure;
    }
    if (!FitsPath(args[1]) || !FitsPath(args[2])) return kExitFailure;
    int stationType = DetectStationType(args[1].c_str());
    FlushVolume(services, args[2].c_str());
    // The commit runs whether or not the flush succeeded.
    CommitWriteFilter(services, stationType, args[2].c_str());
    return kExitSuccess;
}

int AddOpenGlCommand(winsvc::Services& services, const std::vector<std::string>& args) {
    if (args.size() < 2) {
        zvPrintf("Insufficient parameters: --addopengl needs a folder\n");
        return kExitFailure;
    }
    if (!FitsPath(args[1])) return kExitFailure;
    AddOpenGl(services, args[1].c_str());
    return kExitSuccess;
}

}  // namespace

void PrintHelp() {
    zvPrintf(
        "Usage: brenvik COMMAND [ARGUMENTS]\n"
        "One step of the station computer's software upgrade per run; commands and\n"
        "switches may be written in any case.\n"
        "\n"
        "  --setmodel --file FILE --model NAME  record the model name NAME in the XML file FILE\n"
        "  --shutdown                           shut the station computer down\n"
        "  --commit FOLDER PATH                 flush PATH's volume, then commit PATH through the write\n"
        "                                       filter of the station described in FOLDER\\_StationInfo.xml\n"
        "  --preupgrade                         stop the health monitor (window \"zvHealthAnchor\")\n"
        "  --addopengl FOLDER                   supply the OpenGL libraries under FOLDER when the system lacks them\n"
        "  --help, -h                           show this text\n"
        "\n"
        "Exit status: 0; -1 (seen as 255 on Linux) for a missing or unknown command,\n"
        "missing or too long arguments (paths hold at most 259 characters) and a\n"
        "failed --setmodel.\n"
        "\n"
        "Environment:\n"
        "  BRENVIK_ROOT              folder holding the station's drives (C:\\ is BRENVIK_ROOT/C);\n"
        "                            default: the current folder\n"
        "  BRENVIK_HOME              the application home as a station path (e.g. C:\\Anvora), holding\n"
        "                            zvX64Launcher.exe, opengl32.dll_ and glu32.dll_; default: \\\n"
        "  BRENVIK_SHUTDOWN_COMMAND  run by /bin/sh for --shutdown, with the time-out in seconds, force\n"
        "                            and reboot (0/1) as $1 $2 $3; unset: --shutdown does nothing\n"
        "  BRENVIK_WINDOWS           folder of the window registry the health monitor joins; default:\n"
        "                            $XDG_RUNTIME_DIR/zvwindows, else /tmp/zvwindows-UID\n"
        "  BRENVIK_WOW64             detect (default), yes, no or absent: whether IsWow64Process exists\n"
        "                            and reports a 32-bit program on 64-bit Windows\n"
        "  PATH                      where ewfmgr and fbwfmgr are found (they run through /bin/sh -c)\n");
}

int RunCommand(winsvc::Services& services, const std::vector<std::string>& args) {
    if (args.empty()) {
        zvPrintf("Insufficient parameters\n");
        return kExitFailure;
    }
    const std::string& command = args[0];
    if (SameIgnoringCase(command, "--setmodel")) return SetModelCommand(services, args);
    if (SameIgnoringCase(command, "--shutdown")) {
        ShutdownStation(services);
        return kExitSuccess;
    }
    if (SameIgnoringCase(command, "--commit")) return CommitCommand(services, args);
    if (SameIgnoringCase(command, "--preupgrade")) {
        StopHealthMonitor(services);
        return kExitSuccess;
    }
    if (SameIgnoringCase(command, "--addopengl")) return AddOpenGlCommand(services, args);
    if (SameIgnoringCase(command, "--help") || SameIgnoringCase(command, "-h")) {
        PrintHelp();
        return kExitSuccess;
    }
    zvPrintf("Invalid command found\n");
    return kExitFailure;
}

}  // namespace brenvik
