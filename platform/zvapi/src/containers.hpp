// Internal records of the container family: strings, array lists, arrays and
// images. Other families (pipes, plots, the renderer, the station) may read
// and fill these directly for speed; they must keep the invariants stated
// here (storage grown only through Buffer, owned items adopted).
#ifndef ZVAPI_SRC_CONTAINERS_HPP
#define ZVAPI_SRC_CONTAINERS_HPP

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "object.hpp"
#include "zvapi/zv_containers.h"

namespace zv {

// The most bytes one container may hold. Requests above it fail with
// ZV_E_NOMEM before anything is allocated, so a huge count can neither wrap
// the size arithmetic nor ask the system for an absurd block.
inline constexpr int64_t kMaxContainerBytes = int64_t{1} << 32;

// A byte block of a container, accounted in the live bytes. Growth goes
// through AllocationAllowed(); a failed Resize leaves the block unchanged.
class Buffer {
public:
    Buffer() = default;
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // Sets the block to `bytes` (0 frees it), keeping the first
    // min(old, new) bytes and zero-filling the rest. False when `bytes` is
    // negative or above kMaxContainerBytes, or memory ran out.
    bool Resize(int64_t bytes);
    // Makes this block a copy of `other`. False (this unchanged) when memory
    // ran out.
    bool CopyFrom(const Buffer& other);
    void Swap(Buffer& other) {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
    }

    unsigned char* data() const { return data_; }
    int64_t size() const { return size_; }

private:
    unsigned char* data_ = nullptr;
    int64_t size_ = 0;
};

// Checked product of non-negative sizes: false when a factor is negative or
// the product exceeds kMaxContainerBytes.
bool CheckedBytes(int64_t a, int64_t b, int64_t* out);

struct String final : Object {
    String() : Object(ZV_TYPE_STRING) {}
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return storage.size(); }

    // Replaces the text (length bytes, no terminator needed). False (text
    // unchanged) when memory ran out.
    bool Assign(const char* text, int64_t length);
    const char* chars() const { return length == 0 ? "" : reinterpret_cast<const char*>(storage.data()); }

    Buffer storage;  // the text and its terminator
    int64_t length = 0;
};

struct ArrayList final : Object {
    ArrayList() : Object(ZV_TYPE_ARRAYLIST) {}
    ~ArrayList() override;
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return storage.size(); }

    // True when the list destroys the objects whose handles it holds.
    bool owning() const { return owns; }
    unsigned char* item(int32_t index) const { return storage.data() + static_cast<int64_t>(index) * itemSize; }
    zvHandle handleAt(int32_t index) const;
    // Makes room for `wanted` items (growing geometrically). False (list
    // unchanged) when the size is out of range or memory ran out.
    bool Reserve(int64_t wanted);
    // Destroys the owned objects of items first..count-1 (no-op for plain
    // lists) and zeroes their slots.
    void ReleaseItems(int32_t first);

    bool initialised = false;
    bool owns = false;
    int32_t itemType = 0;
    int32_t itemSize = 0;
    int32_t count = 0;
    int32_t capacity = 0;
    Buffer storage;
};

struct Array final : Object {
    Array() : Object(ZV_TYPE_ARRAY) {}
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return storage.size(); }

    int32_t elementType = 0;
    int32_t elementSize = 0;
    int32_t dimensions = 0;
    int32_t lengths[3] = {0, 0, 0};
    int64_t bytes = 0;  // elements' bytes (the block holds at least one byte)
    Buffer storage;
};

struct Image final : Object {
    Image() : Object(ZV_TYPE_IMAGE) {}
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return storage.size(); }

    int32_t pixelType = 0;  // 0 before Init
    int32_t pixelSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // in pixels
    Buffer storage;
};

// True when `type` is an item type whose items are handles of objects a
// non-plain list owns.
bool IsHandleItemType(int32_t type);

// Registers a freshly made child (no allocator) and makes `container` own
// it. False when registration was refused (the child is then deleted).
bool RegisterChild(Object* container, Object* child);

// Deep-copies each child of `from` into `to` as children of `copy` (a
// clone under construction). False when a copy or its registration failed;
// the children already copied belong to `copy` and go with it.
template <class Child>
bool CloneChildren(Object* copy, const std::vector<Child*>& from, std::vector<Child*>& to) {
    to.reserve(from.size());
    for (const Child* child : from) {
        Object* c = child->Clone(nullptr);
        if (c == nullptr || !RegisterChild(copy, c)) return false;
        to.push_back(static_cast<Child*>(c));
    }
    return true;
}

}  // namespace zv

#endif
