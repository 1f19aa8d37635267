// Internal records of plots and graphics (read by the renderer's families
// through the C read-back calls; kept here for copies).
#ifndef ZVAPI_SRC_PLOT_HPP
#define ZVAPI_SRC_PLOT_HPP

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "object.hpp"
#include "zvapi/zv_plot.h"

namespace zv {

// An allocator whose value-less construction leaves a trivial item as it
// is: a drawing's buffer is sized and then cleared in one memset, not item
// by item.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

struct Graphic final : Object {
    Graphic() : Object(ZV_TYPE_GRAPHIC) {}
    ~Graphic() override;
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return accounted; }

    struct Drawing {
        int32_t kind = 0;
        int32_t pen = -1, brush = -1, marker = -1, font = -1;
        std::vector<zvPoint32s, UninitializedAllocator<zvPoint32s>> points;
        std::string text;
    };
    // Keeps the live-byte accounting in step with the drawings' storage.
    void Account(int64_t delta) {
        accounted += delta;
        AccountBytes(delta);
    }

    bool initialised = false;
    std::vector<zvPen> pens;
    std::vector<uint32_t> brushes;
    std::vector<zvMarker> markers;
    std::vector<zvFont> fonts;
    std::vector<Drawing> drawings;
    int64_t accounted = 0;
};

struct Plot final : Object {
    Plot() : Object(ZV_TYPE_PLOT) {}
    ~Plot() override;
    Object* Clone(Allocator* allocator) const override;

    bool initialised = false;
    float world[4] = {0, 0, 0, 0};
    std::string title, xTitle, yTitle;
    uint32_t backColor = 0;
    bool backColorSet = false;
    std::vector<Object*> items;  // owned graphics and images
};

}  // namespace zv

#endif
