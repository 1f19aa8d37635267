// The station description on arbitrary bytes: as station.json in a file
// space that also holds server folders, as a --servers list, and as a
// folder name. Never a crash; what is accepted names each server once, by a
// serial a server can have, and a refusal is a short message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fuzz/server_file.hpp"
#include "station_file.hpp"
#include "text.hpp"
#include "zvstation/station.hpp"

namespace {

namespace fs = std::filesystem;

// A file space with servers 1 and 2 (in folders of either case), a folder
// "SN01", one named after the client pipe's number, and "SN7" without
// settings.
const fs::path& Root() {
    static const fs::path root = [] {
        const fs::path made = fuzz::FileSpace();
        for (const char* folder : {"SN1", "sn1", "SN01", "sn2", "SN4294967295"}) fs::create_directory(made / folder);
        for (const char* folder : {"SN1", "SN01", "sn2", "SN4294967295"})
            std::ofstream(made / folder / "Settings.xml") << "<s/>";
        return made;
    }();
    return root;
}

bool Distinct(const std::vector<uint32_t>& serials) {
    const std::set<uint32_t> unique(serials.begin(), serials.end());
    for (uint32_t s : serials)
        if (s > zv::station::kMaxServerSerial) return false;
    return unique.size() == serials.size();
}

// An endpoint accepted is one a client can connect to.
bool Reachable(const std::string& endpoint) {
    std::string error;
    return zvhost::ValidServerEndpoint(endpoint, &error) && endpoint.size() <= 255 &&
           (endpoint.rfind("tcp://", 0) == 0 || endpoint.rfind("ipc://", 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const fs::path& root = Root();
    std::string error;

    // As the file space's station.json, then with none.
    for (bool declared : {true, false}) {
        std::error_code ec;
        if (declared) {
            std::ofstream(root / zvhost::kStationFile, std::ios::binary | std::ios::trunc) << text;
        } else {
            fs::remove(root / zvhost::kStationFile, ec);
        }
        zvhost::StationServers servers;
        error.clear();
        if (zvhost::ReadStationServers(root, &servers, &error)) {
            if (!Distinct(servers.serials) || servers.places.size() != servers.serials.size()) abort();
            for (size_t i = 0; i < servers.places.size(); ++i) {
                const zvhost::ServerPlace& place = servers.places[i];
                if (place.serial != servers.serials[i] || (!place.InProcess() && !Reachable(place.endpoint))) abort();
            }
            if (!declared && servers.serials != std::vector<uint32_t>{1, 2}) abort();
        } else if (error.empty() || error.size() > root.string().size() + 300 || !declared) {
            abort();
        }
    }

    std::vector<zvhost::ServerPlace> places;
    error.clear();
    if (zvhost::ParseServerList(text, &places, &error)) {
        std::vector<uint32_t> serials;
        for (const zvhost::ServerPlace& place : places) {
            serials.push_back(place.serial);
            if (!place.InProcess() && !Reachable(place.endpoint)) abort();
        }
        if (serials.empty() || !Distinct(serials)) abort();
    } else if (error.empty() || error.size() > 300) {
        abort();
    }

    uint32_t serial = 0;
    if (zv::station::ParseServerFolder(text, &serial)) {
        if (serial > zv::station::kMaxServerSerial || zvhost::Lower(text) != "sn" + std::to_string(serial)) abort();
    }
    return 0;
}
