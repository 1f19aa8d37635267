// Brenvik's command line on arbitrary arguments, over the scripted
// Windows services: never a crash, exit code 0 or -1, no write-filter
// command given a word that would be one of its options, and nothing left
// alive in the platform.
#include <stdio.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brenvik.hpp"
#include "winsvc/scripted_services.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

namespace fs = std::filesystem;

char g_root[256];

void Remove() {
    std::error_code ignored;
    fs::remove_all(g_root, ignored);
}

void Setup() {
    static const bool done = [] {
        const std::string pattern = (fs::temp_directory_path() / "fuzz-brenvik-XXXXXX").string();
        if (pattern.size() >= sizeof g_root) abort();
        pattern.copy(g_root, pattern.size());
        if (::mkdtemp(g_root) == nullptr) abort();
        atexit(Remove);
        const fs::path root = g_root;
        fs::create_directories(root / "C" / "Station");
        fs::create_directories(root / "C" / "Anvora");
        fs::create_directories(root / "C" / "App" / "sub");
        std::ofstream(root / "C" / "App" / "zvcontrols.dll") << "c";
        std::ofstream(root / "C" / "Anvora" / "opengl32.dll_") << "o";
        std::ofstream(root / "C" / "Anvora" / "glu32.dll_") << "g";
        std::ofstream(root / "C" / "Station" / "_StationInfo.xml") << "<S><Type>Lamina-XPE</Type></S>";
        std::ofstream(root / "C" / "Station" / "Model.xml") << "<M/>";
        if (zvInitialize() <= 0 || zvFileSpaceSetRoot(g_root) <= 0 || zvDirectorySetAppHome("C:\\Anvora") <= 0) abort();
        // The commands print; the fuzzer's output stays readable.
        if (freopen("/dev/null", "w", stdout) == nullptr) abort();
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup();
    // Arguments are separated by zero bytes; a few at most.
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() <= 8; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    if (!args.empty() && args.front().empty() && size == 0) args.clear();
    const int64_t live = zv::testing::LiveObjects();
    winsvc::ScriptedServices services;
    const int code = brenvik::RunCommand(services, args);
    if (code != brenvik::kExitSuccess && code != brenvik::kExitFailure) abort();
    if (zv::testing::LiveObjects() != live) abort();
    for (const std::string& call : services.CallsOf("System")) {
        // "System(ewfmgr DRIVE -commit)", "System(fbwfmgr /commit DRIVE REST)"
        const size_t open = call.find('(');
        std::string line = call.substr(open + 1);
        if (line.rfind("ewfmgr -", 0) == 0 || line.rfind("fbwfmgr /commit -", 0) == 0) abort();
    }
    return 0;
}
