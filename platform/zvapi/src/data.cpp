// Output labels, deep copies and disposal of any labelled object.
#include <cstring>

#include "pipe.hpp"

namespace {

// Families whose objects are outputs or their parts, and so can be copied;
// for them a failed copy means memory ran out.
bool Copyable(int32_t type) {
    switch (type) {
        case ZV_TYPE_ARRAY:
        case ZV_TYPE_ARRAYLIST:
        case ZV_TYPE_STRING:
        case ZV_TYPE_IMAGE:
        case ZV_TYPE_PLOT:
        case ZV_TYPE_GRAPHIC:
        case ZV_TYPE_POLAR:
        case ZV_TYPE_POLARMODEL:
        case ZV_TYPE_RESULT: return true;
        default: return false;
    }
}

}  // namespace

extern "C" {

zvStatus zvDataSetLabel(zvHandle data, const char* label) {
    ZV_ENTER(label);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Object* o = zv::Lookup(data, 0, &status);
        if (o == nullptr) return status;
        if (label == nullptr) return ZV_E_ARGUMENT;
        if (std::strlen(label) > 4096) return ZV_E_ARGUMENT;
        if (o->sent) return ZV_E_STATE;  // the engine's now
        o->label = label;
        return ZV_OK;
    });
}

const char* zvDataLabel(zvHandle data) {
    zv::Object* o = zv::Lookup(data, 0, nullptr);
    return o ? o->label.c_str() : nullptr;
}

zvStatus zvDataClone(zvHandle data, zvAllocator allocator, zvHandle* out) {
    ZV_ENTER();
    return zv::Guard([&] {
        if (out == nullptr) return ZV_E_ARGUMENT;
        *out = nullptr;
        zvStatus status = ZV_OK;
        zv::Object* o = zv::Lookup(data, 0, &status);
        if (o == nullptr) return status;
        if (allocator != nullptr && zv::Lookup(allocator, ZV_TYPE_ALLOCATOR, &status) == nullptr) return status;
        zv::Object* copy = o->Clone(static_cast<zv::Allocator*>(zv::FromHandle(allocator)));
        if (copy == nullptr) return Copyable(o->type) ? ZV_E_NOMEM : ZV_E_UNSUPPORTED;
        copy->label = o->label;
        zvHandle handle = zv::Register(copy, allocator);
        if (handle == nullptr) return ZV_E_NOMEM;
        *out = handle;
        return ZV_OK;
    });
}

zvStatus zvDataDispose(zvHandle data) {
    ZV_ENTER();
    return zv::DestroyChecked(data, 0);
}

}  // extern "C"
