/* zvApi plots, graphics and polar models: what the displays draw.
 *
 * A plot has a world rectangle (x, y, width, height; (x, y) the corner of
 * smallest coordinates, y up), titles, a back colour and items: graphics
 * and images. A graphic holds pens, brushes, markers and fonts (each Add
 * returns the index that drawing calls use) and drawings of points,
 * polylines and strings. Colours are ARGB, alpha in the top byte.
 *
 * A plot owns what is added to it: zvPlotAdd copies the graphic or image,
 * so the caller still destroys its own (a page's plot) or leaves it to the
 * engine (an output).
 *
 * An item made with an engine's output allocator and not sent is taken over
 * by the plot instead of copied: the engine would otherwise keep it until
 * the run ends. Its handle then names the plot's item (a later destroy is
 * refused with ZV_E_STATE; the plot releases it).
 */
#ifndef ZVAPI_ZV_PLOT_H
#define ZVAPI_ZV_PLOT_H

#include "zv_base.h"

#ifdef __cplusplus
extern "C" {
#endif

ZV_API zvStatus zvPlotCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvPlotInit(zvHandle plot);
/* Adds a copy of a graphic or image. */
ZV_API zvStatus zvPlotAdd(zvHandle plot, zvHandle item);
ZV_API zvStatus zvPlotSetWorld(zvHandle plot, float x, float y, float width, float height);
ZV_API zvStatus zvPlotSetTitle(zvHandle plot, const char* title);
ZV_API zvStatus zvPlotSetXTitle(zvHandle plot, const char* title);
ZV_API zvStatus zvPlotSetYTitle(zvHandle plot, const char* title);
ZV_API zvStatus zvPlotSetBackColor(zvHandle plot, uint32_t argb);
ZV_API zvStatus zvPlotDestroy(zvHandle plot);

/* Reading a plot back (renderer, tests). */
ZV_API zvStatus zvPlotWorld(zvHandle plot, float* x, float* y, float* width, float* height);
ZV_API const char* zvPlotTitle(zvHandle plot); /* "" when none */
ZV_API const char* zvPlotXTitle(zvHandle plot);
ZV_API const char* zvPlotYTitle(zvHandle plot);
/* `*set` 0 when no back colour was given. */
ZV_API zvStatus zvPlotBackColor(zvHandle plot, uint32_t* argb, int32_t* set);
ZV_API int32_t zvPlotItemCount(zvHandle plot);
/* Item `index` (a graphic or an image), still owned by the plot. */
ZV_API zvHandle zvPlotItemAt(zvHandle plot, int32_t index);

ZV_API zvStatus zvGraphicCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvGraphicInit(zvHandle graphic);
ZV_API zvStatus zvGraphicDestroy(zvHandle graphic);
/* Each returns the new item's index, or a negative status on failure. */
ZV_API int32_t zvGraphicAddPen(zvHandle graphic, uint32_t argb, float width);
ZV_API int32_t zvGraphicAddSolidBrush(zvHandle graphic, uint32_t argb);
/* shape: 0 none, 1 cross, 2 square, 3 circle. */
ZV_API int32_t zvGraphicAddMarker(zvHandle graphic, int32_t shape, float size);
/* family 0 sans, 1 serif, 2 mono; style 0 normal, 1 bold. */
ZV_API int32_t zvGraphicAddFont(zvHandle graphic, int32_t family, int32_t style, float size);
/* Adds a drawing of `count` markers and returns its point buffer, or null
 * on failure. `flags` 0. The caller fills all `count` points: the buffer is
 * not cleared, and what it holds before is unspecified. It stays valid until
 * the graphic changes. */
ZV_API zvPoint32s* zvGraphicDrawPoints32s(zvHandle graphic, int32_t pen, int32_t brush, int32_t marker, int32_t flags,
                                          int32_t count);
/* Adds a polyline of `count` points (`flags` 0: open line) drawn with
 * `pen`; returns its point buffer, to be filled as above, or null. */
ZV_API zvPoint32s* zvGraphicDrawPolyline32s(zvHandle graphic, int32_t flags, int32_t pen, int32_t count);
/* Adds `text` at (x, y) in `font` filled with `brush`; `alignment` and
 * `angle` 0 for left-aligned horizontal text. Returns 1 or a failure. */
ZV_API zvStatus zvGraphicDrawString32s(zvHandle graphic, int32_t font, int32_t brush, int32_t x, int32_t y,
                                       const char* text, int32_t alignment, int32_t angle);

/* Reading a graphic back. */
typedef struct zvPen {
    uint32_t argb;
    float width;
} zvPen;
typedef struct zvMarker {
    int32_t shape;
    float size;
} zvMarker;
typedef struct zvFont {
    int32_t family;
    int32_t style;
    float size;
} zvFont;
enum { ZV_DRAW_POINTS = 1, ZV_DRAW_POLYLINE = 2, ZV_DRAW_STRING = 3 };
typedef struct zvDrawing {
    int32_t kind;                     /* ZV_DRAW_* */
    int32_t pen, brush, marker, font; /* indices, -1 when unused */
    int32_t count;                    /* points */
    const zvPoint32s* points;         /* count points; for a string, its position */
    const char* text;                 /* strings only */
} zvDrawing;
ZV_API int32_t zvGraphicPenCount(zvHandle graphic);
ZV_API zvStatus zvGraphicPenAt(zvHandle graphic, int32_t index, zvPen* pen);
ZV_API int32_t zvGraphicBrushCount(zvHandle graphic);
ZV_API zvStatus zvGraphicBrushAt(zvHandle graphic, int32_t index, uint32_t* argb);
ZV_API int32_t zvGraphicMarkerCount(zvHandle graphic);
ZV_API zvStatus zvGraphicMarkerAt(zvHandle graphic, int32_t index, zvMarker* marker);
ZV_API int32_t zvGraphicFontCount(zvHandle graphic);
ZV_API zvStatus zvGraphicFontAt(zvHandle graphic, int32_t index, zvFont* font);
ZV_API int32_t zvGraphicDrawingCount(zvHandle graphic);
ZV_API zvStatus zvGraphicDrawingAt(zvHandle graphic, int32_t index, zvDrawing* drawing);

/* ---- Polar outlines and models -----------------------------------------
 * An outline holds `count` radii (int32, mils) evenly spread over a turn,
 * and a centre (x, y, position along the transport, mils). A model stacks
 * outlines of one object; it owns the outlines added to it. */
ZV_API zvStatus zvPolarCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvPolarInit(zvHandle polar, int32_t count);
ZV_API zvStatus zvPolarSetCenter(zvHandle polar, int32_t x, int32_t y, int32_t z);
/* The radii buffer (count items), null for a handle that is not an outline. */
ZV_API int32_t* zvPolarPoints(zvHandle polar);
ZV_API int32_t zvPolarCount(zvHandle polar);
ZV_API zvStatus zvPolarCenter(zvHandle polar, int32_t* x, int32_t* y, int32_t* z);
ZV_API zvStatus zvPolarDestroy(zvHandle polar);

/* Outlines: Init clears the radii (refused with ZV_E_STATE once the outline
 * is sent or part of a model; `count` 1 to 1048576). SetCenter needs Init.
 * zvPolarPoints gives the radii buffer, null before Init; a model's
 * outlines stay readable through it. */

/* `pointsPerOutline` radii per outline; `smoothing` is the display's
 * smoothing level (0 none .. 10). Init is refused with ZV_E_STATE once the
 * model holds outlines or was sent. zvDataClone copies a model with all its
 * outlines. A null or dead model handle gives ZV_E_HANDLE (SliceCount sets
 * *count 0 first). */
ZV_API zvStatus zvPolarModelCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvPolarModelInit(zvHandle model, int32_t pointsPerOutline, int32_t smoothing);
/* Takes ownership of the outline; ZV_E_ARGUMENT when its count differs. */
ZV_API zvStatus zvPolarModelAdd(zvHandle model, zvHandle polar);
ZV_API zvStatus zvPolarModelSliceCount(zvHandle model, int32_t* count);
/* Outline `index`, still owned by the model; 0 when out of range. */
ZV_API zvHandle zvPolarModelSliceAt(zvHandle model, int32_t index);
ZV_API int32_t zvPolarModelPointsPerOutline(zvHandle model);
/* The smoothing level given at Init; 0 for a handle that is not a model. */
ZV_API int32_t zvPolarModelSmoothing(zvHandle model);
ZV_API zvStatus zvPolarModelDestroy(zvHandle model);

#ifdef __cplusplus
}
#endif

#endif
