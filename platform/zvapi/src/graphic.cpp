// Graphics: pens, brushes, markers, fonts and drawings of points, polylines
// and strings.
#include <cmath>
#include <cstring>
#include <new>

#include "accessors.hpp"
#include "plot.hpp"

namespace zv {

namespace {

// Drawings larger than this are refused rather than allocated.
constexpr int32_t kMaxDrawingPoints = 1 << 24;
constexpr int32_t kMaxItems = 1 << 16;

}  // namespace

Graphic::~Graphic() { AccountBytes(-accounted); }

Object* Graphic::Clone(Allocator* /*allocator*/) const {
    return MakeCopy<Graphic>(*this, [&](Graphic& copy) {
        copy.initialised = initialised;
        copy.pens = pens;
        copy.brushes = brushes;
        copy.markers = markers;
        copy.fonts = fonts;
        copy.drawings = drawings;
        copy.Account(accounted);
        return true;
    });
}

}  // namespace zv

namespace {

// A graphic that may be changed: live, initialised and not yet sent.
zv::Graphic* WritableGraphic(zvHandle graphic, zvStatus* status) {
    return zv::Writable<zv::Graphic>(graphic, ZV_TYPE_GRAPHIC, status);
}

// The number of items in one of a graphic's tables; 0 for no graphic.
template <class Item>
int32_t TableCount(zvHandle graphic, std::vector<Item> zv::Graphic::*table) {
    zv::Graphic* g = zv::Get<zv::Graphic>(graphic, ZV_TYPE_GRAPHIC, nullptr);
    return g ? static_cast<int32_t>((g->*table).size()) : 0;
}

// Item `index` of one of a graphic's tables, to be copied into `out`. Null,
// with `*status` set, for no graphic (its lookup status), a null `out`
// (ZV_E_ARGUMENT) or no such item (ZV_E_RANGE), in that order.
template <class Item, class Out>
const Item* FindItem(zvHandle graphic, std::vector<Item> zv::Graphic::*table, int32_t index, const Out* out,
                     zvStatus* status) {
    zv::Graphic* g = zv::Get<zv::Graphic>(graphic, ZV_TYPE_GRAPHIC, status);
    if (g == nullptr) return nullptr;
    if (out == nullptr) {
        *status = ZV_E_ARGUMENT;
        return nullptr;
    }
    const Item* item = zv::ItemAt(g->*table, index);
    if (item == nullptr) *status = ZV_E_RANGE;
    return item;
}

// Copies item `index` of one of a graphic's tables into `*out`.
template <class Item, class Out>
zvStatus TableItem(zvHandle graphic, std::vector<Item> zv::Graphic::*table, int32_t index, Out* out) {
    zvStatus status = ZV_OK;
    const Item* item = FindItem(graphic, table, index, out, &status);
    if (item == nullptr) return status;
    *out = *item;
    return ZV_OK;
}

// Index `i` names an item of a table of `size`, or is -1 (unused).
bool IndexOk(int32_t i, size_t size) { return i == -1 || (i >= 0 && static_cast<size_t>(i) < size); }

template <class T>
int32_t Append(std::vector<T>& table, const T& item) {
    if (table.size() >= static_cast<size_t>(zv::kMaxItems)) return ZV_E_RANGE;
    if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
    table.push_back(item);
    return static_cast<int32_t>(table.size() - 1);
}

// Adds a drawing of `count` points for the caller to fill; null on failure.
zvPoint32s* AddDrawing(zv::Graphic* g, zv::Graphic::Drawing&& d, int32_t count) {
    if (count < 0 || count > zv::kMaxDrawingPoints) return nullptr;
    if (!zv::AllocationAllowed()) return nullptr;
    // Sized without touching the items: the caller writes every one, and a
    // first pass that cleared them would cost as much again for a whole
    // profile.
    d.points.resize(static_cast<size_t>(count));
    g->drawings.push_back(std::move(d));
    zv::Graphic::Drawing& added = g->drawings.back();
    g->Account(static_cast<int64_t>(added.points.size() * sizeof(zvPoint32s) + added.text.size()));
    // A drawing of no points still answers with a valid (empty) buffer.
    static zvPoint32s empty;
    return count == 0 ? &empty : added.points.data();
}

}  // namespace

extern "C" {

zvStatus zvGraphicCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<zv::Graphic>(out, allocator); });
}

zvStatus zvGraphicInit(zvHandle graphic) {
    ZV_ENTER();
    return zv::MarkInitialised<zv::Graphic>(graphic, ZV_TYPE_GRAPHIC);
}

zvStatus zvGraphicDestroy(zvHandle graphic) {
    ZV_ENTER();
    return zv::DestroyChecked(graphic, ZV_TYPE_GRAPHIC);
}

int32_t zvGraphicAddPen(zvHandle graphic, uint32_t argb, float width) {
    ZV_ENTER_OR(zv_injected_, argb, width);
    return zv::Guard([&]() -> int32_t {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr) return status;
        if (!std::isfinite(width) || width < 0) return ZV_E_ARGUMENT;
        return Append(g->pens, zvPen{argb, width});
    });
}

int32_t zvGraphicAddSolidBrush(zvHandle graphic, uint32_t argb) {
    ZV_ENTER_OR(zv_injected_, argb);
    return zv::Guard([&]() -> int32_t {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr) return status;
        return Append(g->brushes, argb);
    });
}

int32_t zvGraphicAddMarker(zvHandle graphic, int32_t shape, float size) {
    ZV_ENTER_OR(zv_injected_, shape, size);
    return zv::Guard([&]() -> int32_t {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr) return status;
        if (shape < 0 || shape > 3 || !std::isfinite(size) || size < 0) return ZV_E_ARGUMENT;
        return Append(g->markers, zvMarker{shape, size});
    });
}

int32_t zvGraphicAddFont(zvHandle graphic, int32_t family, int32_t style, float size) {
    ZV_ENTER_OR(zv_injected_, family, style, size);
    return zv::Guard([&]() -> int32_t {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr) return status;
        if (family < 0 || family > 2 || style < 0 || style > 1 || !std::isfinite(size) || size <= 0) {
            return ZV_E_ARGUMENT;
        }
        return Append(g->fonts, zvFont{family, style, size});
    });
}

zvPoint32s* zvGraphicDrawPoints32s(zvHandle graphic, int32_t pen, int32_t brush, int32_t marker, int32_t flags,
                                   int32_t count) {
    ZV_ENTER_OR(nullptr, pen, brush, marker, flags, count);
    try {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr || flags != 0) return nullptr;
        if (!IndexOk(pen, g->pens.size()) || !IndexOk(brush, g->brushes.size()) ||
            !IndexOk(marker, g->markers.size())) {
            return nullptr;
        }
        zv::Graphic::Drawing d;
        d.kind = ZV_DRAW_POINTS;
        d.pen = pen;
        d.brush = brush;
        d.marker = marker;
        return AddDrawing(g, std::move(d), count);
    } catch (...) {
        return nullptr;
    }
}

zvPoint32s* zvGraphicDrawPolyline32s(zvHandle graphic, int32_t flags, int32_t pen, int32_t count) {
    ZV_ENTER_OR(nullptr, flags, pen, count);
    try {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr || flags != 0 || !IndexOk(pen, g->pens.size())) return nullptr;
        zv::Graphic::Drawing d;
        d.kind = ZV_DRAW_POLYLINE;
        d.pen = pen;
        return AddDrawing(g, std::move(d), count);
    } catch (...) {
        return nullptr;
    }
}

zvStatus zvGraphicDrawString32s(zvHandle graphic, int32_t font, int32_t brush, int32_t x, int32_t y, const char* text,
                                int32_t alignment, int32_t angle) {
    ZV_ENTER(font, brush, x, y, text);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Graphic* g = WritableGraphic(graphic, &status);
        if (g == nullptr) return status;
        if (text == nullptr || std::strlen(text) > 4096) return ZV_E_ARGUMENT;
        if (!IndexOk(font, g->fonts.size()) || !IndexOk(brush, g->brushes.size())) return ZV_E_RANGE;
        if (alignment < 0 || alignment > 2) return ZV_E_ARGUMENT;
        (void)angle;  // text is drawn horizontally whatever the angle
        zv::Graphic::Drawing d;
        d.kind = ZV_DRAW_STRING;
        d.font = font;
        d.brush = brush;
        d.text = text;
        zvPoint32s* at = AddDrawing(g, std::move(d), 1);
        if (at == nullptr) return ZV_E_NOMEM;
        *at = zvPoint32s{x, y};
        return ZV_OK;
    });
}

int32_t zvGraphicPenCount(zvHandle graphic) { return TableCount(graphic, &zv::Graphic::pens); }

zvStatus zvGraphicPenAt(zvHandle graphic, int32_t index, zvPen* pen) {
    return TableItem(graphic, &zv::Graphic::pens, index, pen);
}

int32_t zvGraphicBrushCount(zvHandle graphic) { return TableCount(graphic, &zv::Graphic::brushes); }

zvStatus zvGraphicBrushAt(zvHandle graphic, int32_t index, uint32_t* argb) {
    return TableItem(graphic, &zv::Graphic::brushes, index, argb);
}

int32_t zvGraphicMarkerCount(zvHandle graphic) { return TableCount(graphic, &zv::Graphic::markers); }

zvStatus zvGraphicMarkerAt(zvHandle graphic, int32_t index, zvMarker* marker) {
    return TableItem(graphic, &zv::Graphic::markers, index, marker);
}

int32_t zvGraphicFontCount(zvHandle graphic) { return TableCount(graphic, &zv::Graphic::fonts); }

zvStatus zvGraphicFontAt(zvHandle graphic, int32_t index, zvFont* font) {
    return TableItem(graphic, &zv::Graphic::fonts, index, font);
}

int32_t zvGraphicDrawingCount(zvHandle graphic) { return TableCount(graphic, &zv::Graphic::drawings); }

zvStatus zvGraphicDrawingAt(zvHandle graphic, int32_t index, zvDrawing* drawing) {
    zvStatus status = ZV_OK;
    const zv::Graphic::Drawing* found = FindItem(graphic, &zv::Graphic::drawings, index, drawing, &status);
    if (found == nullptr) return status;
    const zv::Graphic::Drawing& d = *found;
    drawing->kind = d.kind;
    drawing->pen = d.pen;
    drawing->brush = d.brush;
    drawing->marker = d.marker;
    drawing->font = d.font;
    drawing->count = static_cast<int32_t>(d.points.size());
    drawing->points = d.points.data();
    drawing->text = d.kind == ZV_DRAW_STRING ? d.text.c_str() : nullptr;
    return ZV_OK;
}

}  // extern "C"
