// Array lists: contiguous items of one type; owning handle lists destroy
// the objects they hold.
#include <cstring>

#include "containers.hpp"

namespace zv {

bool IsHandleItemType(int32_t type) {
    return type == ZV_TYPE_ARRAYLIST || type == ZV_TYPE_MESSAGE || type == ZV_TYPE_STRING || type == ZV_TYPE_RESULT;
}

ArrayList::~ArrayList() { ReleaseItems(0); }

zvHandle ArrayList::handleAt(int32_t index) const {
    zvHandle h = nullptr;
    std::memcpy(&h, item(index), sizeof h);
    return h;
}

bool ArrayList::Reserve(int64_t wanted) {
    if (wanted <= capacity) return true;
    if (wanted > INT32_MAX) return false;
    int64_t grown = capacity < 4 ? 8 : int64_t{capacity} * 2;
    if (grown < wanted) grown = wanted;
    if (grown > INT32_MAX) grown = INT32_MAX;
    int64_t bytes = 0;
    if (!CheckedBytes(grown, itemSize, &bytes)) {
        // Doubling overshoots the limit: try just what was asked for.
        grown = wanted;
        if (!CheckedBytes(grown, itemSize, &bytes)) return false;
    }
    if (!storage.Resize(bytes)) return false;
    capacity = static_cast<int32_t>(grown);
    return true;
}

void ArrayList::ReleaseItems(int32_t first) {
    if (first >= count) return;
    if (owns) {
        for (int32_t i = first; i < count; ++i) {
            zvHandle h = handleAt(i);
            if (h != nullptr) Delete(FromHandle(h));
        }
    }
    std::memset(item(first), 0, static_cast<size_t>(int64_t{count - first} * itemSize));
}

Object* ArrayList::Clone(Allocator* allocator) const {
    return MakeCopy<ArrayList>(*this, [&](ArrayList& copy) {
        copy.initialised = initialised;
        copy.itemType = itemType;
        copy.itemSize = itemSize;
        if (!copy.storage.CopyFrom(storage)) return false;
        copy.capacity = capacity;
        copy.count = count;
        if (!owns) return true;
        // Slots are cleared first so that a failure half-way deletes only
        // the copies already made, never this list's own items.
        if (count > 0) std::memset(copy.storage.data(), 0, static_cast<size_t>(int64_t{count} * itemSize));
        copy.owns = true;
        for (int32_t i = 0; i < count; ++i) {
            zvHandle h = handleAt(i);
            if (h == nullptr || !IsLive(FromHandle(h))) continue;
            Object* child = FromHandle(h)->Clone(allocator);
            if (child == nullptr || !RegisterChild(&copy, child)) return false;
            zvHandle ch = ToHandle(child);
            std::memcpy(copy.item(i), &ch, sizeof ch);
        }
        return true;
    });
}

namespace {

ArrayList* GetList(zvHandle list, zvStatus* status) { return Get<ArrayList>(list, ZV_TYPE_ARRAYLIST, status); }

}  // namespace

}  // namespace zv

using zv::ArrayList;

extern "C" {

zvStatus zvArrayListCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<ArrayList>(out, allocator); });
}

zvStatus zvArrayListInit(zvHandle list, int32_t itemType, int32_t capacity, int32_t plain) {
    ZV_ENTER(itemType, capacity, plain);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        ArrayList* l = zv::GetList(list, &status);
        if (l == nullptr) return status;
        const int32_t size = zvTypeSize(itemType);
        if (size <= 0) return ZV_E_UNSUPPORTED;
        if (capacity < 0) return ZV_E_ARGUMENT;
        int64_t bytes = 0;
        if (!zv::CheckedBytes(capacity, size, &bytes)) return ZV_E_NOMEM;
        // A list initialised again starts over: it drops what it held.
        zv::Buffer fresh;
        if (!fresh.Resize(bytes)) return ZV_E_NOMEM;
        l->ReleaseItems(0);
        l->storage.Swap(fresh);
        l->count = 0;
        l->capacity = capacity;
        l->itemType = itemType;
        l->itemSize = size;
        l->owns = plain == 0 && zv::IsHandleItemType(itemType);
        l->initialised = true;
        return ZV_OK;
    });
}

zvStatus zvArrayListAdd(zvHandle list, const void* item) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        ArrayList* l = zv::GetList(list, &status);
        if (l == nullptr) return status;
        if (!l->initialised) return ZV_E_STATE;
        if (item == nullptr) return ZV_E_ARGUMENT;
        zv::Object* child = nullptr;
        if (l->owning()) {
            zvHandle h = nullptr;
            std::memcpy(&h, item, sizeof h);
            if (h != nullptr) {
                child = zv::Lookup(h, l->itemType, &status);
                if (child == nullptr) return status;
                // One owner only, and never the list itself or a list
                // above it (that would destroy itself).
                if (child->container != nullptr || child->sent) return ZV_E_STATE;
                for (zv::Object* o = l; o != nullptr; o = o->container) {
                    if (o == child) return ZV_E_STATE;
                }
            }
        }
        if (!l->Reserve(int64_t{l->count} + 1)) return ZV_E_NOMEM;
        std::memcpy(l->item(l->count), item, static_cast<size_t>(l->itemSize));
        l->count++;
        if (child != nullptr) zv::Adopt(l, child);
        return ZV_OK;
    });
}

void* zvArrayListAt(zvHandle list, int32_t index) {
    ArrayList* l = zv::GetList(list, nullptr);
    if (l == nullptr || index < 0 || index >= l->count) return nullptr;
    return l->item(index);
}

int32_t zvArrayListCount(zvHandle list) {
    ArrayList* l = zv::GetList(list, nullptr);
    return l ? l->count : 0;
}

void* zvArrayListData(zvHandle list) {
    ArrayList* l = zv::GetList(list, nullptr);
    return l ? l->storage.data() : nullptr;
}

int32_t zvArrayListItemSize(zvHandle list) {
    ArrayList* l = zv::GetList(list, nullptr);
    return l ? l->itemSize : 0;
}

int32_t zvArrayListItemType(zvHandle list) {
    ArrayList* l = zv::GetList(list, nullptr);
    return l ? l->itemType : 0;
}

zvStatus zvArrayListRemove(zvHandle list, int32_t index) {
    ZV_ENTER(index);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        ArrayList* l = zv::GetList(list, &status);
        if (l == nullptr) return status;
        if (index < 0 || index >= l->count) return ZV_E_RANGE;
        if (l->owning()) {
            zvHandle h = l->handleAt(index);
            if (h != nullptr) zv::Delete(zv::FromHandle(h));
        }
        const int64_t tail = int64_t{l->count - index - 1} * l->itemSize;
        if (tail > 0) std::memmove(l->item(index), l->item(index + 1), static_cast<size_t>(tail));
        l->count--;
        std::memset(l->item(l->count), 0, static_cast<size_t>(l->itemSize));
        return ZV_OK;
    });
}

zvStatus zvArrayListResize(zvHandle list, int32_t count) {
    ZV_ENTER(count);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        ArrayList* l = zv::GetList(list, &status);
        if (l == nullptr) return status;
        if (!l->initialised) return ZV_E_STATE;
        if (count < 0) return ZV_E_ARGUMENT;
        if (count < l->count) {
            l->ReleaseItems(count);
        } else if (count > l->count) {
            if (!l->Reserve(count)) return ZV_E_NOMEM;
            std::memset(l->item(l->count), 0, static_cast<size_t>(int64_t{count - l->count} * l->itemSize));
        }
        l->count = count;
        return ZV_OK;
    });
}

zvStatus zvArrayListDestroy(zvHandle list) {
    ZV_ENTER();
    return zv::Guard([&] { return zv::DestroyChecked(list, ZV_TYPE_ARRAYLIST); });
}

}  // extern "C"
