// Which servers a station has: the host's own configuration, kept in the
// file space as "station.json" at its root:
//
//   {"servers": [1, 2]}
//
// (the servers' serial numbers, first server first). `zvhost init` and
// `zvhost demo` write it. Without one, every server folder directly in the
// root (SN<serial> in any case, the number as the plug-in writes it: see
// zv::station::ParseServerFolder) that holds a Settings.xml is a server, in
// ascending order, once however many folders name it; folders without
// settings (the Video mode's mask folders, named after a sensor) are not.
// A server's serial is at most 4294967294: 4294967295 names the client's
// own pipe.
#ifndef ZVHOST_STATION_FILE_HPP
#define ZVHOST_STATION_FILE_HPP

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zvhost {

inline constexpr char kStationFile[] = "station.json";

struct StationServers {
    std::vector<uint32_t> serials;  // first server first
};

// The servers of the file space at `root`. False with `*error` set when
// station.json exists but is not a list of distinct server serial numbers,
// or the root cannot be read.
bool ReadStationServers(const std::filesystem::path& root, StationServers* out, std::string* error);

// Declares `serials` in root/station.json and makes each server's folder
// SN<serial> unless one exists in any case, through the file space (whose
// root `root` becomes): the file is replaced whole or not at all. False with
// `*error` set on failure.
bool DeclareStationServers(const std::filesystem::path& root, const std::vector<uint32_t>& serials, std::string* error);

// Makes the folder SN<serial> of a sensor unless one exists in any case
// (through the file space, whose root `root` becomes): the Video mode keeps
// the sensor's deadzone masks there.
void MakeSensorFolder(const std::filesystem::path& root, uint32_t serial);

// "1,2,7" into serial numbers: false with `*error` set for an empty list, a
// number that is not a server's serial (decimal, 0 to 4294967294), or a
// repeated one.
bool ParseServerList(const std::string& text, std::vector<uint32_t>* serials, std::string* error);

}  // namespace zvhost

#endif
