// The client: the host's connection to the station, with its servers.
#include <algorithm>

#include "pipe.hpp"
#include "zvapi/zv_containers.h"

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
        if (zvObjectType(list) != ZV_TYPE_ARRAYLIST) return list == nullptr ? ZV_E_ARGUMENT : ZV_E_TYPE;
        if (zvArrayListItemSize(list) != static_cast<int32_t>(sizeof(uint32_t))) return ZV_E_TYPE;
        for (uint32_t id : c->servers) {
            status = zvArrayListAdd(list, &id);
            if (status <= 0) return status;
        }
        return ZV_OK;
    });
}

}  // extern "C"
