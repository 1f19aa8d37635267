// Plots: a world rectangle, titles, a back colour and copies of graphics
// and images.
#include <cmath>
#include <new>

#include "accessors.hpp"
#include "containers.hpp"
#include "pipe.hpp"
#include "plot.hpp"

namespace zv {

Plot::~Plot() {
    for (Object* item : items) Delete(item);
}

Object* Plot::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<Plot>(*this, [&](Plot& copy) {
        copy.initialised = initialised;
        for (int i = 0; i < 4; ++i) copy.world[i] = world[i];
        copy.title = title;
        copy.xTitle = xTitle;
        copy.yTitle = yTitle;
        copy.backColor = backColor;
        copy.backColorSet = backColorSet;
        return CloneChildren(&copy, items, copy.items);
    });
}

}  // namespace zv

namespace {

// A plot that may be changed: live, initialised and not yet sent.
zv::Plot* WritablePlot(zvHandle plot, zvStatus* status) { return zv::Writable<zv::Plot>(plot, ZV_TYPE_PLOT, status); }

zvStatus SetText(zvHandle plot, const char* text, std::string zv::Plot::*field) {
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Plot* p = WritablePlot(plot, &status);
        if (p == nullptr) return status;
        if (text == nullptr) return ZV_E_ARGUMENT;
        p->*field = text;
        return ZV_OK;
    });
}

const char* TextOf(zvHandle plot, const std::string zv::Plot::*field) {
    zv::Plot* p = zv::Get<zv::Plot>(plot, ZV_TYPE_PLOT, nullptr);
    return p ? (p->*field).c_str() : nullptr;
}

}  // namespace

extern "C" {

zvStatus zvPlotCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::Plot>(out, allocator); });
}

zvStatus zvPlotInit(zvHandle plot) {
    ZV_ENTER();
    return zv::MarkInitialised<zv::Plot>(plot, ZV_TYPE_PLOT);
}

zvStatus zvPlotAdd(zvHandle plot, zvHandle item) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Plot* p = WritablePlot(plot, &status);
        if (p == nullptr) return status;
        zv::Object* o = zv::Lookup(item, 0, &status);
        if (o == nullptr) return status;
        if (o->type != ZV_TYPE_GRAPHIC && o->type != ZV_TYPE_IMAGE) return ZV_E_TYPE;
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        p->items.reserve(p->items.size() + 1);
        if (o->allocator != nullptr && !o->sent && o->container == nullptr) {
            // An engine's unsent output: the plot takes it over instead of
            // copying it, so it neither lingers with the engine until the run
            // ends nor costs a copy per profile.
            p->items.push_back(o);
            zv::Adopt(p, o);
            return ZV_OK;
        }
        zv::Object* copy = o->Clone(nullptr);
        if (copy == nullptr) return ZV_E_NOMEM;
        if (!zv::RegisterChild(p, copy)) return ZV_E_NOMEM;
        p->items.push_back(copy);
        return ZV_OK;
    });
}

zvStatus zvPlotSetWorld(zvHandle plot, float x, float y, float width, float height) {
    ZV_ENTER(x, y, width, height);
    zvStatus status = ZV_OK;
    zv::Plot* p = WritablePlot(plot, &status);
    if (p == nullptr) return status;
    // A world of zero extent is kept (a flat target); only values that are
    // not numbers, or a negative extent, are refused.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height) || width < 0 ||
        height < 0) {
        return ZV_E_ARGUMENT;
    }
    p->world[0] = x;
    p->world[1] = y;
    p->world[2] = width;
    p->world[3] = height;
    return ZV_OK;
}

zvStatus zvPlotSetTitle(zvHandle plot, const char* title) {
    ZV_ENTER(title);
    return SetText(plot, title, &zv::Plot::title);
}

zvStatus zvPlotSetXTitle(zvHandle plot, const char* title) {
    ZV_ENTER(title);
    return SetText(plot, title, &zv::Plot::xTitle);
}

zvStatus zvPlotSetYTitle(zvHandle plot, const char* title) {
    ZV_ENTER(title);
    return SetText(plot, title, &zv::Plot::yTitle);
}

zvStatus zvPlotSetBackColor(zvHandle plot, uint32_t argb) {
    ZV_ENTER(argb);
    zvStatus status = ZV_OK;
    zv::Plot* p = WritablePlot(plot, &status);
    if (p == nullptr) return status;
    p->backColor = argb;
    p->backColorSet = true;
    return ZV_OK;
}

zvStatus zvPlotDestroy(zvHandle plot) {
    ZV_ENTER();
    return zv::DestroyChecked(plot, ZV_TYPE_PLOT);
}

zvStatus zvPlotWorld(zvHandle plot, float* x, float* y, float* width, float* height) {
    zvStatus status = ZV_OK;
    zv::Plot* p = zv::Get<zv::Plot>(plot, ZV_TYPE_PLOT, &status);
    if (p == nullptr) return status;
    if (x == nullptr || y == nullptr || width == nullptr || height == nullptr) return ZV_E_ARGUMENT;
    *x = p->world[0];
    *y = p->world[1];
    *width = p->world[2];
    *height = p->world[3];
    return ZV_OK;
}

const char* zvPlotTitle(zvHandle plot) { return TextOf(plot, &zv::Plot::title); }
const char* zvPlotXTitle(zvHandle plot) { return TextOf(plot, &zv::Plot::xTitle); }
const char* zvPlotYTitle(zvHandle plot) { return TextOf(plot, &zv::Plot::yTitle); }

zvStatus zvPlotBackColor(zvHandle plot, uint32_t* argb, int32_t* set) {
    zvStatus status = ZV_OK;
    zv::Plot* p = zv::Get<zv::Plot>(plot, ZV_TYPE_PLOT, &status);
    if (p == nullptr) return status;
    if (argb == nullptr || set == nullptr) return ZV_E_ARGUMENT;
    *argb = p->backColor;
    *set = p->backColorSet ? 1 : 0;
    return ZV_OK;
}

int32_t zvPlotItemCount(zvHandle plot) {
    zv::Plot* p = zv::Get<zv::Plot>(plot, ZV_TYPE_PLOT, nullptr);
    return p ? static_cast<int32_t>(p->items.size()) : 0;
}

zvHandle zvPlotItemAt(zvHandle plot, int32_t index) {
    zv::Plot* p = zv::Get<zv::Plot>(plot, ZV_TYPE_PLOT, nullptr);
    if (p == nullptr || index < 0 || static_cast<size_t>(index) >= p->items.size()) return nullptr;
    return zv::ToHandle(p->items[static_cast<size_t>(index)]);
}

}  // extern "C"
