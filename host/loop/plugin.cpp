#include "plugin.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace zvhost {

bool Plugin::Load(const std::string& path, std::string* error) {
    path_ = path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        *error = "plug-in not found: " + path;
        return false;
    }
    // RTLD_LOCAL: the plug-in's own symbols stay its own; the platform
    // library it needs is the one the host already has.
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* why = dlerror();
        *error = "cannot load plug-in " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    describe_ = reinterpret_cast<DescribeExport>(dlsym(library_, "TorvaneDescribePipeApp"));
    node_ = reinterpret_cast<hostapi::NodeCreateExport>(dlsym(library_, "TorvaneNodeCreate"));
    page_ = reinterpret_cast<hostapi::PageCreateExport>(dlsym(library_, "TorvanePageCreate"));
    if (describe_ == nullptr) {
        *error = "plug-in " + path + " has no export TorvaneDescribePipeApp";
        return false;
    }
    return true;
}

zvStatus Plugin::Describe(zvHandle* app) {
    if (!described_) {
        described_ = true;
        app_ = nullptr;
        status_ = describe_ != nullptr ? describe_(&app_) : ZV_E_STATE;
    }
    *app = app_;
    return status_;
}

int32_t Plugin::NodeCreate(int32_t type, hostapi::Node** node) const {
    *node = nullptr;
    return node_ != nullptr ? node_(type, node) : 1;
}

int32_t Plugin::PageCreate(int32_t id, hostapi::Page** page) const {
    *page = nullptr;
    return page_ != nullptr ? page_(id, page) : 1;
}

std::vector<std::string> Plugin::Missing() const {
    std::vector<std::string> missing;
    if (describe_ == nullptr) missing.push_back("TorvaneDescribePipeApp");
    if (node_ == nullptr) missing.push_back("TorvaneNodeCreate");
    if (page_ == nullptr) missing.push_back("TorvanePageCreate");
    return missing;
}

std::string DefaultPluginPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "libtorvane.so";
    return (self.parent_path() / "libtorvane.so").string();
}

const ModeInfo* AppInfo::Find(const std::string& mode) const {
    for (const ModeInfo& m : modes)
        if (m.name == mode) return &m;
    return nullptr;
}

namespace {
std::string Text(const char* s) { return s ? s : ""; }
}  // namespace

AppInfo ReadApp(zvHandle app) {
    AppInfo info;
    info.name = Text(zvPipeAppName(app));
    zvPipeAppVersion(app, &info.major, &info.minor);
    const int32_t modes = zvPipeAppModeCount(app);
    for (int32_t i = 0; i < modes; ++i) {
        zvHandle mode = zvPipeAppModeAt(app, i);
        ModeInfo m;
        m.name = Text(zvPipeModeName(mode));
        m.start = zvPipeModeStartHandler(mode) != nullptr;
        m.process = zvPipeModeProcessHandler(mode) != nullptr;
        m.stop = zvPipeModeStopHandler(mode) != nullptr;
        for (int32_t d = 0; d < zvPipeModeDisplayCount(mode); ++d)
            m.displays.push_back({Text(zvPipeModeDisplayName(mode, d)), zvPipeModeDisplayKind(mode, d)});
        for (int32_t p = 0; p < zvPipeModeParameterCount(mode); ++p)
            m.parameters.push_back({Text(zvPipeModeParameterName(mode, p)), zvPipeModeParameterInitial(mode, p)});
        m.inputStyle = zvPipeModeInputStyle(mode);
        info.modes.push_back(std::move(m));
    }
    return info;
}

std::string KindName(int32_t kind) {
    switch (kind) {
        case 0: return "polar model";
        case 1: return "image";
        case 2: return "plot";
        case 3: return "table";
        default: return "kind " + std::to_string(kind);
    }
}

nlohmann::json AppJson(const AppInfo& app) {
    nlohmann::json j;
    j["name"] = app.name;
    j["version"] = {{"major", app.major}, {"minor", app.minor}};
    nlohmann::json modes = nlohmann::json::array();
    for (const ModeInfo& m : app.modes) {
        nlohmann::json mj;
        mj["name"] = m.name;
        mj["handlers"] = {{"start", m.start}, {"process", m.process}, {"stop", m.stop}};
        nlohmann::json displays = nlohmann::json::array();
        for (const DisplayInfo& d : m.displays)
            displays.push_back({{"name", d.name}, {"kind", d.kind}, {"shows", KindName(d.kind)}});
        mj["displays"] = displays;
        nlohmann::json parameters = nlohmann::json::array();
        for (const ParameterInfo& p : m.parameters) parameters.push_back({{"name", p.name}, {"initial", p.initial}});
        mj["parameters"] = parameters;
        mj["inputStyle"] = m.inputStyle;
        modes.push_back(mj);
    }
    j["modes"] = modes;
    return j;
}

std::string AppText(const AppInfo& app) {
    std::string text = "pipe app \"" + app.name + "\" " + std::to_string(app.major) + "." + std::to_string(app.minor) +
                       ", " + std::to_string(app.modes.size()) + " modes\n";
    for (const ModeInfo& m : app.modes) {
        text += "  mode \"" + m.name + "\" (input style " + std::to_string(m.inputStyle) + ")\n";
        for (const DisplayInfo& d : m.displays)
            text += "    display \"" + d.name + "\": " + KindName(d.kind) + " (kind " + std::to_string(d.kind) + ")\n";
        if (m.parameters.empty()) text += "    no parameters\n";
        for (const ParameterInfo& p : m.parameters)
            text += "    parameter \"" + p.name + "\" = " + std::to_string(p.initial) + "\n";
    }
    return text;
}

}  // namespace zvhost
