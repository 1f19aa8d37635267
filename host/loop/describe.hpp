// What the displays receive, as text and JSON: tables as rows, and the
// description of any output for the host's events, with or without every
// number it holds. Nothing here changes or keeps the objects it reads; every
// call reads them through the zvApi read-back calls and is safe on
// malformed content.
#ifndef ZVHOST_DESCRIBE_HPP
#define ZVHOST_DESCRIBE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "zvapi/zvapi.h"

namespace zvhost {

// A table output (an array list of string lists, one per column) as rows:
// row 0 holds the column headings. Columns of unequal length are padded
// with "". Empty for anything that is not such a list.
std::vector<std::vector<std::string>> TableRows(zvHandle table);
// Rows as aligned text, one line per row.
std::string TableText(const std::vector<std::vector<std::string>>& rows);
// {"columns": [...], "rows": [[...], ...]}.
nlohmann::json TableJson(const std::vector<std::vector<std::string>>& rows);

// A description of any output object: its kind and content (table rows;
// plot world, titles, back colour and per graphic its label, colours and
// point count; image size and checksum; polar model slices and centres;
// string text). With `full`, every number it holds as well: the points of
// each drawing of a graphic (and each text's position) with the markers
// and fonts its drawings name, the radii of each
// outline of a polar model, and an image's pixels in base64, row by row
// without the stride's padding.
nlohmann::json DescribeOutput(zvHandle object, bool full = false);

// FNV-1a 64 of an image's pixels, row by row without stride padding, as 16
// hex digits.
std::string ImageChecksum(zvHandle image);

// "#AARRGGBB".
std::string ColourText(uint32_t argb);

// Standard base64 (with padding) of `size` bytes.
std::string Base64(const unsigned char* bytes, size_t size);

}  // namespace zvhost

#endif
