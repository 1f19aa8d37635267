// Shared helpers of the mode tests: a temporary file space with server
// folders and a Settings.xml writer, result and message builders, a pipe-app
// builder for hand-described modes, and readers of the outputs (tables,
// plots, graphics, images).
//
// Everything returned as a zvHandle belongs to the caller unless said
// otherwise; results handed to ModeRunner::ProcessPayloads pass to the
// runner.
#ifndef TESTS_MODES_SUPPORT_MODE_SUPPORT_HPP
#define TESTS_MODES_SUPPORT_MODE_SUPPORT_HPP

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "modes/run_state.h"
#include "support/temp_space.hpp"
#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"
#include "zvrunner/mode_runner.hpp"

namespace modes_test {

// ---- File space -------------------------------------------------------------
// The shared temporary file space, with server folders on demand.
class FileSpace : public zvtest::TempFileSpace {
public:
    FileSpace() : zvtest::TempFileSpace("torvane-modes") {}
    const std::filesystem::path& Root() const { return Path(); }
    // The folder "SN<serial>" (made when missing).
    std::filesystem::path ServerFolder(uint32_t serial) const;
};

struct Sensor {
    uint32_t serial;
    int32_t enabled;
    int32_t vertexView;
    std::string name = "S";
};

// Settings.xml of server `server` with these sensors and target vertices;
// the other system values are those of the default document, with
// `encoderResolution` and `maxSlices` as given.
struct SettingsShape {
    std::vector<Sensor> sensors;
    std::vector<zvPoint32s> target = {{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}};
    double encoderResolution = 0.0;
    int32_t maxSlices = 0;
};
std::string SettingsXml(const SettingsShape& shape);
void WriteSettings(const FileSpace& files, uint32_t server, const SettingsShape& shape);

// ---- Results ------------------------------------------------------------------
// An array of `elementType` with the given lengths (1 to 3 dimensions),
// filled from `bytes` (at most its size; the rest stays zero).
zvHandle MakeArray(int32_t elementType, const std::vector<int32_t>& lengths, const void* bytes = nullptr,
                   size_t size = 0);
// A result with `id`, `attributes` and the arrays (which it then owns).
zvHandle MakeResult(int64_t id, const std::vector<int64_t>& attributes, const std::vector<zvHandle>& arrays = {});

struct ProfilePoint {
    int16_t x;
    int16_t y;
};
// A range profile (id 0) of sensor `serial`: stamp array, (n, 2) int16
// points, (n, rows) uint8 intensities where intensity(j, r) = rows[r][j]
// (each row as long as the points; missing values 0).
zvHandle ProfileResult(uint32_t serial, int32_t scale, const zvStamp& stamp, const std::vector<ProfilePoint>& points,
                       const std::vector<std::vector<uint8_t>>& intensityRows = {{}});
// A web output batch (id 5): attributes sync, X origin, X resolution, Y
// origin, Y resolution, profile resolution; one row of int32 cells per
// profile (rows of equal length).
zvHandle WebResult(const std::vector<int64_t>& attributes, const std::vector<std::vector<int32_t>>& rows);

// ---- Pipe apps -----------------------------------------------------------------
struct ModeEntry {
    std::string name;
    zvPipeStartHandler start;
    zvPipeProcessHandler process;
    zvPipeStopHandler stop;
    std::vector<std::pair<std::string, int32_t>> displays;
    std::vector<std::string> parameters;
};
// A pipe app "client" 6.2 with these modes; destroy with zvPipeAppDestroy.
zvHandle MakeApp(const std::vector<ModeEntry>& modes);

// ---- Output readers -----------------------------------------------------------
// Rows of a name/value table, heading row ("name", "value") included.
// Empty when the handle is not a two-column table.
std::vector<std::pair<std::string, std::string>> TableRows(zvHandle table);
// The value of the first row named `name`, "" when none.
std::string TableValue(zvHandle table, const std::string& name);

struct DrawingInfo {
    int32_t kind;
    int32_t pen, brush, marker, font;
    std::vector<zvPoint32s> points;
    std::string text;
};
struct GraphicInfo {
    std::string label;
    std::vector<zvPen> pens;
    std::vector<uint32_t> brushes;
    std::vector<zvMarker> markers;
    std::vector<zvFont> fonts;
    std::vector<DrawingInfo> drawings;
};
struct PlotInfo {
    std::string label, title, xTitle, yTitle;
    float world[4];
    bool backSet;
    uint32_t back;
    std::vector<GraphicInfo> graphics;  // graphic items in order
    int32_t images;                     // image items
};
GraphicInfo ReadGraphic(zvHandle graphic);
PlotInfo ReadPlot(zvHandle plot);

// Labels of a runner's outputs in order ("Encoder", "Free", ...).
template <class Outputs>
std::vector<std::string> Labels(const Outputs& outputs) {
    std::vector<std::string> labels;
    for (const auto& o : outputs) labels.push_back(o.label);
    return labels;
}

}  // namespace modes_test

// ---- A running station -----------------------------------------------------------
namespace modes_test {

// The server every mode test runs against.
constexpr uint32_t kServer = 7;

// A file space with server 7, the plug-in's five modes as it describes them
// (plus any modes a test adds) and a runner over them. At the end it checks that the
// test left no object and no byte alive.
class ModeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the app by the plug-in's modes followed by `extra`.
    void UseModes(const std::vector<ModeEntry>& extra);
    // Settings of server 7, written before the mode starts.
    void Settings(const SettingsShape& shape) { WriteSettings(files_, kServer, shape); }
    RunState* State() const { return static_cast<RunState*>(runner_->State()); }
    // The outputs' objects in order.
    std::vector<zvHandle> Objects() const;

    FileSpace files_;
    zv::OwnedPipeApp app_;
    std::unique_ptr<zv::runner::ModeRunner> runner_;
    int64_t baselineObjects_ = 0;
    int64_t baselineBytes_ = 0;
    zv::testing::Scope seams_;
};

}  // namespace modes_test

#endif
