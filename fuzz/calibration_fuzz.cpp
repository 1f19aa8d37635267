// Feeds arbitrary bytes as a server's Calibration.xml to the calibration
// reader, saves what it accepts back, and reads the calibration target of
// the same document.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "plugin/calibration.h"
#include "plugin/settings.h"

namespace {

// The folder lives in a plain buffer so that the exit handler can still
// remove it after the statics are gone.
char g_root[256];

void RemoveFileSpace() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

std::filesystem::path FileSpace() {
    if (g_root[0] == '\0') {
        const std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-calibration-XXXXXX").string();
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
    constexpr char kPath[] = "\\SN7\\Calibration.xml";
    const std::filesystem::path file = FileSpace() / "SN7" / "Calibration.xml";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CalibrationSet* set = nullptr;
    const zvStatus status = LoadCalibration(kPath, 0, &set);
    if ((status > 0) != (set != nullptr)) abort();
    if (set == nullptr) return 0;
    SaveCalibration(set, kPath, 0);
    if (FreeCalibration(set) != 1) abort();

    // The same bytes as a settings document with a calibration target.
    zvHandle document = 0;
    if (SettingsReadDocument(0, kPath, &document) > 0 && document != 0) {
        zvHandle vertices = 0;
        if (zvArrayListCreate(&vertices, 0) > 0 && zvArrayListInit(vertices, ZV_TYPE_POINT32, 0, 1) > 0) {
            if (ReadCalibrationTarget(document, vertices) > 0) WriteCalibrationTarget(document, vertices);
        }
        zvArrayListDestroy(vertices);
        zvXMLDestroy(document);
    }
    return 0;
}
