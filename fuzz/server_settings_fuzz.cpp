// A server's Settings.xml on arbitrary bytes, read as the host reads it for
// the station tree: never a crash; a file that cannot be read gives a
// reason and no sensor; the sensors' node paths are all different, every
// text that goes into the tree's JSON is UTF-8, and every sensor the view
// calls reachable is the one the plug-in's own lookup finds by its group
// path and name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz/server_file.hpp"
#include "server_settings.hpp"
#include "text.hpp"
#include "zvapi/zvapi.h"

namespace {

bool Utf8(const std::string& text) { return zvhost::FirstNonUtf8(text) == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteServerFile("Settings.xml", data, size);
    const zvhost::ServerSettingsView view = zvhost::ReadServerSettingsView(7);
    if (!view.present) abort();
    if (!view.problem.empty()) {
        if (!view.sensors.empty() || !Utf8(view.problem) || view.problem.size() > 1100) abort();
        return 0;
    }
    if (view.sensors.size() > zvhost::kMaxSensorsShown) abort();
    const std::vector<std::string> paths = zvhost::SensorPaths("SN7", view.sensors);
    const std::set<std::string> unique(paths.begin(), paths.end());
    if (paths.size() != view.sensors.size() || unique.size() != paths.size()) abort();
    for (const std::string& path : paths)
        if (path.rfind("SN7/", 0) != 0 || !Utf8(path)) abort();

    zvHandle file = nullptr;
    zvHandle info = nullptr;
    bool read = zvFileCreate(&file, nullptr) > 0 && zvFileInit(file, "\\SN7\\Settings.xml", ZV_FILE_READ) > 0 &&
                zvAppInfoCreate(&info, nullptr) > 0 && zvAppInfoInit(info) > 0 && zvAppInfoRead(info, file) > 0;
    if (file != nullptr) zvFileDestroy(file);
    if (!read) abort();  // it was read a moment ago
    for (const zvhost::SensorEntry& s : view.sensors) {
        if (!Utf8(s.group) || !Utf8(s.name) || !Utf8(s.unreachable)) abort();
        if (!s.unreachable.empty()) continue;
        const zvXmlItem group = zvAppInfoGroupFromPath(info, s.group.c_str());
        const zvXmlItem sensor = group != 0 ? zvAppInfoSensorFromParent(info, group, s.name.c_str()) : 0;
        if (sensor == 0 || zvAppInfoSensorSerial(info, sensor) != s.serial) abort();
    }
    zvAppInfoDestroy(info);
    return 0;
}
