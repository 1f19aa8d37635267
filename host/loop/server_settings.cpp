#include "server_settings.hpp"

#include <cstring>
#include <map>
#include <set>

#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi.h"

namespace zvhost {

namespace {

constexpr int kMaxDepth = 32;

enum class NameRead { None, Done, TooLong };

// A member's "Name" text into `*name`.
NameRead ReadName(zvHandle xml, zvXmlItem member, std::string* name) {
    name->clear();
    char buffer[kMaxNameBytes + 1];
    const zvStatus status = zvXmlChildText(xml, member, "Name", buffer, sizeof buffer);
    if (status == ZV_E_RANGE) return NameRead::TooLong;
    if (status <= 0) return NameRead::None;
    *name = buffer;
    return NameRead::Done;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string GroupName(const std::string& path) { return path.empty() ? "the root group" : "group " + Quote(path); }

std::string SerialText(uint32_t serial) {
    return serial == 0xFFFFFFFFu ? std::string("no serial number") : "S/N " + std::to_string(serial);
}

// Walks the groups of a settings document as the plug-in's lookup sees
// them: for each group, whether its path leads to it; for each sensor,
// whether its name in its group does.
class Walk {
public:
    Walk(zvHandle info, ServerSettingsView* view) : info_(info), xml_(zvAppInfoXml(info)), view_(view) {}

    // The members of `group`, whose path is `path`; `why` tells why the
    // lookup does not lead to the group (empty when it does).
    void Group(zvXmlItem group, const std::string& path, const std::string& why, int depth) {
        zvXmlItem members = 0;
        if (depth > kMaxDepth || zvXMLFindBranchItem(xml_, group, "Members", 1, &members) <= 0 || members == 0) return;
        std::set<std::string> groups;             // names of the member groups so far
        std::map<std::string, uint32_t> sensors;  // names of the member sensors so far
        zvXmlItem member = 0;
        for (zvXMLGetFirstChild(xml_, members, &member); member != 0;) {
            char element[64] = "";
            zvXMLGetItemName(xml_, member, element, sizeof element);
            std::string name;
            const NameRead read = ReadName(xml_, member, &name);
            if (std::strcmp(element, "SensorGroup") == 0) {
                const std::string inner = !why.empty() ? why : GroupProblem(read, name, path, &groups);
                Group(member, path.empty() ? name : path + "/" + name, inner, depth + 1);
            } else if (read == NameRead::TooLong || (read == NameRead::Done && !name.empty())) {
                Sensor(member, path, name, read == NameRead::TooLong, why, &sensors);
            }
            zvXmlItem next = 0;
            if (zvXMLGetNextSibling(xml_, member, &next) <= 0) break;
            member = next;
        }
    }

private:
    // Why the lookup does not lead to a member group named `name` of the
    // group at `path`, whose earlier member groups are `seen`; "" when it does.
    static std::string GroupProblem(NameRead read, const std::string& name, const std::string& path,
                                    std::set<std::string>* seen) {
        if (read == NameRead::TooLong)
            return "its group's name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
        if (name.empty()) return "its group has no name, so the pages cannot look the group up";
        if (name.find_first_of("/\\") != std::string::npos)
            return "its group's name " + Quote(name) + " holds a path separator, so the pages cannot look the group up";
        if (!seen->insert(name).second)
            return "an earlier group of " + GroupName(path) + " is also named " + Quote(name) +
                   ": the pages look that one up";
        return "";
    }

    void Sensor(zvXmlItem member, const std::string& path, const std::string& name, bool tooLong,
                const std::string& why, std::map<std::string, uint32_t>* seen) {
        if (view_->sensors.size() >= kMaxSensorsShown) {
            ++view_->omitted;
            return;
        }
        SensorEntry entry;
        entry.group = path;
        entry.name = name;
        entry.serial = zvAppInfoSensorSerial(info_, member);
        if (!why.empty()) {
            entry.unreachable = why;
        } else if (tooLong) {
            entry.unreachable = "its name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
        } else if (auto [first, fresh] = seen->emplace(name, entry.serial); !fresh) {
            entry.unreachable = "an earlier sensor of " + GroupName(path) + " (" + SerialText(first->second) +
                                ") is also named " + Quote(name) +
                                ": the pages find a sensor by its name and would act on that one; give this "
                                "sensor a name of its own";
        }
        view_->sensors.push_back(std::move(entry));
    }

    zvHandle info_;
    zvHandle xml_;
    ServerSettingsView* view_;
};

}  // namespace

ServerSettingsView ReadServerSettingsView(uint32_t serial) {
    ServerSettingsView view;
    const std::string path = "\\SN" + std::to_string(serial) + "\\Settings.xml";
    if (zvFileExists(path.c_str()) != 1) return view;
    view.present = true;
    zvLastErrorClear();
    zv::OwnedFile file;
    zv::OwnedAppInfo info;
    zvStatus status = zvFileCreate(file.Out(), nullptr);
    if (status > 0) status = zvFileInit(file, path.c_str(), ZV_FILE_READ);
    if (status > 0) status = zvAppInfoCreate(info.Out(), nullptr);
    if (status > 0) status = zvAppInfoInit(info);
    if (status > 0) status = zvAppInfoRead(info, file);
    // The reason is the failing call's, before closing can replace it.
    const std::string reason = status <= 0 ? zvLastErrorText() : "";
    file.Reset();
    if (status <= 0) {
        view.problem =
            !reason.empty() ? reason : Quote(path) + ": cannot be read (status " + std::to_string(status) + ")";
    } else if (const zvXmlItem root = zvAppInfoRootGroup(info); root != 0) {
        Walk(info, &view).Group(root, "", "", 0);
    }
    return view;
}

std::vector<std::string> SensorPaths(const std::string& serverPath, const std::vector<SensorEntry>& sensors) {
    std::map<std::string, int> reachable;  // names of the sensors the plug-in reaches, with their counts
    for (const SensorEntry& s : sensors)
        if (s.unreachable.empty()) ++reachable[s.name];
    std::set<std::string> taken;
    std::vector<std::string> paths(sensors.size());
    auto claim = [&](std::string base, bool numbered) {
        std::string path = base;
        for (int k = 2; numbered || taken.count(path) != 0; ++k) {
            path = base + "#" + std::to_string(k);
            numbered = false;
        }
        taken.insert(path);
        return path;
    };
    // The sensors the plug-in reaches first: they keep their plain paths
    // whatever comes before them in the document.
    for (size_t i = 0; i < sensors.size(); ++i) {
        const SensorEntry& s = sensors[i];
        if (!s.unreachable.empty()) continue;
        const bool shared = reachable[s.name] > 1 && !s.group.empty();
        paths[i] = claim(serverPath + "/" + (shared ? s.group + "/" : "") + s.name, false);
    }
    for (size_t i = 0; i < sensors.size(); ++i)
        if (!sensors[i].unreachable.empty()) paths[i] = claim(serverPath + "/" + sensors[i].name, true);
    return paths;
}

std::string UnreadSettings(const zv::station::StationBackend& station) {
    std::string why;
    for (const zv::station::Server& server : station.Servers()) {
        if (server.settingsError.empty()) continue;
        // The platform's reading names the line; the station's may not.
        const std::string problem = ReadServerSettingsView(server.serial).problem;
        why += std::string(why.empty() ? "the settings of " : "; ") + "server SN" + std::to_string(server.serial) +
               " cannot be read: " + (problem.empty() ? server.settingsError : problem);
    }
    return why.empty() ? why : why + " (a server's Setup page, System Config, makes them again)";
}

}  // namespace zvhost
