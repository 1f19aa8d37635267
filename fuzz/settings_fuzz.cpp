// Feeds arbitrary bytes as a server's Settings.xml to the settings reader,
// and saves what it accepts back over the same file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "plugin/settings.h"

namespace {

// A private file space with the server folder "SN7", removed at exit.
// The folder lives in a plain buffer so that the exit handler can still
// remove it after the statics are gone.
char g_root[256];

void RemoveFileSpace() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

std::filesystem::path FileSpace() {
    if (g_root[0] == '\0') {
        const std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-settings-XXXXXX").string();
        if (pattern.size() >= sizeof g_root) abort();
        pattern.copy(g_root, pattern.size());
        if (::mkdtemp(g_root) == nullptr) abort();
        std::filesystem::create_directory(std::filesystem::path(g_root) / "SN7");
        if (zvFileSpaceSetRoot(g_root) <= 0) abort();
        atexit(RemoveFileSpace);
    }
    return g_root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path file = FileSpace() / "SN7" / "Settings.xml";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    SystemSettings* settings = nullptr;
    const zvStatus status = SettingsLoad("\\SN7\\Settings.xml", 0, &settings);
    if (status > 0 && settings == nullptr) abort();
    if (status <= 0 && settings != nullptr) abort();
    if (settings != nullptr) {
        // Touch every sensor entry the reader produced.
        for (int32_t i = 0; i < zvArrayListCount(settings->Sensors); ++i) {
            const auto* sensor = static_cast<const SensorSettings*>(zvArrayListAt(settings->Sensors, i));
            if (sensor == nullptr || sensor->Name[sizeof sensor->Name - 1] != '\0') abort();
        }
        SettingsSave(settings, "\\SN7\\Settings.xml", 0);
        if (SettingsFree(settings) != 1) abort();
    }
    return 0;
}
