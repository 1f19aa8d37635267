// Shared helpers of the mode tests.
#include "mode_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "modes/calibration_mode.h"
#include "modes/free_mode.h"
#include "modes/run_state.h"
#include "modes/web_mode.h"
#include "torvane/describe_pipe_app.h"

namespace modes_test {

std::filesystem::path FileSpace::ServerFolder(uint32_t serial) const {
    auto folder = Path() / ("SN" + std::to_string(serial));
    std::filesystem::create_directories(folder);
    return folder;
}

std::string SettingsXml(const SettingsShape& shape) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\"?>\n<SensorGroup>\n  <Name>System</Name>\n"
      << "  <OutputBatchCount>1</OutputBatchCount>\n"
      << "  <EncoderResolution>" << shape.encoderResolution << "</EncoderResolution>\n"
      << "  <OutputInterval>0</OutputInterval>\n  <DetectionThreshold>20</DetectionThreshold>\n"
      << "  <OverlapFilterEnable>1</OverlapFilterEnable>\n  <IoStateOutputEnable>1</IoStateOutputEnable>\n"
      << "  <ObstructionY>0</ObstructionY>\n  <VideoStyle>0</VideoStyle>\n  <VideoExposure>0</VideoExposure>\n"
      << "  <MaxSlices>" << shape.maxSlices << "</MaxSlices>\n  <CalibrationTarget>\n";
    for (const zvPoint32s& v : shape.target) {
        x << "    <Vertex><X>" << v.x << ".000000</X><Y>" << v.y << ".000000</Y></Vertex>\n";
    }
    x << "  </CalibrationTarget>\n  <Capture><Enabled>0</Enabled><Source>0</Source><Divisor>1</Divisor></Capture>\n"
      << "  <Members>\n    <SensorGroup>\n      <Name>0</Name>\n      <Members>\n";
    for (const Sensor& s : shape.sensors) {
        x << "        <Sensor><Name>" << s.name << "</Name><SerialNumber>" << s.serial << "</SerialNumber><Enabled>"
          << s.enabled << "</Enabled><VertexView>" << s.vertexView
          << "</VertexView><Orientation>0</Orientation><Multiplex>0</Multiplex>"
          << "<DetectionThreshold>15</DetectionThreshold><Exposure>0</Exposure></Sensor>\n";
    }
    x << "      </Members>\n    </SensorGroup>\n  </Members>\n</SensorGroup>\n";
    return x.str();
}

void WriteSettings(const FileSpace& files, uint32_t server, const SettingsShape& shape) {
    files.ServerFolder(server);
    files.Write("SN" + std::to_string(server) + "/Settings.xml", SettingsXml(shape));
}

zvHandle MakeArray(int32_t elementType, const std::vector<int32_t>& lengths, const void* bytes, size_t size) {
    zvHandle array = nullptr;
    EXPECT_GT(zvArrayCreate(&array, nullptr, elementType, static_cast<int32_t>(lengths.size()), lengths.data()), 0);
    if (array == nullptr) return nullptr;
    const int64_t total = zvArrayByteSize(array);
    if (bytes != nullptr && size > 0 && total > 0) {
        void* data = nullptr;
        switch (lengths.size()) {
            case 1: data = zvArray1Data(array); break;
            case 2: data = zvArray2At(array, 0, 0); break;
            default: data = zvArray3Data(array); break;
        }
        std::memcpy(data, bytes, std::min<size_t>(size, static_cast<size_t>(total)));
    }
    return array;
}

zvHandle MakeResult(int64_t id, const std::vector<int64_t>& attributes, const std::vector<zvHandle>& arrays) {
    zvHandle result = nullptr;
    EXPECT_GT(zvResultCreate(&result, nullptr), 0);
    EXPECT_GT(zvResultInit(result, id, attributes.data(), static_cast<int32_t>(attributes.size())), 0);
    for (zvHandle array : arrays) EXPECT_GT(zvResultAddData(result, array), 0);
    return result;
}

zvHandle ProfileResult(uint32_t serial, int32_t scale, const zvStamp& stamp, const std::vector<ProfilePoint>& points,
                       const std::vector<std::vector<uint8_t>>& intensityRows) {
    const auto n = static_cast<int32_t>(points.size());
    const auto rows = static_cast<int32_t>(intensityRows.size());
    zvHandle stamps = MakeArray(ZV_TYPE_STAMP, {1}, &stamp, sizeof stamp);
    std::vector<int16_t> xy;
    for (const ProfilePoint& p : points) {
        xy.push_back(p.x);
        xy.push_back(p.y);
    }
    zvHandle pointArray = MakeArray(ZV_TYPE_INT16, {n, 2}, xy.data(), xy.size() * sizeof(int16_t));
    std::vector<uint8_t> cells(static_cast<size_t>(n) * static_cast<size_t>(rows), 0);
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t r = 0; r < rows; ++r) {
            const auto& row = intensityRows[static_cast<size_t>(r)];
            if (static_cast<size_t>(j) < row.size())
                cells[static_cast<size_t>(j * rows + r)] = row[static_cast<size_t>(j)];
        }
    }
    zvHandle intensities = MakeArray(ZV_TYPE_UINT8, {n, rows}, cells.data(), cells.size());
    return MakeResult(0, {static_cast<int64_t>(serial), scale}, {stamps, pointArray, intensities});
}

zvHandle WebResult(const std::vector<int64_t>& attributes, const std::vector<std::vector<int32_t>>& rows) {
    const auto r = static_cast<int32_t>(rows.size());
    const auto c = r > 0 ? static_cast<int32_t>(rows[0].size()) : 0;
    std::vector<int32_t> cells;
    for (const auto& row : rows) cells.insert(cells.end(), row.begin(), row.end());
    return MakeResult(5, attributes, {MakeArray(ZV_TYPE_INT32, {r, c}, cells.data(), cells.size() * 4)});
}

zvHandle MakeApp(const std::vector<ModeEntry>& modes) {
    zvHandle app = nullptr;
    EXPECT_GT(zvPipeAppCreate(&app, nullptr), 0);
    EXPECT_GT(zvPipeAppInit(app, "client"), 0);
    EXPECT_GT(zvPipeAppSetVersion(app, 6, 2), 0);
    for (const ModeEntry& shape : modes) {
        zvHandle mode = nullptr;
        EXPECT_GT(zvPipeModeCreate(&mode, nullptr), 0);
        EXPECT_GT(zvPipeModeInit(mode, shape.name.c_str()), 0);
        EXPECT_GT(zvPipeModeSetStartHandler(mode, shape.start), 0);
        EXPECT_GT(zvPipeModeSetProcessHandler(mode, shape.process), 0);
        EXPECT_GT(zvPipeModeSetStopHandler(mode, shape.stop), 0);
        for (const auto& [name, kind] : shape.displays) EXPECT_GT(zvPipeModeAddDisplay(mode, name.c_str(), kind), 0);
        for (const auto& name : shape.parameters) EXPECT_GT(zvPipeModeAddParameter(mode, name.c_str(), 0), 0);
        EXPECT_GT(zvPipeModeSetInputStyle(mode, 2), 0);
        EXPECT_GT(zvPipeAppAddMode(app, mode), 0);
    }
    return app;
}

std::vector<std::pair<std::string, std::string>> TableRows(zvHandle table) {
    std::vector<std::pair<std::string, std::string>> rows;
    if (zvArrayListCount(table) != 2 || zvArrayListItemType(table) != ZV_TYPE_ARRAYLIST) return rows;
    zvHandle names = *static_cast<zvHandle*>(zvArrayListAt(table, 0));
    zvHandle values = *static_cast<zvHandle*>(zvArrayListAt(table, 1));
    const int32_t n = zvArrayListCount(names);
    if (n != zvArrayListCount(values)) return rows;
    for (int32_t i = 0; i < n; ++i) {
        const char* name = zvStringChars(*static_cast<zvHandle*>(zvArrayListAt(names, i)));
        const char* value = zvStringChars(*static_cast<zvHandle*>(zvArrayListAt(values, i)));
        rows.emplace_back(name ? name : "(null)", value ? value : "(null)");
    }
    return rows;
}

std::string TableValue(zvHandle table, const std::string& name) {
    for (const auto& [n, v] : TableRows(table)) {
        if (n == name) return v;
    }
    return "";
}

GraphicInfo ReadGraphic(zvHandle graphic) {
    GraphicInfo g;
    const char* label = zvDataLabel(graphic);
    g.label = label ? label : "";
    for (int32_t i = 0; i < zvGraphicPenCount(graphic); ++i) {
        zvPen pen{};
        zvGraphicPenAt(graphic, i, &pen);
        g.pens.push_back(pen);
    }
    for (int32_t i = 0; i < zvGraphicBrushCount(graphic); ++i) {
        uint32_t argb = 0;
        zvGraphicBrushAt(graphic, i, &argb);
        g.brushes.push_back(argb);
    }
    for (int32_t i = 0; i < zvGraphicMarkerCount(graphic); ++i) {
        zvMarker marker{};
        zvGraphicMarkerAt(graphic, i, &marker);
        g.markers.push_back(marker);
    }
    for (int32_t i = 0; i < zvGraphicFontCount(graphic); ++i) {
        zvFont font{};
        zvGraphicFontAt(graphic, i, &font);
        g.fonts.push_back(font);
    }
    for (int32_t i = 0; i < zvGraphicDrawingCount(graphic); ++i) {
        zvDrawing d{};
        zvGraphicDrawingAt(graphic, i, &d);
        DrawingInfo info{d.kind, d.pen, d.brush, d.marker, d.font, {}, d.text ? d.text : ""};
        info.points.assign(d.points, d.points + d.count);
        g.drawings.push_back(std::move(info));
    }
    return g;
}

PlotInfo ReadPlot(zvHandle plot) {
    PlotInfo p{};
    const char* label = zvDataLabel(plot);
    p.label = label ? label : "";
    p.title = zvPlotTitle(plot) ? zvPlotTitle(plot) : "";
    p.xTitle = zvPlotXTitle(plot) ? zvPlotXTitle(plot) : "";
    p.yTitle = zvPlotYTitle(plot) ? zvPlotYTitle(plot) : "";
    zvPlotWorld(plot, &p.world[0], &p.world[1], &p.world[2], &p.world[3]);
    int32_t set = 0;
    zvPlotBackColor(plot, &p.back, &set);
    p.backSet = set != 0;
    for (int32_t i = 0; i < zvPlotItemCount(plot); ++i) {
        zvHandle item = zvPlotItemAt(plot, i);
        if (zvObjectIs(item, ZV_TYPE_GRAPHIC)) p.graphics.push_back(ReadGraphic(item));
        if (zvObjectIs(item, ZV_TYPE_IMAGE)) ++p.images;
    }
    return p;
}

}  // namespace modes_test

namespace modes_test {

void ModeTest::SetUp() {
    baselineObjects_ = zv::testing::LiveObjects();
    baselineBytes_ = zv::testing::LiveBytes();
    files_.ServerFolder(kServer);
    UseModes({});
}

void ModeTest::UseModes(const std::vector<ModeEntry>& extra) {
    runner_.reset();
    // The plug-in's own description, so that the tests run the modes as the
    // host gets them; test modes after it.
    ASSERT_GT(DescribePipeApp(app_.Out()), 0);
    for (const ModeEntry& shape : extra) {
        zv::OwnedPipeMode mode;
        ASSERT_GT(zvPipeModeCreate(mode.Out(), nullptr), 0);
        ASSERT_GT(zvPipeModeInit(mode, shape.name.c_str()), 0);
        ASSERT_GT(zvPipeModeSetStartHandler(mode, shape.start), 0);
        ASSERT_GT(zvPipeModeSetProcessHandler(mode, shape.process), 0);
        ASSERT_GT(zvPipeModeSetStopHandler(mode, shape.stop), 0);
        for (const auto& [name, kind] : shape.displays) ASSERT_GT(zvPipeModeAddDisplay(mode, name.c_str(), kind), 0);
        for (const auto& name : shape.parameters) ASSERT_GT(zvPipeModeAddParameter(mode, name.c_str(), 0), 0);
        ASSERT_GT(zvPipeAppAddMode(app_, mode), 0);
        mode.Release();  // the app's now
    }
    runner_ = std::make_unique<zv::runner::ModeRunner>(app_);
    ASSERT_GT(runner_->AddServer(kServer), 0);
}

void ModeTest::TearDown() {
    zv::testing::ClearFaults();
    runner_.reset();
    app_.Reset();
    EXPECT_EQ(zv::testing::LiveObjects(), baselineObjects_) << "objects left alive";
    EXPECT_EQ(zv::testing::LiveBytes(), baselineBytes_) << "bytes left allocated";
}

std::vector<zvHandle> ModeTest::Objects() const {
    std::vector<zvHandle> objects;
    for (const auto& o : runner_->Outputs()) objects.push_back(o.object);
    return objects;
}

}  // namespace modes_test
