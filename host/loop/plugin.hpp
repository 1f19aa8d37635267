// Loading the plug-in: dlopen, the three exports bound by name, and the
// pipe-app description read back into plain values.
#ifndef ZVHOST_PLUGIN_HPP
#define ZVHOST_PLUGIN_HPP

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostapi/hostapi.hpp"
#include "zvapi/zvapi.h"

namespace zvhost {

using DescribeExport = zvStatus (*)(zvHandle* app);

class Plugin {
public:
    Plugin() = default;
    // The library stays loaded for the life of the process: handlers and
    // objects of the description point into it.
    ~Plugin() = default;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the library at `path` and binds the exports. Fails (false,
    // `*error` set) when the library cannot be loaded or has no
    // TorvaneDescribePipeApp; the node and page exports may be absent
    // (Missing() names them).
    bool Load(const std::string& path, std::string* error);
    // Calls TorvaneDescribePipeApp once; later calls give the same app.
    // Returns its status; on failure `*app` is what the export left (the
    // host destroys it).
    zvStatus Describe(zvHandle* app);

    const std::string& Path() const { return path_; }
    // Exports not found, by name.
    std::vector<std::string> Missing() const;
    bool HasNodeExport() const { return node_ != nullptr; }
    bool HasPageExport() const { return page_ != nullptr; }
    // TorvaneNodeCreate and TorvanePageCreate; a missing export gives none
    // (and status 1, as the exports do).
    int32_t NodeCreate(int32_t type, hostapi::Node** node) const;
    int32_t PageCreate(int32_t id, hostapi::Page** page) const;

private:
    std::string path_;
    void* library_ = nullptr;
    DescribeExport describe_ = nullptr;
    hostapi::NodeCreateExport node_ = nullptr;
    hostapi::PageCreateExport page_ = nullptr;
    bool described_ = false;
    zvStatus status_ = ZV_E_STATE;
    zvHandle app_ = nullptr;
};

// libtorvane.so in the folder of the running program.
std::string DefaultPluginPath();

struct DisplayInfo {
    std::string name;
    int32_t kind = 0;
};

struct ParameterInfo {
    std::string name;
    int32_t initial = 0;
};

struct ModeInfo {
    std::string name;
    bool start = false, process = false, stop = false;  // handlers present
    std::vector<DisplayInfo> displays;
    std::vector<ParameterInfo> parameters;
    int32_t inputStyle = 0;
};

struct AppInfo {
    std::string name;
    int32_t major = 0, minor = 0;
    std::vector<ModeInfo> modes;
    const ModeInfo* Find(const std::string& mode) const;
};

AppInfo ReadApp(zvHandle app);
// "polar model", "image", "plot", "table", or "kind N".
std::string KindName(int32_t kind);
nlohmann::json AppJson(const AppInfo& app);
std::string AppText(const AppInfo& app);

}  // namespace zvhost

#endif
