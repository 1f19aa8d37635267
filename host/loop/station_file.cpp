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

}  // namespace

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
        for (const nlohmann::json& s : j["servers"]) {
            if (!s.is_number_unsigned() || s.get<uint64_t>() > zv::station::kMaxServerSerial) {
                *error = file.string() + ": " + Shown(s.dump()) + " is not a server's serial number" + SerialRange();
                return false;
            }
            const auto serial = s.get<uint32_t>();
            if (std::find(out->serials.begin(), out->serials.end(), serial) != out->serials.end()) {
                *error = file.string() + ": server " + std::to_string(serial) + " is listed twice";
                return false;
            }
            out->serials.push_back(serial);
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
    for (const auto& [serial, folder] : zv::station::ServerFolders(root))
        if (HasSettings(folder.filename().string())) out->serials.push_back(serial);
    return true;
}

bool DeclareStationServers(const std::filesystem::path& root, const std::vector<uint32_t>& serials,
                           std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (!std::filesystem::is_directory(root, ec) || zvFileSpaceSetRoot(root.c_str()) <= 0) {
        *error = "cannot make the file space " + root.string();
        return false;
    }
    // The folders and the file through the file space, as every file of it.
    for (uint32_t serial : serials) {
        if (!zv::station::ServerFolderName(serial).empty()) continue;
        const std::string folder = "SN" + std::to_string(serial);
        if (zvDirectoryCreate(folder.c_str()) <= 0) {
            *error = "cannot make " + folder + ": " + zvLastErrorText();
            return false;
        }
    }
    if (zv::files::WriteFile(kStationFile, nlohmann::json{{"servers", serials}}.dump() + "\n") <= 0) {
        *error = zvLastErrorText();
        return false;
    }
    return true;
}

void MakeSensorFolder(const std::filesystem::path& root, uint32_t serial) {
    if (!zv::station::ServerFolder(root, serial).empty()) return;
    zvDirectoryCreate(("SN" + std::to_string(serial)).c_str());
}

bool ParseServerList(const std::string& text, std::vector<uint32_t>* serials, std::string* error) {
    serials->clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
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
        if (std::find(serials->begin(), serials->end(), value) != serials->end()) {
            *error = "server " + item + " is listed twice";
            return false;
        }
        serials->push_back(static_cast<uint32_t>(value));
    }
    if (serials->empty() || (!text.empty() && text.back() == ',')) {
        *error = "--servers needs a list of serial numbers such as 1,2";
        return false;
    }
    return true;
}

}  // namespace zvhost
