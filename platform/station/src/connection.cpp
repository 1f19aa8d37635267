// The station as the client sees it: the client's own pipe kept here, the
// station pipes kept by the Station, and every change told to the host.
#include "zvstation/connection.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace zv::station {

namespace {

// No C++ exception goes back through the backend table.
template <class F>
zvStatus Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ZV_E_NOMEM;
    } catch (...) {
        return ZV_E_FAIL;
    }
}

Connection* Of(void* context) { return static_cast<Connection*>(context); }

}  // namespace

Connection::Connection(StationBackend* station, std::vector<ModeDeclaration> modes)
    : station_(station), modes_(std::move(modes)) {
    for (const ModeDeclaration& mode : modes_) {
        if (values_.count(mode.name) != 0) continue;  // the first declaration of a name counts
        std::vector<int32_t>& values = values_[mode.name];
        for (const auto& parameter : mode.parameters) values.push_back(parameter.second);
    }
    backend_.context = this;
    backend_.hasServer = &HasServer;
    backend_.setMode = &SetMode;
    backend_.currentMode = &CurrentMode;
    backend_.parameters = &GetParameters;
    backend_.setParameters = &PutParameters;
    backend_.setEnabled = &SetEnabledOf;
    backend_.enabled = &EnabledOf;
    backend_.setCapture = &SetCapture;
    backend_.setCaptureSegmentSize = &SetSegmentSize;
}

Connection::~Connection() = default;

zvStatus Connection::Attach(zvHandle client) {
    // Servers the client already has stay as they are.
    zvHandle known = nullptr;
    zvStatus status = zvArrayListCreate(&known, nullptr);
    if (status > 0) status = zvArrayListInit(known, ZV_TYPE_UINT32, 0, 1);
    if (status > 0) status = zvClientServers(client, known);
    if (status > 0 && station_ != nullptr) {
        const auto* first = static_cast<const uint32_t*>(zvArrayListData(known));
        const auto* last = first + zvArrayListCount(known);
        for (const Server& server : station_->Servers()) {
            if (std::find(first, last, server.serial) != last) continue;
            status = zvClientAddServer(client, server.serial);
            if (status <= 0) break;
        }
    }
    zvArrayListDestroy(known);
    if (status <= 0) return status;
    return zvClientSetStationBackend(client, &backend_);
}

void Connection::SetListener(PipeListener listener) { listener_ = std::move(listener); }

zvStatus Connection::SetClientMode(const std::string& mode) {
    return Guarded([&] { return SetMode(this, ZV_CLIENT_PIPE, mode.c_str()); });
}

zvStatus Connection::SetClientEnabled(bool enabled) { return SetEnabledOf(this, ZV_CLIENT_PIPE, enabled ? 1 : 0); }

std::vector<int32_t> Connection::Parameters(const std::string& mode) const {
    const auto found = values_.find(mode);
    return found != values_.end() ? found->second : std::vector<int32_t>{};
}

zvStatus Connection::SetParameters(const std::string& mode, const std::vector<int32_t>& values) {
    return Guarded([&] {
        const auto found = values_.find(mode);
        if (found == values_.end()) return ZV_E_NOTFOUND;
        if (values.size() != found->second.size()) return ZV_E_RANGE;
        found->second = values;
        PipeEvent event;
        event.kind = PipeEvent::Kind::Parameters;
        event.mode = mode;
        event.values = values;
        Tell(event);
        return ZV_OK;
    });
}

zvStatus Connection::SetParameter(const std::string& mode, const std::string& name, int32_t value) {
    return Guarded([&] {
        const ModeDeclaration* declared = Find(mode);
        if (declared == nullptr) return ZV_E_NOTFOUND;
        for (size_t i = 0; i < declared->parameters.size(); ++i) {
            if (declared->parameters[i].first != name) continue;
            std::vector<int32_t> values = values_[mode];
            values[i] = value;
            return SetParameters(mode, values);
        }
        return ZV_E_NOTFOUND;
    });
}

const ModeDeclaration* Connection::Find(const std::string& mode) const {
    for (const ModeDeclaration& m : modes_)
        if (m.name == mode) return &m;
    return nullptr;
}

void Connection::Tell(const PipeEvent& event) {
    if (listener_) listener_(event);
}

// ---- The backend table -------------------------------------------------------
// Station pipes are the Station's; a serial it does not have is
// ZV_E_NOTFOUND for every call.

namespace {

const Server* FindServer(const StationBackend* station, uint32_t serial) {
    if (station == nullptr) return nullptr;
    for (const Server& server : station->Servers())
        if (server.serial == serial) return &server;
    return nullptr;
}

}  // namespace

zvStatus Connection::HasServer(void* context, uint32_t server) {
    return FindServer(Of(context)->station_, server) != nullptr ? ZV_OK : ZV_E_NOTFOUND;
}

zvStatus Connection::SetMode(void* context, uint32_t server, const char* mode) {
    return Guarded([&] {
        Connection* c = Of(context);
        if (mode == nullptr) return ZV_E_ARGUMENT;
        // The event is made first: once the mode changed, it is told.
        PipeEvent event;
        event.kind = PipeEvent::Kind::Mode;
        event.server = server;
        event.mode = mode;
        if (server == ZV_CLIENT_PIPE) {
            if (c->Find(mode) == nullptr) return ZV_E_NOTFOUND;
            c->clientMode_ = event.mode;
        } else {
            if (FindServer(c->station_, server) == nullptr) return ZV_E_NOTFOUND;
            const zvStatus status = c->station_->SetMode(server, mode);
            if (status <= 0) return status;
        }
        c->Tell(event);
        return ZV_OK;
    });
}

zvStatus Connection::CurrentMode(void* context, uint32_t server, char* buffer, int32_t size) {
    Connection* c = Of(context);
    if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
    buffer[0] = '\0';
    const std::string* mode = &c->clientMode_;
    if (server != ZV_CLIENT_PIPE) {
        const Server* s = FindServer(c->station_, server);
        if (s == nullptr) return ZV_E_NOTFOUND;
        mode = &s->pipe.mode;
    }
    if (mode->size() >= static_cast<size_t>(size)) return ZV_E_RANGE;
    std::memcpy(buffer, mode->c_str(), mode->size() + 1);
    return ZV_OK;
}

zvStatus Connection::GetParameters(void* context, uint32_t server, int32_t* values, int32_t capacity, int32_t* count) {
    Connection* c = Of(context);
    if (count == nullptr || capacity < 0 || (values == nullptr && capacity > 0)) return ZV_E_ARGUMENT;
    *count = 0;
    if (server != ZV_CLIENT_PIPE) {
        // Station pipes declare no parameters.
        const Server* s = FindServer(c->station_, server);
        if (s == nullptr) return ZV_E_NOTFOUND;
        return s->pipe.mode.empty() ? ZV_E_STATE : ZV_OK;
    }
    if (c->clientMode_.empty()) return ZV_E_STATE;
    const auto found = c->values_.find(c->clientMode_);
    if (found == c->values_.end()) return ZV_E_STATE;
    const std::vector<int32_t>& current = found->second;
    *count = static_cast<int32_t>(current.size());
    if (*count > capacity) return ZV_E_RANGE;
    std::copy(current.begin(), current.end(), values);
    return ZV_OK;
}

zvStatus Connection::PutParameters(void* context, uint32_t server, const int32_t* values, int32_t count) {
    return Guarded([&] {
        Connection* c = Of(context);
        if (count < 0 || (values == nullptr && count > 0)) return ZV_E_ARGUMENT;
        std::string mode;
        std::vector<int32_t>* target = nullptr;
        if (server != ZV_CLIENT_PIPE) {
            const Server* s = FindServer(c->station_, server);
            if (s == nullptr) return ZV_E_NOTFOUND;
            if (s->pipe.mode.empty()) return ZV_E_STATE;
            if (count != 0) return ZV_E_RANGE;
            mode = s->pipe.mode;
        } else {
            if (c->clientMode_.empty()) return ZV_E_STATE;
            const auto found = c->values_.find(c->clientMode_);
            if (found == c->values_.end()) return ZV_E_STATE;
            if (static_cast<size_t>(count) != found->second.size()) return ZV_E_RANGE;
            mode = c->clientMode_;
            target = &found->second;
        }
        PipeEvent event;
        event.kind = PipeEvent::Kind::Parameters;
        event.server = server;
        event.mode = std::move(mode);
        event.values.assign(values, values + count);
        if (target != nullptr) *target = event.values;  // made before: nothing changes when memory runs out
        c->Tell(event);
        return ZV_OK;
    });
}

zvStatus Connection::SetEnabledOf(void* context, uint32_t server, int32_t enabled) {
    return Guarded([&] {
        Connection* c = Of(context);
        if (server == ZV_CLIENT_PIPE) {
            c->clientEnabled_ = enabled != 0;
        } else {
            if (FindServer(c->station_, server) == nullptr) return ZV_E_NOTFOUND;
            const zvStatus status = c->station_->Enable(server, enabled != 0);
            if (status <= 0) return status;
        }
        PipeEvent event;
        event.kind = PipeEvent::Kind::Enabled;
        event.server = server;
        event.on = enabled != 0;
        c->Tell(event);
        return ZV_OK;
    });
}

zvStatus Connection::EnabledOf(void* context, uint32_t server, int32_t* enabled) {
    Connection* c = Of(context);
    if (enabled == nullptr) return ZV_E_ARGUMENT;
    *enabled = 0;
    if (server == ZV_CLIENT_PIPE) {
        *enabled = c->clientEnabled_ ? 1 : 0;
        return ZV_OK;
    }
    const Server* s = FindServer(c->station_, server);
    if (s == nullptr) return ZV_E_NOTFOUND;
    *enabled = s->pipe.enabled ? 1 : 0;
    return ZV_OK;
}

zvStatus Connection::SetCapture(void* context, int32_t on) {
    return Guarded([&] {
        Connection* c = Of(context);
        c->captureOn_ = on != 0;
        PipeEvent event;
        event.kind = PipeEvent::Kind::Capture;
        event.on = on != 0;
        c->Tell(event);
        return ZV_OK;
    });
}

zvStatus Connection::SetSegmentSize(void* context, int64_t bytes) {
    return Guarded([&] {
        Connection* c = Of(context);
        if (bytes < 1) return ZV_E_ARGUMENT;
        c->segmentSize_ = bytes;
        PipeEvent event;
        event.kind = PipeEvent::Kind::SegmentSize;
        event.bytes = bytes;
        c->Tell(event);
        return ZV_OK;
    });
}

}  // namespace zv::station
