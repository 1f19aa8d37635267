// The host loop's station tree: the plug-in's nodes for the capture, each
// server and each sensor of a server's settings.
#include <algorithm>
#include <exception>
#include <map>

#include "host_loop.hpp"
#include "server_settings.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr int32_t kMaxPagesOfNode = 16;  // room beyond the interface's six, for a node that lists more

}  // namespace

// ---- The tree ------------------------------------------------------------------------------

void HostLoop::ReleaseTree(std::vector<TreeNode>* tree) {
    // Children first, so that no node outlives its parent.
    for (auto it = tree->rbegin(); it != tree->rend(); ++it) {
        if (it->node != nullptr) it->node->Release();
        it->node = nullptr;
    }
    tree->clear();
}

void HostLoop::BuildTree() {
    // An open page keeps the nodes of the tree it was opened on until it
    // closes; later trees it never saw go at once.
    const bool pageUsesTree = page_ != nullptr && !tree_.empty() && retired_.empty();
    if (pageUsesTree) {
        retired_ = std::move(tree_);
    } else {
        ReleaseTree(&tree_);
    }
    tree_.clear();
    std::string error;
    station_.ReloadSettings(&error);

    TreeNode capture;
    capture.path = "Capture";
    capture.type = hostapi::kCaptureNode;
    AddNode(capture, hostapi::NodeInfo{hostapi::kCaptureNode, 0, 0, nullptr});
    for (uint32_t serial : servers_) AddServer(serial);
    treeWanted_ = false;
}

int32_t HostLoop::AddNode(TreeNode node, const hostapi::NodeInfo& info) {
    hostapi::Node* made = nullptr;
    plugin_.NodeCreate(node.type, &made);
    hostapi::Node* parent = node.parent >= 0 ? tree_[static_cast<size_t>(node.parent)].node : nullptr;
    inCall_ = true;
    try {
        if (made != nullptr) made->Init(&info, parent, SiteForPlugin());
        if (made != nullptr) {
            int32_t ids[kMaxPagesOfNode] = {};
            int32_t count = 0;
            made->GetPages(ids, &count);
            for (int32_t i = 0; i < std::clamp(count, 0, hostapi::Node::kMaxPages); ++i) node.pages.push_back(ids[i]);
        }
    } catch (const std::exception& e) {
        Emit(events::Error(std::string("the plug-in's node threw: ") + e.what()));
    }
    inCall_ = false;
    node.node = made;
    tree_.push_back(std::move(node));
    return static_cast<int32_t>(tree_.size() - 1);
}

void HostLoop::AddServer(uint32_t serial) {
    const ServerSettingsView settings = ReadServerSettingsView(serial);
    TreeNode server;
    server.path = "SN" + std::to_string(serial);
    server.type = hostapi::kServerNode;
    server.serial = serial;
    // A server whose settings are missing, or cannot be read by the
    // plug-in or the station, offers only the page that creates them.
    server.reason = settings.problem.empty() ? StationSettingsError(serial) : settings.problem;
    if (!settings.present) server.reason = "no Settings.xml (\\SN" + std::to_string(serial) + "\\Settings.xml)";
    server.limited = !server.reason.empty();
    server.unreadable = server.limited && settings.present;
    if (!server.limited && settings.omitted > 0)
        server.reason = "its Settings.xml lists " + std::to_string(settings.sensors.size() + settings.omitted) +
                        " sensors: the tree shows the first " + std::to_string(settings.sensors.size());
    const int32_t index =
        AddNode(server, hostapi::NodeInfo{hostapi::kServerNode, serial, server.limited ? 1u : 0u, nullptr});
    if (server.limited) return;
    const std::vector<std::string> paths = SensorPaths(server.path, settings.sensors);
    for (size_t i = 0; i < settings.sensors.size(); ++i) {
        const SensorEntry& entry = settings.sensors[i];
        TreeNode sensor;
        sensor.path = paths[i];
        sensor.serial = serial;
        sensor.groupPath = entry.group;
        sensor.sensorName = entry.name;
        sensor.parent = index;
        // A sensor the plug-in's lookup does not find gets a node without
        // pages: a sensor node would act on another sensor.
        sensor.reason = entry.unreachable;
        sensor.type = entry.unreachable.empty() ? hostapi::kSensorNode : hostapi::kPlainNode;
        AddNode(sensor, sensor.type == hostapi::kSensorNode
                            ? hostapi::NodeInfo{hostapi::kSensorNode, 0, hostapi::NodeInfo::Text(entry.group.c_str()),
                                                entry.name.c_str()}
                            : hostapi::NodeInfo{hostapi::kPlainNode, 0, 0, nullptr});
    }
}

std::string HostLoop::StationSettingsError(uint32_t serial) const {
    for (const zv::station::Server& s : station_.Servers())
        if (s.serial == serial) return s.settingsError;
    return "";
}

// Paths are exact: on a station whose sensors are named "A" and "a", each
// path names one of them.
const TreeNode* HostLoop::FindNode(const std::string& path) const {
    for (const TreeNode& n : tree_)
        if (n.path == path) return &n;
    return nullptr;
}

std::string HostLoop::PageName(int32_t id) {
    hostapi::Page* page = nullptr;
    plugin_.PageCreate(id, &page);
    if (page == nullptr) return "";
    char name[64] = {};
    page->GetName(name, sizeof name - 1);
    page->Destroy();
    return name;
}

json HostLoop::TreeJson() {
    json nodes = json::array();
    std::map<int32_t, std::string> names;
    for (const TreeNode& n : tree_) {
        json pages = json::array();
        for (int32_t id : n.pages) {
            if (!names.count(id)) names[id] = PageName(id);
            pages.push_back({{"id", id}, {"name", names[id]}});
        }
        json j = {{"path", n.path}, {"type", n.type}, {"pages", pages}};
        static const char* const kTypes[] = {"capture", "server", "plain", "sensor"};
        if (n.type >= 0 && n.type < 4) j["kind"] = kTypes[n.type];
        if (n.type == hostapi::kServerNode) {
            j["serial"] = n.serial;
            j["limited"] = n.limited;
            if (station_.OnNetwork(n.serial)) {
                j["network"] = true;
                j["offline"] = !station_.Online(n.serial);
            }
        }
        if (n.type == hostapi::kSensorNode || (n.type == hostapi::kPlainNode && n.parent >= 0)) {
            j["group"] = n.groupPath;
            j["sensor"] = n.sensorName;
        }
        if (!n.reason.empty()) j["reason"] = n.reason;
        if (n.parent >= 0) j["parent"] = tree_[static_cast<size_t>(n.parent)].path;
        if (n.node == nullptr) j["missing"] = true;
        nodes.push_back(j);
    }
    return events::Tree(std::move(nodes));
}

}  // namespace zvhost
