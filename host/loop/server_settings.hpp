// What the host reads of a server's Settings.xml to make its part of the
// station tree, read as the plug-in reads it (zvAppInfo): the sensors, each
// with whether the plug-in's lookup finds that very sensor, and why a file
// cannot be used.
//
// The plug-in's nodes and pages find a sensor by its group path and its
// name: the group path leads from the root group through the first member
// group of each name (zvAppInfoGroupFromPath), and the sensor is the first
// member of that group with the name (zvAppInfoSensorFromParent). A sensor
// that an earlier one of its group shares its name with is therefore never
// found, nor one in a group whose path leads elsewhere (an earlier group of
// the same name, a name that is empty or holds "/" or "\"): a node for it
// would act on another sensor. Such sensors are listed with the reason.
#ifndef ZVHOST_SERVER_SETTINGS_HPP
#define ZVHOST_SERVER_SETTINGS_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "zvstation/station.hpp"

namespace zvhost {

// Sensors of one server beyond this many are left out of the tree.
inline constexpr size_t kMaxSensorsShown = 1024;
// Longer names are left as they are, and their sensors unreached.
inline constexpr size_t kMaxNameBytes = 1023;

struct SensorEntry {
    std::string group;              // the group path ("0" in a default document)
    std::string name;               // "" when longer than kMaxNameBytes
    uint32_t serial = 0xFFFFFFFFu;  // its SerialNumber; 4294967295 when none
    // Why the plug-in's lookup by group path and name does not find this
    // sensor; empty when it does.
    std::string unreachable;
};

struct ServerSettingsView {
    bool present = false;  // the server's folder holds a Settings.xml
    // Why the file cannot be read: the file, the line and what is wrong as
    // the platform tells it. Empty when it was read or is absent.
    std::string problem;
    std::vector<SensorEntry> sensors;  // document order, groups depth first
    size_t omitted = 0;                // sensors beyond kMaxSensorsShown
};

// Reads "\SN<serial>\Settings.xml" of the client's file space.
ServerSettingsView ReadServerSettingsView(uint32_t serial);

// The node paths of a server's sensors, one per entry of `sensors`, all
// different (compared exactly: "SN1/A" and "SN1/a" are two paths):
//  - serverPath/name for a sensor the plug-in reaches whose name no other
//    reachable sensor of the server has;
//  - serverPath/group/name for one whose name a reachable sensor of another
//    group has as well;
//  - with "#2", "#3", ... added when that path is taken, and always for a
//    sensor the plug-in does not reach (serverPath/name#2).
std::vector<std::string> SensorPaths(const std::string& serverPath, const std::vector<SensorEntry>& sensors);

// Why no mode can run on `station`: the servers whose Settings.xml the
// station could not read, each with the reason (file, line when the
// platform names one, what is wrong); "" when every server's could be read.
std::string UnreadSettings(const zv::station::StationBackend& station);

}  // namespace zvhost

#endif
