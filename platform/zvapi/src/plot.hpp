// Internal records of plots and graphics (read by the renderer's families
// through the C read-back calls; kept here for copies).
#ifndef ZVAPI_SRC_PLOT_HPP
#define ZVAPI_SRC_PLOT_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "object.hpp"
#include "zvapi/zv_plot.h"

namespace zv {

struct Graphic final : Object {
    Graphic() : Object(ZV_TYPE_GRAPHIC) {}
    ~Graphic() override;
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override { return accounted; }

    struct Drawing {
        int32_t kind = 0;
        int32_t pen = -1, brush = -1, marker = -1, font = -1;
        std::vector<zvPoint32s> points;
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
