// Pipe messages: one payload (a result or a list of results) or none.
#include "pipe.hpp"

namespace zv {

Message::~Message() { Delete(payload); }

}  // namespace zv

extern "C" {

zvStatus zvPipeMsgCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::Message>(out, allocator); });
}

zvStatus zvPipeMsgSetData(zvHandle message, zvHandle payload) {
    ZV_ENTER();
    zvStatus status = ZV_OK;
    zv::Message* m = zv::Get<zv::Message>(message, ZV_TYPE_MESSAGE, &status);
    if (m == nullptr) return status;
    zv::Object* p = nullptr;
    if (payload != nullptr) {
        p = zv::Lookup(payload, 0, &status);
        if (p == nullptr) return status;
        if (p == m) return ZV_E_ARGUMENT;
        if (p == m->payload) return ZV_OK;
        // A payload owned elsewhere (another message, a list, an engine)
        // cannot be taken.
        if (p->container != nullptr || p->sent || p->allocator != nullptr) return ZV_E_STATE;
    }
    zv::Delete(m->payload);
    m->payload = p;
    zv::Adopt(m, p);
    return ZV_OK;
}

zvStatus zvPipeMsgData(zvHandle message, zvHandle* payload) {
    ZV_ENTER();
    if (payload == nullptr) return ZV_E_ARGUMENT;
    *payload = nullptr;
    zvStatus status = ZV_OK;
    zv::Message* m = zv::Get<zv::Message>(message, ZV_TYPE_MESSAGE, &status);
    if (m == nullptr) return status;
    *payload = zv::ToHandle(m->payload);
    return ZV_OK;
}

}  // extern "C"
