// The displays' pictures: plots, images and polar models drawn with cairo
// into PNG and SVG files, tables as rows of text, and a summary of any
// output for the host's events.
//
// Nothing here changes or keeps the objects it draws; every call reads them
// through the zvApi read-back calls and is safe on malformed content
// (unknown item kinds, out-of-range pen or marker indices, null points,
// worlds of zero or non-finite size, huge point counts).
#ifndef ZVHOST_RENDER_HPP
#define ZVHOST_RENDER_HPP

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "zvapi/zvapi.h"

namespace zvhost {

enum class Format { Png, Svg };

// Canvas sizes of the pictures, in pixels.
constexpr int kPlotWidth = 800;
constexpr int kPlotHeight = 600;
constexpr int kPolarWidth = 1200;
constexpr int kPolarHeight = 500;
// Images are written at their own size, each side stretched to at least this.
constexpr int kImageMinSide = 64;

// The pixel size an image is written at (its own, stretched up to
// kImageMinSide per side); 0 x 0 for a handle that is no initialised image.
void ImagePictureSize(zvHandle image, int* width, int* height);

// Each writes one picture to `path` (a path on this machine). Returns false
// with `*error` set when the object is of the wrong kind or the file
// cannot be written; a failed write leaves no partial file behind under
// `path` beyond what cairo itself wrote.
bool RenderPlot(zvHandle plot, const std::string& path, Format format, std::string* error);
bool RenderImage(zvHandle image, const std::string& path, Format format, std::string* error);
bool RenderPolarModel(zvHandle model, const std::string& path, Format format, std::string* error);

// The picture of a plot, an image or a polar model as PNG bytes in memory,
// drawn as the files above are (the browser's live displays); plots and
// polar models on a canvas `scale` (0.25 to 1) times the files' size, images
// at their own. False with `*error` set, and `*png` empty, for any other
// object.
bool RenderPng(zvHandle object, std::string* png, std::string* error, double scale = 1.0);

// A table output (an array list of string lists, one per column) as rows:
// row 0 holds the column headings. Columns of unequal length are padded
// with "". Empty for anything that is not such a list.
std::vector<std::vector<std::string>> TableRows(zvHandle table);
// Rows as aligned text, one line per row.
std::string TableText(const std::vector<std::vector<std::string>>& rows);
// {"columns": [...], "rows": [[...], ...]}.
nlohmann::json TableJson(const std::vector<std::vector<std::string>>& rows);

// A summary of any output object: its kind and content (table rows; plot
// world, titles, back colour and graphics; image size and checksum; polar
// model slices and centres; string text).
nlohmann::json DescribeOutput(zvHandle object);

// FNV-1a 64 of an image's pixels, row by row without stride padding, as 16
// hex digits.
std::string ImageChecksum(zvHandle image);

// Releases the caches of cairo and of the font configuration it loads, so
// that a leak checker sees only real leaks. Call once at the end, after the
// last picture; pictures may be made again afterwards.
void ShutdownRendering();

// "#AARRGGBB".
std::string ColourText(uint32_t argb);

}  // namespace zvhost

#endif
