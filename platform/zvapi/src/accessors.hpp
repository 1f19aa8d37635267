// The shared shapes of the zvApi entry points: answering through an
// out-pointer, picking one item of an object's table by index, and the
// initialised/unsent state of objects that are built before they are sent.
#ifndef ZVAPI_SRC_ACCESSORS_HPP
#define ZVAPI_SRC_ACCESSORS_HPP

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "object.hpp"

namespace zv {

// Opens an accessor that answers through `out`: a null `out` is
// ZV_E_ARGUMENT; otherwise `*out` is set to `cleared` first, so that no
// stale value survives a failure, and the object of `type` is looked up.
// Returns the lookup's status when that fails, else `read(object, *out)`.
template <class T, class Out, class Read>
zvStatus ReadOut(zvHandle handle, int32_t type, Out* out, std::type_identity_t<Out> cleared, Read&& read) {
    if (out == nullptr) return ZV_E_ARGUMENT;
    *out = cleared;
    zvStatus status = ZV_OK;
    T* object = Get<T>(handle, type, &status);
    if (object == nullptr) return status;
    return read(*object, *out);
}

// An object that may still be changed: live, initialised and not yet sent.
// Null, with `*status` set (ZV_E_STATE when it exists but may not change),
// otherwise.
template <class T>
T* Writable(zvHandle handle, int32_t type, zvStatus* status) {
    T* object = Get<T>(handle, type, status);
    if (object == nullptr) return nullptr;
    if (!object->initialised || object->sent) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    return object;
}

// Marks an unsent object initialised: ZV_OK, the lookup's status, or
// ZV_E_STATE once it has been sent.
template <class T>
zvStatus MarkInitialised(zvHandle handle, int32_t type) {
    zvStatus status = ZV_OK;
    T* object = Get<T>(handle, type, &status);
    if (object == nullptr) return status;
    if (object->sent) return ZV_E_STATE;
    object->initialised = true;
    return ZV_OK;
}

// Item `index` of `table`, or null when there is none.
template <class Item>
const Item* ItemAt(const std::vector<Item>& table, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= table.size()) return nullptr;
    return &table[static_cast<size_t>(index)];
}

// Copies item `index` of `table` into `*out`; ZV_E_RANGE (and `*out`
// untouched) when there is none.
template <class Item, class Out>
zvStatus CopyItem(const std::vector<Item>& table, int32_t index, Out* out) {
    const Item* item = ItemAt(table, index);
    if (item == nullptr) return ZV_E_RANGE;
    *out = *item;
    return ZV_OK;
}

}  // namespace zv

#endif
