// Feeds arbitrary bytes as a server's Calibration.xml to the calibration
// reader, saves what it accepts back, and reads the calibration target of
// the same document.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/server_file.hpp"
#include "plugin/calibration.h"
#include "plugin/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr char kPath[] = "\\SN7\\Calibration.xml";
    fuzz::WriteServerFile("Calibration.xml", data, size);
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
