// Pictures and tables of the displays as files on this machine: `zvhost
// run`, `demo` and a page script's `out` write what each display shows,
// named after the mode and the display (<mode>-<display>.<ext>).
#ifndef ZVHOST_OUTPUT_FILES_HPP
#define ZVHOST_OUTPUT_FILES_HPP

#include <filesystem>
#include <string>
#include <vector>

#include "host_loop.hpp"
#include "zvrunner/mode_runner.hpp"

namespace zvhost {

// One file written, and the display whose picture or table it holds.
struct WrittenFile {
    std::string mode;
    std::string display;
    std::string path;
};

// Writes `text` to `path` of this machine (the host's tables, outside the
// file space) whole or not at all, as every file the host writes there.
bool WriteText(const std::filesystem::path& path, const std::string& text, std::string* error);
// Writes the pictures (PNG and SVG) or tables (JSON and text) of one output
// of `mode` into `out`, named after the mode and the display; appends the
// files made.
bool WriteOutput(const std::filesystem::path& out, const std::string& mode, const zv::runner::Output& o,
                 std::vector<std::string>* written, std::string* error);
// Writes what each display of the client's current mode shows into `dir`
// (made when missing): a page's drawing with the axis texts the page gave
// its chart. Appends the files made.
bool WriteDisplays(HostLoop& loop, const std::filesystem::path& dir, std::vector<WrittenFile>* written,
                   std::string* error);

// "Video 0" -> "Video_0": a display name as part of a file name.
std::string FileStem(const std::string& mode, const std::string& display);

}  // namespace zvhost

#endif
