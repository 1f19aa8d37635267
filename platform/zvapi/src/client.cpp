// The client: the host's connection to the station, with its servers.
#include <algorithm>
#include <cstring>

#include "containers.hpp"
#include "pipe.hpp"

namespace zv {

Client::~Client() {
    // What the client handed out goes with it.
    for (Server* server : serverObjects) Delete(server);
    Delete(pipe);
}

Server::~Server() {
    Delete(pipe);
    Delete(storage);
}

}  // namespace zv

extern "C" {

zvStatus zvClientCreate(zvHandle* out) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::Client>(out, nullptr); });
}

zvStatus zvClientAddServer(zvHandle client, uint32_t serverId) {
    ZV_ENTER(serverId);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Client* c = zv::Get<zv::Client>(client, ZV_TYPE_CLIENT, &status);
        if (c == nullptr) return status;
        // That number names the client's own pipe to the station backend.
        if (serverId == ZV_CLIENT_PIPE) return ZV_E_ARGUMENT;
        if (std::find(c->servers.begin(), c->servers.end(), serverId) != c->servers.end()) return ZV_E_ARGUMENT;
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        c->servers.push_back(serverId);
        return ZV_OK;
    });
}

zvStatus zvClientDestroy(zvHandle client) {
    ZV_ENTER();
    return zv::DestroyChecked(client, ZV_TYPE_CLIENT);
}

zvStatus zvClientServers(zvHandle client, zvHandle list) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Client* c = zv::Get<zv::Client>(client, ZV_TYPE_CLIENT, &status);
        if (c == nullptr) return status;
        if (list == nullptr) return ZV_E_ARGUMENT;
        auto* l = zv::Get<zv::ArrayList>(list, ZV_TYPE_ARRAYLIST, &status);
        if (l == nullptr) return status;
        if (!l->initialised || l->itemSize != static_cast<int32_t>(sizeof(uint32_t))) return ZV_E_TYPE;
        // All or none: room first, then the serial numbers.
        const auto added = static_cast<int64_t>(c->servers.size());
        if (!l->Reserve(int64_t{l->count} + added)) return ZV_E_NOMEM;
        if (added > 0) std::memcpy(l->item(l->count), c->servers.data(), c->servers.size() * sizeof(uint32_t));
        l->count += static_cast<int32_t>(added);
        return ZV_OK;
    });
}

}  // extern "C"
