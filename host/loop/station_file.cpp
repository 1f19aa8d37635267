#include "station_file.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "text.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvapi/zvapi.h"
#include "zvstation/net/keys.hpp"
#include "zvstation/net/socket.hpp"
#include "zvstation/station.hpp"

namespace zvhost {

namespace {

// The largest station description read: a list of servers is far smaller.
constexpr int64_t kMaxStationFileBytes = 1 << 20;

// Whether the folder `folder` of the file space holds a Settings.xml file.
bool HasSettings(const std::string& folder) {
    std::vector<zv::files::Entry> entries;
    if (zv::files::ListFolder(folder, &entries) <= 0) return false;
    for (const zv::files::Entry& entry : entries) {
        if (Lower(entry.name) == "settings.xml" && entry.kind == zv::files::Entry::Kind::kFile) return true;
    }
    return false;
}

std::string SerialRange() {
    return " (0 to " + std::to_string(zv::station::kMaxServerSerial) + "; " + std::to_string(ZV_CLIENT_PIPE) +
           " names the client's own pipe)";
}

// The longest endpoint accepted: a host name and a port, or a socket path.
constexpr size_t kMaxEndpoint = 255;

// One server of station.json: a serial (in-process) or an object naming
// its endpoint and optionally its key. False with `*why` set.
bool ReadPlace(const nlohmann::json& item, ServerPlace* place, std::string* why) {
    const nlohmann::json* serial = &item;
    if (item.is_object()) {
        for (const auto& [key, value] : item.items()) {
            if (key != "serial" && key != "endpoint" && key != "key") {
                *why = "\"" + Shown(key) + "\" is not a server's field (serial, endpoint, key)";
                return false;
            }
        }
        if (!item.contains("serial") || !item.contains("endpoint") || !item["endpoint"].is_string()) {
            *why = "a server on the network needs {\"serial\": N, \"endpoint\": \"tcp://host:port\"}";
            return false;
        }
        serial = &item["serial"];
        place->endpoint = item["endpoint"].get<std::string>();
        if (!ValidServerEndpoint(place->endpoint, why)) return false;
        if (item.contains("key")) {
            if (!item["key"].is_string() || !zv::station::net::ValidKey(item["key"].get<std::string>())) {
                *why = "the key of " + Shown(place->endpoint) + " is not a public key (40 characters of Z85)";
                return false;
            }
            place->publicKey = item["key"].get<std::string>();
        }
    }
    if (!serial->is_number_unsigned() || serial->get<uint64_t>() > zv::station::kMaxServerSerial) {
        *why = Shown(serial->dump()) + " is not a server's serial number" + SerialRange();
        return false;
    }
    place->serial = serial->get<uint32_t>();
    return true;
}

}  // namespace

bool ValidServerEndpoint(const std::string& endpoint, std::string* error) {
    const std::string shown = "\"" + Shown(endpoint) + "\"";
    for (char c : endpoint) {
        if (c <= ' ' || c >= 0x7F || c == ',') {
            *error = shown + " is not an endpoint: it holds a space, a comma or a character that is not printable";
            return false;
        }
    }
    if (endpoint.size() > kMaxEndpoint) {
        *error = shown + " is not an endpoint: longer than " + std::to_string(kMaxEndpoint) + " characters";
        return false;
    }
    if (endpoint.compare(0, 6, "ipc://") == 0 && endpoint.size() > 6 && endpoint.find('*') == std::string::npos)
        return true;
    std::string host;
    std::string port;
    bool number =
        zv::station::net::SplitTcp(endpoint, &host, &port) && host.find('*') == std::string::npos && port.size() <= 5;
    uint32_t value = 0;
    for (char c : port) {
        number = number && std::isdigit(static_cast<unsigned char>(c));
        if (number) value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (!number || value < 1 || value > 65535) {
        *error = shown +
                 " is not an endpoint a client can reach: expected tcp://HOST:PORT (port 1 to 65535) or "
                 "ipc://PATH";
        return false;
    }
    return true;
}

bool ReadStationServers(const std::filesystem::path& root, StationServers* out, std::string* error) {
    *out = {};
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec) || zvFileSpaceSetRoot(root.c_str()) <= 0) {
        *error = "the file space " + root.string() + " is not a folder";
        return false;
    }
    const std::filesystem::path file = root / kStationFile;
    std::string text;
    const zvStatus read = zv::files::ReadFile(kStationFile, kMaxStationFileBytes, &text);
    if (read <= 0 && read != ZV_E_NOTFOUND) {
        *error = zvLastErrorText();
        return false;
    }
    if (read > 0) {
        const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("servers") || !j["servers"].is_array()) {
            *error = file.string() + ": expected {\"servers\": [serial, ...]}";
            return false;
        }
        for (const nlohmann::json& item : j["servers"]) {
            ServerPlace place;
            std::string why;
            if (!ReadPlace(item, &place, &why)) {
                *error = file.string() + ": " + why;
                *out = {};
                return false;
            }
            if (std::find(out->serials.begin(), out->serials.end(), place.serial) != out->serials.end()) {
                *error = file.string() + ": server " + std::to_string(place.serial) + " is listed twice";
                *out = {};
                return false;
            }
            out->serials.push_back(place.serial);
            out->places.push_back(place);
        }
        return true;
    }
    std::vector<zv::files::Entry> entries;
    if (zv::files::ListFolder("\\", &entries) <= 0) {
        *error = "cannot read the file space " + root.string() + ": " + zvLastErrorText();
        return false;
    }
    // One folder a serial (the one the plug-in's paths reach), in ascending
    // order.
    for (const auto& [serial, folder] : zv::station::ServerFolders(root)) {
        if (!HasSettings(folder.filename().string())) continue;
        out->serials.push_back(serial);
        out->places.push_back(InProcessServer(serial));
    }
    return true;
}

bool DeclareStationServers(const std::filesystem::path& root, const std::vector<uint32_t>& serials,
                           std::string* error) {
    std::vector<ServerPlace> places;
    for (uint32_t serial : serials) places.push_back(InProcessServer(serial));
    return DeclareStationPlaces(root, places, error);
}

bool DeclareStationPlaces(const std::filesystem::path& root, const std::vector<ServerPlace>& places,
                          std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (!std::filesystem::is_directory(root, ec) || zvFileSpaceSetRoot(root.c_str()) <= 0) {
        *error = "cannot make the file space " + root.string();
        return false;
    }
    // The folders and the file through the file space, as every file of it.
    nlohmann::json servers = nlohmann::json::array();
    for (const ServerPlace& place : places) {
        if (place.InProcess()) {
            servers.push_back(place.serial);
        } else {
            nlohmann::json item{{"serial", place.serial}, {"endpoint", place.endpoint}};
            if (!place.publicKey.empty()) item["key"] = place.publicKey;
            servers.push_back(item);
        }
    }
    for (const ServerPlace& place : places) {
        const uint32_t serial = place.serial;
        if (!zv::station::ServerFolderName(serial).empty()) continue;
        const std::string folder = "SN" + std::to_string(serial);
        if (zvDirectoryCreate(folder.c_str()) <= 0) {
            *error = "cannot make " + folder + ": " + zvLastErrorText();
            return false;
        }
    }
    if (zv::files::WriteFile(kStationFile, nlohmann::json{{"servers", servers}}.dump() + "\n") <= 0) {
        *error = zvLastErrorText();
        return false;
    }
    return true;
}

void MakeSensorFolder(const std::filesystem::path& root, uint32_t serial) {
    if (!zv::station::ServerFolder(root, serial).empty()) return;
    zvDirectoryCreate(("SN" + std::to_string(serial)).c_str());
}

namespace {

// "SERIAL" of "SERIAL=..." as a server's serial number: false with `*error`
// set.
bool ParseSerial(const std::string& item, uint32_t* serial, std::string* error) {
    uint64_t value = 0;
    bool digits = !item.empty() && item.size() <= 10;
    for (char c : item) {
        digits = digits && std::isdigit(static_cast<unsigned char>(c));
        if (digits) value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!digits || value > zv::station::kMaxServerSerial) {
        *error = "\"" + Shown(item) + "\" is not a server's serial number" + SerialRange();
        return false;
    }
    *serial = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool ParseServerList(const std::string& text, std::vector<ServerPlace>* places, std::string* error) {
    places->clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const size_t equals = item.find('=');
        ServerPlace place;
        if (!ParseSerial(item.substr(0, equals), &place.serial, error)) return false;
        if (equals != std::string::npos) {
            place.endpoint = item.substr(equals + 1);
            if (!ValidServerEndpoint(place.endpoint, error)) return false;
        }
        for (const ServerPlace& other : *places) {
            if (other.serial == place.serial) {
                *error = "server " + std::to_string(place.serial) + " is listed twice";
                return false;
            }
        }
        places->push_back(place);
    }
    if (places->empty() || (!text.empty() && text.back() == ',')) {
        *error = "--servers needs a list of servers such as 1,2 or 1=tcp://127.0.0.1:5601,2";
        return false;
    }
    return true;
}

bool ParseServerKeys(const std::string& text, std::vector<ServerPlace>* places, std::string* error) {
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const size_t equals = item.find('=');
        uint32_t serial = 0;
        if (equals == std::string::npos) {
            *error = "\"" + Shown(item) + "\" is not SERIAL=KEY";
            return false;
        }
        if (!ParseSerial(item.substr(0, equals), &serial, error)) return false;
        auto place =
            std::find_if(places->begin(), places->end(), [&](const ServerPlace& p) { return p.serial == serial; });
        if (place == places->end() || place->InProcess()) {
            *error = "server " + std::to_string(serial) + " is not a server on the network of --servers";
            return false;
        }
        std::string why;
        if (!zv::station::net::ReadPublicKey(item.substr(equals + 1), &place->publicKey, &why)) {
            *error = "the key of server " + std::to_string(serial) + ": " + Shown(why, 200);
            return false;
        }
    }
    return true;
}

}  // namespace zvhost
