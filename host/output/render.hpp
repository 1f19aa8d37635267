// The displays' pictures: plots, images and polar models drawn with cairo
// into PNG and SVG files. Tables as text and JSON, and the description of
// any output for the host's events, are in describe.hpp.
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

#include "describe.hpp"
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

// Releases the caches of cairo and of the font configuration it loads, so
// that a leak checker sees only real leaks. Call once at the end, after the
// last picture; pictures may be made again afterwards.
void ShutdownRendering();

}  // namespace zvhost

#endif
