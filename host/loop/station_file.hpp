// Which servers a station has: the host's own configuration, kept in the
// file space as "station.json" at its root:
//
//   {"servers": [1, {"serial": 2, "endpoint": "tcp://10.0.0.2:5601",
//                    "key": "<its public key, 40 characters of Z85>"}]}
//
// (the servers, first server first). A number is a server the host runs
// in-process; an object names a server on the network (a zvstation
// process) by its endpoint, with its public key when the link is
// encrypted (the key is optional on loopback). `zvhost init` and
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

// Where one server of the station is.
struct ServerPlace {
    uint32_t serial = 0;
    std::string endpoint;   // "tcp://host:port" or "ipc://path"; "": in-process
    std::string publicKey;  // Z85; "": a plain link
    bool InProcess() const { return endpoint.empty(); }
    bool operator==(const ServerPlace&) const = default;
};

inline ServerPlace InProcessServer(uint32_t serial) { return {serial, "", ""}; }

struct StationServers {
    std::vector<uint32_t> serials;    // first server first
    std::vector<ServerPlace> places;  // one a serial, in the same order
};

// The servers of the file space at `root`. False with `*error` set when
// station.json exists but is not a list of distinct server serial numbers,
// or the root cannot be read.
bool ReadStationServers(const std::filesystem::path& root, StationServers* out, std::string* error);

// Declares `places` in root/station.json and makes each server's folder
// SN<serial> unless one exists in any case, through the file space (whose
// root `root` becomes): the file is replaced whole or not at all. False with
// `*error` set on failure. The folder of a network server holds what the
// client keeps of it (the Video mode's masks); its files are the server's.
bool DeclareStationPlaces(const std::filesystem::path& root, const std::vector<ServerPlace>& places,
                          std::string* error);
// The same for servers that are all in-process.
bool DeclareStationServers(const std::filesystem::path& root, const std::vector<uint32_t>& serials, std::string* error);

// Makes the folder SN<serial> of a sensor unless one exists in any case
// (through the file space, whose root `root` becomes): the Video mode keeps
// the sensor's deadzone masks there.
void MakeSensorFolder(const std::filesystem::path& root, uint32_t serial);

// "1=tcp://127.0.0.1:5601,2=tcp://127.0.0.1:5602,3" into servers (3 is
// in-process): false with `*error` set for an empty list, a number that is
// not a server's serial (decimal, 0 to 4294967294), a repeated one, or an
// endpoint a client cannot connect to.
bool ParseServerList(const std::string& text, std::vector<ServerPlace>* places, std::string* error);

// "1=KEY,2=/path/server.pub" gives network servers their public keys (the
// key itself or a file holding it): false with `*error` set for a server
// not in `places`, one in-process, or something that is no key.
bool ParseServerKeys(const std::string& text, std::vector<ServerPlace>* places, std::string* error);

// Whether a client can connect to `endpoint`: "tcp://HOST:PORT" (a port
// from 1 to 65535, no wildcard) or "ipc://PATH", printable and at most 255
// characters. False with `*error` saying why.
bool ValidServerEndpoint(const std::string& endpoint, std::string* error);

}  // namespace zvhost

#endif
