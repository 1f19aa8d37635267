// Feeds arbitrary bytes as a server's Settings.xml to the settings reader,
// and saves what it accepts back over the same file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/server_file.hpp"
#include "plugin/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteServerFile("Settings.xml", data, size);
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
