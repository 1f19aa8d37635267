// brenvik: one upgrade step per run, on this machine's services. The
// station's disk is one folder (BRENVIK_ROOT) that zvApi's file space and
// the Windows services both map drive letters into.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brenvik.hpp"
#include "winsvc/posix_services.hpp"

namespace {

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

// The services configured from the environment; false (with a message)
// for a setting that cannot be used.
bool Configure(winsvc::PosixConfig* config) {
    const char* root = Environment("BRENVIK_ROOT");
    if (root != nullptr && zvFileSpaceSetRoot(root) <= 0) {
        zvPrintf("BRENVIK_ROOT is not a folder: %s\n", root);
        return false;
    }
    char rootFolder[PATH_MAX];
    if (zvFileSpaceRoot(rootFolder, sizeof rootFolder) <= 0) {
        zvPrintf("The station's drive folder cannot be found\n");
        return false;
    }
    if (const char* home = Environment("BRENVIK_HOME"); home != nullptr && zvDirectorySetAppHome(home) <= 0) {
        zvPrintf("BRENVIK_HOME is not a usable station path: %s\n", home);
        return false;
    }
    config->driveRoot = rootFolder;
    if (const char* command = Environment("BRENVIK_SHUTDOWN_COMMAND")) config->shutdownCommand = command;
    config->windowRegistry = winsvc::DefaultWindowRegistryFolder();
    if (const char* wow64 = Environment("BRENVIK_WOW64")) {
        if (std::strcmp(wow64, "detect") == 0) {
            config->wow64 = winsvc::Wow64::Detect;
        } else if (std::strcmp(wow64, "yes") == 0) {
            config->wow64 = winsvc::Wow64::Yes;
        } else if (std::strcmp(wow64, "no") == 0) {
            config->wow64 = winsvc::Wow64::No;
        } else if (std::strcmp(wow64, "absent") == 0) {
            config->wow64 = winsvc::Wow64::Absent;
        } else {
            zvPrintf("BRENVIK_WOW64 must be detect, yes, no or absent: %s\n", wow64);
            return false;
        }
    }
    // Both layers resolve station paths the same way: through the file space.
    config->resolver = [](const std::string& path, std::string* hostPath) -> uint32_t {
        char host[PATH_MAX];
        zvStatus status = zvFileSpaceResolve(path.c_str(), host, sizeof host);
        if (status == ZV_E_ACCESS) return winsvc::kErrorAccessDenied;
        if (status == ZV_E_RANGE) return winsvc::kErrorFilenameExcedRange;
        if (status <= 0) return winsvc::kErrorPathNotFound;
        *hostPath = host;
        return winsvc::kErrorSuccess;
    };
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (zvInitialize() <= 0) {
        zvPrintf("The platform library could not be started\n");
        return brenvik::kExitFailure;
    }
    int exitCode = brenvik::kExitFailure;
    winsvc::PosixConfig config;
    if (Configure(&config)) {
        winsvc::PosixServices services(std::move(config));
        std::vector<std::string> args(argv + 1, argv + argc);
        exitCode = brenvik::RunCommand(services, args);
    }
    zvTerminate();
    return exitCode;
}
