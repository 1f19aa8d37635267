// Tables and descriptions of the displays' outputs.
#include "describe.hpp"

#include <algorithm>
#include <cstdio>

namespace zvhost {

std::string ColourText(uint32_t argb) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%08X", argb);
    return buffer;
}

std::string Base64(const unsigned char* bytes, size_t size) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t a = bytes[i];
        const uint32_t b = i + 1 < size ? bytes[i + 1] : 0;
        const uint32_t c = i + 2 < size ? bytes[i + 2] : 0;
        const uint32_t triple = a << 16 | b << 8 | c;
        text += kAlphabet[triple >> 18 & 63];
        text += kAlphabet[triple >> 12 & 63];
        text += i + 1 < size ? kAlphabet[triple >> 6 & 63] : '=';
        text += i + 2 < size ? kAlphabet[triple & 63] : '=';
    }
    return text;
}

std::vector<std::vector<std::string>> TableRows(zvHandle table) {
    std::vector<std::vector<std::string>> rows;
    if (!zvObjectIs(table, ZV_TYPE_ARRAYLIST) || zvArrayListItemType(table) != ZV_TYPE_ARRAYLIST) return rows;
    const int32_t columns = zvArrayListCount(table);
    for (int32_t c = 0; c < columns; ++c) {
        const auto* slot = static_cast<const zvHandle*>(zvArrayListAt(table, c));
        zvHandle column = slot ? *slot : nullptr;
        const bool strings = zvObjectIs(column, ZV_TYPE_ARRAYLIST) && zvArrayListItemType(column) == ZV_TYPE_STRING;
        const int32_t n = strings ? zvArrayListCount(column) : 0;
        if (rows.size() < static_cast<size_t>(n)) rows.resize(static_cast<size_t>(n));
        for (int32_t r = 0; r < n; ++r) {
            const auto* cell = static_cast<const zvHandle*>(zvArrayListAt(column, r));
            const char* text = cell ? zvStringChars(*cell) : nullptr;
            auto& row = rows[static_cast<size_t>(r)];
            if (row.size() < static_cast<size_t>(c) + 1) row.resize(static_cast<size_t>(c) + 1);
            row[static_cast<size_t>(c)] = text ? text : "";
        }
    }
    for (auto& row : rows) row.resize(static_cast<size_t>(columns));
    return rows;
}

std::string TableText(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size());
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

nlohmann::json TableJson(const std::vector<std::vector<std::string>>& rows) {
    nlohmann::json j;
    j["columns"] = rows.empty() ? nlohmann::json::array() : nlohmann::json(rows.front());
    nlohmann::json body = nlohmann::json::array();
    for (size_t r = 1; r < rows.size(); ++r) body.push_back(rows[r]);
    j["rows"] = body;
    return j;
}

std::string ImageChecksum(zvHandle image) {
    uint64_t hash = 0xCBF29CE484222325ull;
    const int32_t w = zvImageWidth(image);
    const int32_t h = zvImageHeight(image);
    const int32_t stride = zvImageStride(image);
    const int32_t bytes = zvImageType(image) == ZV_TYPE_IMAGE32 ? 4 : 1;
    const auto* data = static_cast<const unsigned char*>(zvImageData(image));
    if (data != nullptr && w > 0 && h > 0 && stride >= w) {
        for (int32_t y = 0; y < h; ++y) {
            const unsigned char* row = data + static_cast<ptrdiff_t>(y) * stride * bytes;
            for (int32_t x = 0; x < w * bytes; ++x) {
                hash ^= row[x];
                hash *= 0x100000001B3ull;
            }
        }
    }
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(hash));
    return buffer;
}

namespace {

// An image's pixels, row by row without the stride's padding; empty for
// an image without them.
std::string ImagePixels(zvHandle image) {
    const int32_t w = zvImageWidth(image);
    const int32_t h = zvImageHeight(image);
    const int32_t stride = zvImageStride(image);
    const int32_t bytes = zvImageType(image) == ZV_TYPE_IMAGE32 ? 4 : 1;
    const auto* data = static_cast<const unsigned char*>(zvImageData(image));
    std::string pixels;
    if (data == nullptr || w <= 0 || h <= 0 || stride < w) return pixels;
    pixels.reserve(static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(bytes));
    for (int32_t y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const char*>(data + static_cast<ptrdiff_t>(y) * stride * bytes);
        pixels.append(row, static_cast<size_t>(w) * static_cast<size_t>(bytes));
    }
    return pixels;
}

nlohmann::json DescribeImage(zvHandle image, bool full) {
    nlohmann::json j;
    j["kind"] = "image";
    j["width"] = zvImageWidth(image);
    j["height"] = zvImageHeight(image);
    j["bits"] = zvImageType(image) == ZV_TYPE_IMAGE32 ? 32 : zvImageType(image) == ZV_TYPE_IMAGE8 ? 8 : 0;
    j["checksum"] = ImageChecksum(image);
    if (full) {
        const std::string pixels = ImagePixels(image);
        j["pixels"] = Base64(reinterpret_cast<const unsigned char*>(pixels.data()), pixels.size());
    }
    return j;
}

// The points of a drawing as [[x, y], ...], null points as null.
nlohmann::json PointsOf(const zvDrawing& drawing) {
    nlohmann::json points = nlohmann::json::array();
    for (int32_t k = 0; drawing.points != nullptr && k < drawing.count; ++k) {
        const zvPoint32s& p = drawing.points[k];
        if (p.x == INT32_MIN && p.y == INT32_MIN) {
            points.push_back(nullptr);
        } else {
            points.push_back({p.x, p.y});
        }
    }
    return points;
}

nlohmann::json DescribeGraphic(zvHandle graphic, bool full) {
    nlohmann::json j;
    const char* label = zvDataLabel(graphic);
    j["label"] = label ? label : "";
    nlohmann::json pens = nlohmann::json::array();
    for (int32_t i = 0; i < zvGraphicPenCount(graphic); ++i) {
        zvPen pen{};
        if (zvGraphicPenAt(graphic, i, &pen) > 0)
            pens.push_back({{"colour", ColourText(pen.argb)}, {"width", pen.width}});
    }
    nlohmann::json brushes = nlohmann::json::array();
    for (int32_t i = 0; i < zvGraphicBrushCount(graphic); ++i) {
        uint32_t argb = 0;
        if (zvGraphicBrushAt(graphic, i, &argb) > 0) brushes.push_back(ColourText(argb));
    }
    int64_t points = 0;
    int64_t lines = 0;
    nlohmann::json strings = nlohmann::json::array();
    nlohmann::json drawings = nlohmann::json::array();
    for (int32_t d = 0; d < zvGraphicDrawingCount(graphic); ++d) {
        zvDrawing drawing{};
        if (zvGraphicDrawingAt(graphic, d, &drawing) <= 0) continue;
        if (drawing.kind == ZV_DRAW_POINTS) points += std::max(drawing.count, 0);
        if (drawing.kind == ZV_DRAW_POLYLINE) lines += std::max(drawing.count, 0);
        if (drawing.kind == ZV_DRAW_STRING && drawing.text != nullptr) strings.push_back(drawing.text);
        if (!full) continue;
        nlohmann::json each;
        each["kind"] = drawing.kind == ZV_DRAW_POINTS     ? "points"
                       : drawing.kind == ZV_DRAW_POLYLINE ? "polyline"
                       : drawing.kind == ZV_DRAW_STRING   ? "text"
                                                          : "other";
        each["pen"] = drawing.pen;
        each["brush"] = drawing.brush;
        each["marker"] = drawing.marker;
        each["font"] = drawing.font;
        each["points"] = PointsOf(drawing);
        if (drawing.kind == ZV_DRAW_STRING) each["text"] = drawing.text != nullptr ? drawing.text : "";
        drawings.push_back(each);
    }
    if (full) {
        // What the drawings' indices name, beside them: a picture drawn from
        // these numbers looks as the host's own.
        nlohmann::json markers = nlohmann::json::array();
        for (int32_t i = 0; i < zvGraphicMarkerCount(graphic); ++i) {
            zvMarker marker{};
            zvGraphicMarkerAt(graphic, i, &marker);
            markers.push_back({{"shape", marker.shape}, {"size", marker.size}});
        }
        nlohmann::json fonts = nlohmann::json::array();
        for (int32_t i = 0; i < zvGraphicFontCount(graphic); ++i) {
            zvFont font{};
            zvGraphicFontAt(graphic, i, &font);
            fonts.push_back({{"family", font.family}, {"style", font.style}, {"size", font.size}});
        }
        j["drawings"] = drawings;
        j["markers"] = markers;
        j["fonts"] = fonts;
    }
    j["pens"] = pens;
    j["brushes"] = brushes;
    j["points"] = points;
    j["linePoints"] = lines;
    j["strings"] = strings;
    return j;
}

}  // namespace

// Long: one case per kind of output, each with its brief and full forms.
nlohmann::json DescribeOutput(zvHandle object, bool full) {
    nlohmann::json j;
    switch (zvObjectType(object)) {
        case ZV_TYPE_ARRAYLIST: {
            j = TableJson(TableRows(object));
            j["kind"] = "table";
            break;
        }
        case ZV_TYPE_PLOT: {
            j["kind"] = "plot";
            float x = 0, y = 0, w = 0, h = 0;
            zvPlotWorld(object, &x, &y, &w, &h);
            j["world"] = {x, y, w, h};
            const char* t = zvPlotTitle(object);
            const char* xt = zvPlotXTitle(object);
            const char* yt = zvPlotYTitle(object);
            j["title"] = t ? t : "";
            j["xTitle"] = xt ? xt : "";
            j["yTitle"] = yt ? yt : "";
            uint32_t back = 0;
            int32_t set = 0;
            zvPlotBackColor(object, &back, &set);
            j["backColour"] = set ? nlohmann::json(ColourText(back)) : nlohmann::json(nullptr);
            nlohmann::json graphics = nlohmann::json::array();
            nlohmann::json images = nlohmann::json::array();
            for (int32_t i = 0; i < zvPlotItemCount(object); ++i) {
                zvHandle item = zvPlotItemAt(object, i);
                if (zvObjectIs(item, ZV_TYPE_GRAPHIC)) graphics.push_back(DescribeGraphic(item, full));
                if (zvObjectIs(item, ZV_TYPE_IMAGE)) images.push_back(DescribeImage(item, full));
            }
            j["graphics"] = graphics;
            j["images"] = images;
            break;
        }
        case ZV_TYPE_IMAGE: j = DescribeImage(object, full); break;
        case ZV_TYPE_POLARMODEL: {
            j["kind"] = "polar model";
            int32_t count = 0;
            zvPolarModelSliceCount(object, &count);
            j["slices"] = count;
            j["pointsPerOutline"] = zvPolarModelPointsPerOutline(object);
            nlohmann::json centres = nlohmann::json::array();
            nlohmann::json radii = nlohmann::json::array();
            for (int32_t i = 0; i < count; ++i) {
                zvHandle outline = zvPolarModelSliceAt(object, i);
                int32_t cx = 0, cy = 0, cz = 0;
                if (zvPolarCenter(outline, &cx, &cy, &cz) > 0) centres.push_back({cx, cy, cz});
                if (!full) continue;
                const int32_t* r = zvPolarPoints(outline);
                const int32_t n = r != nullptr ? zvPolarCount(outline) : 0;
                radii.push_back(n > 0 ? nlohmann::json(std::vector<int32_t>(r, r + n)) : nlohmann::json::array());
            }
            j["centres"] = centres;
            if (full) j["radii"] = radii;
            break;
        }
        case ZV_TYPE_STRING: {
            j["kind"] = "text";
            const char* text = zvStringChars(object);
            j["text"] = text ? text : "";
            break;
        }
        default:
            j["kind"] = "other";
            j["type"] = zvObjectType(object);
            break;
    }
    return j;
}

}  // namespace zvhost
