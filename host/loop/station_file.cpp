#include "station_file.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "text.hpp"
#include "zvstation/station.hpp"

namespace zvhost {

namespace {

bool HasSettings(const std::filesystem::path& folder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (Lower(entry.path().filename().string()) == "settings.xml" && entry.is_regular_file(ec)) return true;
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
    if (!std::filesystem::is_directory(root, ec)) {
        *error = "the file space " + root.string() + " is not a folder";
        return false;
    }
    const std::filesystem::path file = root / kStationFile;
    if (std::filesystem::exists(file, ec)) {
        if (!std::filesystem::is_regular_file(file, ec)) {
            *error = file.string() + " is not a file";
            return false;
        }
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
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
    const std::filesystem::directory_iterator readable(root, ec);
    if (ec) {
        *error = "cannot read the file space " + root.string() + ": " + ec.message();
        return false;
    }
    // One folder a serial (the one the plug-in's paths reach), in ascending
    // order.
    for (const auto& [serial, folder] : zv::station::ServerFolders(root))
        if (HasSettings(folder)) out->serials.push_back(serial);
    return true;
}

bool DeclareStationServers(const std::filesystem::path& root, const std::vector<uint32_t>& serials,
                           std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (!std::filesystem::is_directory(root, ec)) {
        *error = "cannot make the file space " + root.string();
        return false;
    }
    for (uint32_t serial : serials) {
        if (!zv::station::ServerFolder(root, serial).empty()) continue;
        const std::filesystem::path folder = root / ("SN" + std::to_string(serial));
        std::filesystem::create_directory(folder, ec);
        if (ec) {
            *error = "cannot make " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    const std::filesystem::path file = root / kStationFile;
    const std::filesystem::path temporary = root / (std::string(".") + kStationFile + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << nlohmann::json{{"servers", serials}}.dump() << "\n";
        if (!out.flush()) {
            *error = "cannot write " + temporary.string();
            return false;
        }
    }
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        *error = "cannot write " + file.string();
        return false;
    }
    return true;
}

void MakeSensorFolder(const std::filesystem::path& root, uint32_t serial) {
    if (!zv::station::ServerFolder(root, serial).empty()) return;
    std::error_code ec;
    std::filesystem::create_directory(root / ("SN" + std::to_string(serial)), ec);
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
