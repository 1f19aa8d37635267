// Pipe-app descriptions: the app, its modes, their handlers, displays and
// parameters.
#include <cstring>

#include "accessors.hpp"
#include "pipe.hpp"

namespace zv {

PipeApp::~PipeApp() {
    for (PipeMode* mode : modes) Delete(mode);
}

}  // namespace zv

namespace {

// Names of apps, modes, displays and parameters: non-empty, bounded.
bool ValidName(const char* name) { return name != nullptr && name[0] != '\0' && std::strlen(name) <= 255; }

zv::PipeMode* ModeOf(zvHandle mode, zvStatus* status) { return zv::Get<zv::PipeMode>(mode, ZV_TYPE_PIPEMODE, status); }

zv::PipeApp* AppOf(zvHandle app, zvStatus* status) { return zv::Get<zv::PipeApp>(app, ZV_TYPE_PIPEAPP, status); }

// Sets one field of a mode's description.
template <class Field>
zvStatus SetModeField(zvHandle mode, Field zv::PipeMode::*field, Field value) {
    zvStatus status = ZV_OK;
    zv::PipeMode* m = ModeOf(mode, &status);
    if (m == nullptr) return status;
    m->*field = value;
    return ZV_OK;
}

// Item `index` of one of a mode's tables; null for no mode or no such item.
template <class Item>
const Item* ModeItem(zvHandle mode, std::vector<Item> zv::PipeMode::*table, int32_t index) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? zv::ItemAt(m->*table, index) : nullptr;
}

}  // namespace

extern "C" {

zvStatus zvPipeAppCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::PipeApp>(out, allocator); });
}

zvStatus zvPipeAppInit(zvHandle app, const char* name) {
    ZV_ENTER(name);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::PipeApp* a = AppOf(app, &status);
        if (a == nullptr) return status;
        if (!ValidName(name)) return ZV_E_ARGUMENT;
        a->name = name;
        a->initialised = true;
        return ZV_OK;
    });
}

zvStatus zvPipeAppSetVersion(zvHandle app, int32_t major, int32_t minor) {
    ZV_ENTER(major, minor);
    zvStatus status = ZV_OK;
    zv::PipeApp* a = AppOf(app, &status);
    if (a == nullptr) return status;
    if (major < 0 || minor < 0) return ZV_E_ARGUMENT;
    a->major = major;
    a->minor = minor;
    return ZV_OK;
}

zvStatus zvPipeAppAddMode(zvHandle app, zvHandle mode) {
    ZV_ENTER(zvPipeModeName(mode));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::PipeApp* a = AppOf(app, &status);
        if (a == nullptr) return status;
        zv::PipeMode* m = ModeOf(mode, &status);
        if (m == nullptr) return status;
        if (!m->initialised) return ZV_E_STATE;
        if (m->container != nullptr) return ZV_E_STATE;  // already in an app
        for (const zv::PipeMode* other : a->modes) {
            if (other->name == m->name) return ZV_E_ARGUMENT;  // modes are switched by name
        }
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        a->modes.push_back(m);
        zv::Adopt(a, m);
        return ZV_OK;
    });
}

zvStatus zvPipeAppDestroy(zvHandle app) {
    ZV_ENTER();
    return zv::DestroyChecked(app, ZV_TYPE_PIPEAPP);
}

zvStatus zvPipeModeCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::PipeMode>(out, allocator); });
}

zvStatus zvPipeModeInit(zvHandle mode, const char* name) {
    ZV_ENTER(name);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::PipeMode* m = ModeOf(mode, &status);
        if (m == nullptr) return status;
        if (!ValidName(name)) return ZV_E_ARGUMENT;
        if (m->container != nullptr) return ZV_E_STATE;  // an app's mode keeps its name
        m->name = name;
        m->initialised = true;
        return ZV_OK;
    });
}

zvStatus zvPipeModeSetStartHandler(zvHandle mode, zvPipeStartHandler handler) {
    ZV_ENTER(zvPipeModeName(mode));
    return SetModeField(mode, &zv::PipeMode::start, handler);
}

zvStatus zvPipeModeSetProcessHandler(zvHandle mode, zvPipeProcessHandler handler) {
    ZV_ENTER(zvPipeModeName(mode));
    return SetModeField(mode, &zv::PipeMode::process, handler);
}

zvStatus zvPipeModeSetStopHandler(zvHandle mode, zvPipeStopHandler handler) {
    ZV_ENTER(zvPipeModeName(mode));
    return SetModeField(mode, &zv::PipeMode::stop, handler);
}

zvStatus zvPipeModeAddDisplay(zvHandle mode, const char* name, int32_t kind) {
    ZV_ENTER(name, kind);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::PipeMode* m = ModeOf(mode, &status);
        if (m == nullptr) return status;
        if (!ValidName(name) || kind < 0 || kind > 3) return ZV_E_ARGUMENT;
        for (const auto& d : m->displays) {
            if (d.name == name) return ZV_E_ARGUMENT;  // outputs are routed by name
        }
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        m->displays.push_back({name, kind});
        return ZV_OK;
    });
}

zvStatus zvPipeModeAddParameter(zvHandle mode, const char* name, int32_t initial) {
    ZV_ENTER(name, initial);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::PipeMode* m = ModeOf(mode, &status);
        if (m == nullptr) return status;
        if (!ValidName(name)) return ZV_E_ARGUMENT;
        for (const auto& p : m->parameters) {
            if (p.name == name) return ZV_E_ARGUMENT;
        }
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        m->parameters.push_back({name, initial});
        return ZV_OK;
    });
}

zvStatus zvPipeModeSetInputStyle(zvHandle mode, int32_t style) {
    ZV_ENTER(style);
    return SetModeField(mode, &zv::PipeMode::inputStyle, style);
}

zvStatus zvPipeModeDestroy(zvHandle mode) {
    ZV_ENTER();
    return zv::DestroyChecked(mode, ZV_TYPE_PIPEMODE);
}

// ---- Read-back --------------------------------------------------------------

const char* zvPipeAppName(zvHandle app) {
    zv::PipeApp* a = AppOf(app, nullptr);
    return a ? a->name.c_str() : nullptr;
}

zvStatus zvPipeAppVersion(zvHandle app, int32_t* major, int32_t* minor) {
    if (major) *major = 0;
    if (minor) *minor = 0;
    zvStatus status = ZV_OK;
    zv::PipeApp* a = AppOf(app, &status);
    if (a == nullptr) return status;
    if (major == nullptr || minor == nullptr) return ZV_E_ARGUMENT;
    *major = a->major;
    *minor = a->minor;
    return ZV_OK;
}

int32_t zvPipeAppModeCount(zvHandle app) {
    zv::PipeApp* a = AppOf(app, nullptr);
    return a ? static_cast<int32_t>(a->modes.size()) : 0;
}

zvHandle zvPipeAppModeAt(zvHandle app, int32_t index) {
    zv::PipeApp* a = AppOf(app, nullptr);
    zv::PipeMode* const* m = a ? zv::ItemAt(a->modes, index) : nullptr;
    return m ? zv::ToHandle(*m) : nullptr;
}

const char* zvPipeModeName(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? m->name.c_str() : nullptr;
}

zvPipeStartHandler zvPipeModeStartHandler(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? m->start : nullptr;
}

zvPipeProcessHandler zvPipeModeProcessHandler(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? m->process : nullptr;
}

zvPipeStopHandler zvPipeModeStopHandler(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? m->stop : nullptr;
}

int32_t zvPipeModeDisplayCount(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? static_cast<int32_t>(m->displays.size()) : 0;
}

const char* zvPipeModeDisplayName(zvHandle mode, int32_t index) {
    const zv::PipeMode::Display* item = ModeItem(mode, &zv::PipeMode::displays, index);
    return item ? item->name.c_str() : nullptr;
}

int32_t zvPipeModeDisplayKind(zvHandle mode, int32_t index) {
    const zv::PipeMode::Display* item = ModeItem(mode, &zv::PipeMode::displays, index);
    return item ? item->kind : ZV_E_RANGE;
}

int32_t zvPipeModeParameterCount(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? static_cast<int32_t>(m->parameters.size()) : 0;
}

const char* zvPipeModeParameterName(zvHandle mode, int32_t index) {
    const zv::PipeMode::Parameter* item = ModeItem(mode, &zv::PipeMode::parameters, index);
    return item ? item->name.c_str() : nullptr;
}

int32_t zvPipeModeParameterInitial(zvHandle mode, int32_t index) {
    const zv::PipeMode::Parameter* item = ModeItem(mode, &zv::PipeMode::parameters, index);
    return item ? item->initial : 0;
}

int32_t zvPipeModeInputStyle(zvHandle mode) {
    zv::PipeMode* m = ModeOf(mode, nullptr);
    return m ? m->inputStyle : 0;
}

}  // extern "C"
