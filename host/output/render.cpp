// Pictures of the displays with cairo.
#include "render.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include "zvapi/zv_file_space.hpp"

namespace zvhost {

namespace {

constexpr int32_t kNull = INT32_MIN;
constexpr int kCairoMaxSide = 32767;
constexpr double kPi = 3.14159265358979323846;

struct Rgba {
    double r, g, b, a;
};

// Colours are ARGB; an alpha of 0 is taken as opaque, since colours given
// without an alpha byte would otherwise not show at all.
Rgba FromArgb(uint32_t argb) {
    const uint32_t alpha = argb >> 24;
    return {((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
            alpha == 0 ? 1.0 : alpha / 255.0};
}

void SetColour(cairo_t* cr, const Rgba& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

bool Finite(double v) { return std::isfinite(v); }

struct Bounds {
    double x0 = std::numeric_limits<double>::infinity();
    double y0 = std::numeric_limits<double>::infinity();
    double x1 = -std::numeric_limits<double>::infinity();
    double y1 = -std::numeric_limits<double>::infinity();
    void Add(double x, double y) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
    bool Valid() const { return x0 <= x1 && y0 <= y1; }
};

// World to pixels with one scale on both axes (positions are mils on both),
// y up, the world centred in the data area.
struct View {
    double left = 0, top = 0, width = 1, height = 1;  // data area, pixels
    double wx = 0, wy = 0, ww = 1, wh = 1;            // world
    double scale = 1, offX = 0, offY = 0;
    double X(double x) const { return left + offX + (x - wx) * scale; }
    double Y(double y) const { return top + height - offY - (y - wy) * scale; }

    void Fit() {
        scale = std::min(width / ww, height / wh);
        if (!Finite(scale) || scale <= 0) scale = 1;
        offX = (width - ww * scale) / 2;
        offY = (height - wh * scale) / 2;
    }
};

// One axis of the world: the given range when it is usable, else the
// content's, else one unit around whatever centre is known.
void SaneRange(double given0, double givenSize, double content0, double content1, bool haveContent, double* start,
               double* size) {
    if (Finite(given0) && Finite(givenSize) && givenSize > 1e-9 && givenSize < 1e30 && std::fabs(given0) < 1e30) {
        *start = given0;
        *size = givenSize;
        return;
    }
    if (haveContent && content1 - content0 > 1e-9) {
        const double pad = (content1 - content0) * 0.05;
        *start = content0 - pad;
        *size = content1 - content0 + 2 * pad;
        return;
    }
    double centre = 0;
    if (haveContent) {
        centre = content0;
    } else if (Finite(given0) && std::fabs(given0) < 1e30) {
        centre = given0;
    }
    *start = centre - 0.5;
    *size = 1;
}

// "Nice" tick step for a range.
double TickStep(double range) {
    if (!(range > 0) || !Finite(range)) return 1;
    const double raw = range / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double n = raw / magnitude;
    return (n < 1.5 ? 1 : n < 3.5 ? 2 : n < 7.5 ? 5 : 10) * magnitude;
}

std::string Number(double v) {
    char buffer[32];
    if (std::fabs(v) >= 1e6 || (std::fabs(v) < 1e-3 && v != 0)) {
        std::snprintf(buffer, sizeof buffer, "%.3g", v);
    } else {
        std::snprintf(buffer, sizeof buffer, "%g", std::round(v * 1000) / 1000);
    }
    return buffer;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double size, int align, bool bold = false) {
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    double dx = 0;
    if (align == 1) dx = -e.x_advance / 2;
    if (align == 2) dx = -e.x_advance;
    cairo_move_to(cr, x + dx, y);
    cairo_show_text(cr, text.c_str());
}

// An image's pixels as a cairo surface (opaque); null when it has none.
cairo_surface_t* ImageSurface(zvHandle image) {
    const int32_t w = zvImageWidth(image);
    const int32_t h = zvImageHeight(image);
    const int32_t stride = zvImageStride(image);
    const int32_t type = zvImageType(image);
    const auto* data = static_cast<const unsigned char*>(zvImageData(image));
    if (w <= 0 || h <= 0 || w > kCairoMaxSide || h > kCairoMaxSide || stride < w || data == nullptr) return nullptr;
    if (type != ZV_TYPE_IMAGE8 && type != ZV_TYPE_IMAGE32) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    unsigned char* out = cairo_image_surface_get_data(surface);
    const int outStride = cairo_image_surface_get_stride(surface);
    for (int32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(out + static_cast<ptrdiff_t>(y) * outStride);
        if (type == ZV_TYPE_IMAGE8) {
            const unsigned char* in = data + static_cast<ptrdiff_t>(y) * stride;
            for (int32_t x = 0; x < w; ++x) row[x] = 0xFF000000u | (uint32_t{in[x]} * 0x010101u);
        } else {
            const unsigned char* in = data + static_cast<ptrdiff_t>(y) * stride * 4;
            for (int32_t x = 0; x < w; ++x) {
                const unsigned char* p = in + 4 * x;  // blue, green, red, alpha
                row[x] = 0xFF000000u | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
            }
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

// Draws `surface` into the pixel rectangle, nearest-neighbour.
void PaintImage(cairo_t* cr, cairo_surface_t* surface, double x, double y, double w, double h) {
    const int iw = cairo_image_surface_get_width(surface);
    const int ih = cairo_image_surface_get_height(surface);
    if (iw <= 0 || ih <= 0 || !(w > 0) || !(h > 0)) return;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, w / iw, h / ih);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

bool GoodPoint(const zvPoint32s& p) { return p.x != kNull && p.y != kNull; }

// Long: one case per drawing kind of a graphic, sharing the view.
void DrawGraphic(cairo_t* cr, zvHandle graphic, const View& v) {
    const int32_t pens = zvGraphicPenCount(graphic);
    const int32_t brushes = zvGraphicBrushCount(graphic);
    const int32_t markers = zvGraphicMarkerCount(graphic);
    const int32_t fonts = zvGraphicFontCount(graphic);
    const int32_t drawings = zvGraphicDrawingCount(graphic);
    for (int32_t d = 0; d < drawings; ++d) {
        zvDrawing drawing{};
        if (zvGraphicDrawingAt(graphic, d, &drawing) <= 0) continue;
        zvPen pen{0xFF000000u, 1.0f};
        if (drawing.pen >= 0 && drawing.pen < pens) zvGraphicPenAt(graphic, drawing.pen, &pen);
        uint32_t brush = pen.argb;
        const bool haveBrush = drawing.brush >= 0 && drawing.brush < brushes;
        if (haveBrush) zvGraphicBrushAt(graphic, drawing.brush, &brush);
        const double penWidth = Finite(pen.width) ? std::clamp(static_cast<double>(pen.width), 1.0, 40.0) : 1.0;
        const zvPoint32s* pts = drawing.points;
        const int32_t count = pts != nullptr ? std::max(drawing.count, 0) : 0;
        if (drawing.kind == ZV_DRAW_POLYLINE) {
            SetColour(cr, FromArgb(pen.argb));
            cairo_set_line_width(cr, penWidth);
            bool open = false;
            for (int32_t i = 0; i < count; ++i) {
                if (!GoodPoint(pts[i])) {
                    open = false;  // a null point breaks the line
                    continue;
                }
                if (open) {
                    cairo_line_to(cr, v.X(pts[i].x), v.Y(pts[i].y));
                } else {
                    cairo_move_to(cr, v.X(pts[i].x), v.Y(pts[i].y));
                    open = true;
                }
            }
            cairo_stroke(cr);
        } else if (drawing.kind == ZV_DRAW_POINTS) {
            zvMarker marker{2, 2.0f};
            if (drawing.marker >= 0 && drawing.marker < markers) zvGraphicMarkerAt(graphic, drawing.marker, &marker);
            const double size = Finite(marker.size) ? std::clamp(static_cast<double>(marker.size), 2.0, 60.0) : 2.0;
            const double h = size / 2;
            for (int32_t i = 0; i < count; ++i) {
                if (!GoodPoint(pts[i])) continue;
                const double x = v.X(pts[i].x);
                const double y = v.Y(pts[i].y);
                switch (marker.shape) {
                    case 1:
                        cairo_move_to(cr, x - h, y - h);
                        cairo_line_to(cr, x + h, y + h);
                        cairo_move_to(cr, x - h, y + h);
                        cairo_line_to(cr, x + h, y - h);
                        break;
                    case 3:
                        cairo_new_sub_path(cr);
                        cairo_arc(cr, x, y, h, 0, 2 * kPi);
                        break;
                    default:  // square, or a plain dot for no marker
                        cairo_rectangle(cr, x - h, y - h, size, size);
                        break;
                }
            }
            if (marker.shape == 1) {
                SetColour(cr, FromArgb(pen.argb));
                cairo_set_line_width(cr, 1.0);
                cairo_stroke(cr);
            } else {
                SetColour(cr, FromArgb(haveBrush ? brush : pen.argb));
                cairo_fill_preserve(cr);
                SetColour(cr, FromArgb(pen.argb));
                cairo_set_line_width(cr, 0.5);
                cairo_stroke(cr);
            }
        } else if (drawing.kind == ZV_DRAW_STRING && drawing.text != nullptr && count >= 1) {
            zvFont font{0, 0, 12.0f};
            if (drawing.font >= 0 && drawing.font < fonts) zvGraphicFontAt(graphic, drawing.font, &font);
            const char* family = font.family == 1 ? "Serif" : font.family == 2 ? "Monospace" : "Sans";
            cairo_select_font_face(cr, family, CAIRO_FONT_SLANT_NORMAL,
                                   font.style == 1 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, Finite(font.size) ? std::clamp(static_cast<double>(font.size), 6.0, 200.0) : 12.0);
            SetColour(cr, FromArgb(brush));
            if (GoodPoint(pts[0])) {
                cairo_move_to(cr, v.X(pts[0].x), v.Y(pts[0].y));
                cairo_show_text(cr, drawing.text);
                cairo_new_path(cr);
            }
        }
    }
}

void ContentBounds(zvHandle plot, Bounds* b) {
    const int32_t items = zvPlotItemCount(plot);
    for (int32_t i = 0; i < items; ++i) {
        zvHandle item = zvPlotItemAt(plot, i);
        if (zvObjectIs(item, ZV_TYPE_IMAGE)) {
            b->Add(0, 0);
            b->Add(zvImageWidth(item), zvImageHeight(item));
            continue;
        }
        const int32_t drawings = zvGraphicDrawingCount(item);
        for (int32_t d = 0; d < drawings; ++d) {
            zvDrawing drawing{};
            if (zvGraphicDrawingAt(item, d, &drawing) <= 0 || drawing.points == nullptr) continue;
            for (int32_t k = 0; k < drawing.count; ++k)
                if (GoodPoint(drawing.points[k])) b->Add(drawing.points[k].x, drawing.points[k].y);
        }
    }
}

// Dark text on light backgrounds, light text on dark ones.
Rgba InkFor(const Rgba& back) {
    const double luminance = 0.3 * back.r + 0.59 * back.g + 0.11 * back.b;
    return luminance > 0.5 ? Rgba{0.1, 0.1, 0.1, 1} : Rgba{0.92, 0.92, 0.92, 1};
}

void DrawAxes(cairo_t* cr, const View& v, const Rgba& ink) {
    SetColour(cr, {ink.r, ink.g, ink.b, 0.6});
    cairo_set_line_width(cr, 1);
    const double x0 = v.wx - v.offX / v.scale;
    const double x1 = x0 + v.width / v.scale;
    const double y0 = v.wy - v.offY / v.scale;
    const double y1 = y0 + v.height / v.scale;
    cairo_rectangle(cr, v.left + 0.5, v.top + 0.5, v.width, v.height);
    cairo_stroke(cr);
    const double sx = TickStep(x1 - x0);
    for (double t = std::ceil(x0 / sx) * sx; t <= x1 && sx > 0; t += sx) {
        const double px = v.X(t);
        cairo_move_to(cr, px, v.top + v.height);
        cairo_line_to(cr, px, v.top + v.height + 4);
        cairo_stroke(cr);
        Text(cr, px, v.top + v.height + 16, Number(t), 10, 1);
    }
    const double sy = TickStep(y1 - y0);
    for (double t = std::ceil(y0 / sy) * sy; t <= y1 && sy > 0; t += sy) {
        const double py = v.Y(t);
        cairo_move_to(cr, v.left - 4, py);
        cairo_line_to(cr, v.left, py);
        cairo_stroke(cr);
        Text(cr, v.left - 6, py + 3, Number(t), 10, 2);
    }
}

void DrawPlot(cairo_t* cr, zvHandle plot, int width, int height) {
    uint32_t back = 0xFFFFFFFFu;
    int32_t set = 0;
    zvPlotBackColor(plot, &back, &set);
    const Rgba backColour = set ? FromArgb(back) : Rgba{1, 1, 1, 1};
    SetColour(cr, {backColour.r, backColour.g, backColour.b, 1});
    cairo_paint(cr);
    const Rgba ink = InkFor(backColour);

    float fx = 0, fy = 0, fw = 0, fh = 0;
    zvPlotWorld(plot, &fx, &fy, &fw, &fh);
    Bounds content;
    ContentBounds(plot, &content);
    View v;
    v.left = 70;
    v.top = 40;
    v.width = width - 70 - 20;
    v.height = height - 40 - 50;
    SaneRange(fx, fw, content.x0, content.x1, content.Valid(), &v.wx, &v.ww);
    SaneRange(fy, fh, content.y0, content.y1, content.Valid(), &v.wy, &v.wh);
    v.Fit();

    SetColour(cr, ink);
    const char* title = zvPlotTitle(plot);
    if (title != nullptr && *title) Text(cr, width / 2.0, 24, title, 16, 1, true);
    const char* xTitle = zvPlotXTitle(plot);
    if (xTitle != nullptr && *xTitle) Text(cr, v.left + v.width / 2, height - 10, xTitle, 12, 1);
    const char* yTitle = zvPlotYTitle(plot);
    if (yTitle != nullptr && *yTitle) {
        cairo_save(cr);
        cairo_translate(cr, 16, v.top + v.height / 2);
        cairo_rotate(cr, -kPi / 2);
        Text(cr, 0, 0, yTitle, 12, 1);
        cairo_restore(cr);
    }
    DrawAxes(cr, v, ink);

    cairo_save(cr);
    cairo_rectangle(cr, v.left, v.top, v.width, v.height);
    cairo_clip(cr);
    const int32_t items = zvPlotItemCount(plot);
    for (int32_t i = 0; i < items; ++i) {
        zvHandle item = zvPlotItemAt(plot, i);
        if (zvObjectIs(item, ZV_TYPE_IMAGE)) {
            // An image covers the world rectangle.
            cairo_surface_t* surface = ImageSurface(item);
            if (surface == nullptr) continue;
            const double x0 = v.X(v.wx);
            const double y0 = v.Y(v.wy + v.wh);
            PaintImage(cr, surface, x0, y0, v.ww * v.scale, v.wh * v.scale);
            cairo_surface_destroy(surface);
        } else if (zvObjectIs(item, ZV_TYPE_GRAPHIC)) {
            DrawGraphic(cr, item, v);
        }
    }
    cairo_restore(cr);
}

double Hue(double t, int channel) {
    // Blue through green to orange as t goes from 0 to 1.
    static const double stops[3][3] = {{0.15, 0.35, 0.85}, {0.2, 0.7, 0.35}, {0.95, 0.55, 0.1}};
    t = std::clamp(t, 0.0, 1.0) * 2;
    const int i = std::min(1, static_cast<int>(t));
    const double f = t - i;
    return stops[i][channel] * (1 - f) + stops[i + 1][channel] * f;
}

struct Slice {
    int32_t cx, cy, cz;
    const int32_t* radii;
    int32_t count;
};

// Long: the outlines, their colours and the axes of one model, drawn in
// one pass over its slices.
void DrawPolar(cairo_t* cr, zvHandle model, int width, int height) {
    cairo_set_source_rgb(cr, 0.08, 0.09, 0.12);
    cairo_paint(cr);
    int32_t count = 0;
    zvPolarModelSliceCount(model, &count);
    std::vector<Slice> slices;
    for (int32_t i = 0; i < count; ++i) {
        zvHandle polar = zvPolarModelSliceAt(model, i);
        Slice s{};
        if (zvPolarCenter(polar, &s.cx, &s.cy, &s.cz) <= 0) continue;
        s.radii = zvPolarPoints(polar);
        s.count = zvPolarCount(polar);
        if (s.radii == nullptr || s.count <= 0) continue;
        slices.push_back(s);
    }
    const Rgba ink{0.92, 0.92, 0.92, 1};
    SetColour(cr, ink);
    Text(cr, width / 2.0, 24, "Detection: " + std::to_string(slices.size()) + " slices", 16, 1, true);
    Text(cr, 170, height - 12, "end view (x, y)", 11, 1);
    Text(cr, 340 + (width - 360) / 2.0, height - 12, "side view along the transport", 11, 1);
    if (slices.empty()) return;

    // Points of every outline; each slice drawn, or every n-th of many.
    auto point = [](const Slice& s, int32_t k, double* x, double* y) {
        const double a = 2 * kPi * k / s.count;
        *x = s.cx + s.radii[k] * std::cos(a);
        *y = s.cy + s.radii[k] * std::sin(a);
    };
    Bounds end;
    Bounds side;
    const double kx = 0.5;  // obliqueness of the side view
    for (const Slice& s : slices) {
        for (int32_t k = 0; k < s.count; ++k) {
            double x, y;
            point(s, k, &x, &y);
            end.Add(x, y);
            side.Add(s.cz + kx * x, y + 0.3 * x);
        }
    }
    View e;
    e.left = 20;
    e.top = 40;
    e.width = 300;
    e.height = height - 80;
    SaneRange(end.x0, end.x1 - end.x0, end.x0, end.x1, end.Valid(), &e.wx, &e.ww);
    SaneRange(end.y0, end.y1 - end.y0, end.y0, end.y1, end.Valid(), &e.wy, &e.wh);
    e.Fit();
    View sv;
    sv.left = 340;
    sv.top = 40;
    sv.width = width - 360;
    sv.height = height - 80;
    SaneRange(side.x0, side.x1 - side.x0, side.x0, side.x1, side.Valid(), &sv.wx, &sv.ww);
    SaneRange(side.y0, side.y1 - side.y0, side.y0, side.y1, side.Valid(), &sv.wy, &sv.wh);
    sv.Fit();
    const size_t stride = std::max<size_t>(1, slices.size() / 400);
    cairo_set_line_width(cr, 1);
    for (size_t i = 0; i < slices.size(); i += stride) {
        const Slice& s = slices[i];
        const double t = slices.size() > 1 ? static_cast<double>(i) / (slices.size() - 1) : 0;
        cairo_set_source_rgba(cr, Hue(t, 0), Hue(t, 1), Hue(t, 2), 0.55);
        for (int32_t k = 0; k <= s.count; ++k) {
            double x, y;
            point(s, k % s.count, &x, &y);
            if (k == 0) {
                cairo_move_to(cr, e.X(x), e.Y(y));
            } else {
                cairo_line_to(cr, e.X(x), e.Y(y));
            }
        }
        cairo_stroke(cr);
        for (int32_t k = 0; k <= s.count; ++k) {
            double x, y;
            point(s, k % s.count, &x, &y);
            const double u = s.cz + kx * x;
            const double w = y + 0.3 * x;
            if (k == 0) {
                cairo_move_to(cr, sv.X(u), sv.Y(w));
            } else {
                cairo_line_to(cr, sv.X(u), sv.Y(w));
            }
        }
        cairo_stroke(cr);
    }
}

// Collects what cairo writes of a picture.
cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    } catch (...) {
        return CAIRO_STATUS_NO_MEMORY;
    }
}

// Makes a picture of `width` x `height` with `draw` and writes it to
// `path`, whole or not at all, as every file the host writes there.
template <typename Draw>
bool Write(const std::string& path, Format format, int width, int height, std::string* error, Draw draw) {
    std::string bytes;
    cairo_surface_t* surface = format == Format::Png
                                   ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)
                                   : cairo_svg_surface_create_for_stream(AppendBytes, &bytes, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        *error = "cannot make a picture for " + path + ": " + cairo_status_to_string(cairo_surface_status(surface));
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS && format == Format::Png)
        status = cairo_surface_write_to_png_stream(surface, AppendBytes, &bytes);
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = "cannot write " + path + ": " + cairo_status_to_string(status);
        return false;
    }
    if (zv::files::WriteOutsideFile(path, bytes) <= 0) {
        *error = zvLastErrorText();
        return false;
    }
    return true;
}

}  // namespace

void ShutdownRendering() {
    cairo_debug_reset_static_data();
    FcFini();
}

void ImagePictureSize(zvHandle image, int* width, int* height) {
    *width = 0;
    *height = 0;
    if (!zvObjectIs(image, ZV_TYPE_IMAGE)) return;
    const int32_t w = zvImageWidth(image);
    const int32_t h = zvImageHeight(image);
    if (w <= 0 || h <= 0 || w > kCairoMaxSide || h > kCairoMaxSide) return;
    *width = std::max(w, kImageMinSide);
    *height = std::max(h, kImageMinSide);
}

bool RenderPlot(zvHandle plot, const std::string& path, Format format, std::string* error) {
    if (!zvObjectIs(plot, ZV_TYPE_PLOT)) {
        *error = "not a plot";
        return false;
    }
    return Write(path, format, kPlotWidth, kPlotHeight, error,
                 [&](cairo_t* cr) { DrawPlot(cr, plot, kPlotWidth, kPlotHeight); });
}

bool RenderImage(zvHandle image, const std::string& path, Format format, std::string* error) {
    int w = 0;
    int h = 0;
    ImagePictureSize(image, &w, &h);
    cairo_surface_t* surface = w > 0 ? ImageSurface(image) : nullptr;
    if (surface == nullptr) {
        *error = "not an image with pixels";
        return false;
    }
    const bool ok = Write(path, format, w, h, error, [&](cairo_t* cr) { PaintImage(cr, surface, 0, 0, w, h); });
    cairo_surface_destroy(surface);
    return ok;
}

bool RenderPolarModel(zvHandle model, const std::string& path, Format format, std::string* error) {
    if (!zvObjectIs(model, ZV_TYPE_POLARMODEL)) {
        *error = "not a polar model";
        return false;
    }
    return Write(path, format, kPolarWidth, kPolarHeight, error,
                 [&](cairo_t* cr) { DrawPolar(cr, model, kPolarWidth, kPolarHeight); });
}

bool RenderPng(zvHandle object, std::string* png, std::string* error, double scale) {
    png->clear();
    scale = std::isfinite(scale) ? std::clamp(scale, 0.25, 1.0) : 1.0;
    int width = static_cast<int>(kPlotWidth * scale);
    int height = static_cast<int>(kPlotHeight * scale);
    cairo_surface_t* image = nullptr;
    if (zvObjectIs(object, ZV_TYPE_POLARMODEL)) {
        width = static_cast<int>(kPolarWidth * scale);
        height = static_cast<int>(kPolarHeight * scale);
    } else if (zvObjectIs(object, ZV_TYPE_IMAGE)) {
        ImagePictureSize(object, &width, &height);
        image = width > 0 ? ImageSurface(object) : nullptr;
        if (image == nullptr) {
            *error = "not an image with pixels";
            return false;
        }
    } else if (!zvObjectIs(object, ZV_TYPE_PLOT)) {
        *error = "not a plot, an image or a polar model";
        return false;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    if (image != nullptr) {
        PaintImage(cr, image, 0, 0, width, height);
    } else if (zvObjectIs(object, ZV_TYPE_POLARMODEL)) {
        DrawPolar(cr, object, width, height);
    } else {
        DrawPlot(cr, object, width, height);
    }
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png_stream(surface, AppendBytes, png);
    cairo_surface_destroy(surface);
    if (image != nullptr) cairo_surface_destroy(image);
    if (status != CAIRO_STATUS_SUCCESS) {
        png->clear();
        *error = std::string("cannot make the picture: ") + cairo_status_to_string(status);
        return false;
    }
    return true;
}

}  // namespace zvhost
