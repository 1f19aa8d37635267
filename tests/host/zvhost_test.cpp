// zvhost run as a process, as users run it.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "support/temp_space.hpp"
#include "zvhost_process.hpp"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace {

using nlohmann::json;

using Result = zvhosttest::ZvhostResult;
using zvhosttest::HaveTorvane;

Result Zvhost(const std::string& arguments) { return zvhosttest::RunZvhost(arguments); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }
std::string Echo() { return "--plugin " + Quote(ECHO_PLUGIN); }
std::string Torvane() { return "--plugin " + Quote(TORVANE_PLUGIN); }

// A file space with the demonstration station.
void MakeStation(const zvtest::TempFileSpace& folder) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(folder.Path(), 4, 1, &created, &error)) << error;
}

// One recorded profile of sensor 1000: `n` points on a line, with stamp
// encoder 4242.
std::string ProfileLine(int n) {
    json points = json::array();
    json intensity = json::array();
    for (int i = 0; i < n; ++i) {
        points.push_back(-5000 + 10 * i);
        points.push_back(9000);
        intensity.push_back(100 + i % 100);
    }
    json line = {{"id", 0},
                 {"attributes", {1000, 1}},
                 {"data",
                  {{{"type", "stamp"}, {"dims", {1}}, {"values", {4242, 1000000, 1}}},
                   {{"type", "int16"}, {"dims", {n, 2}}, {"values", points}},
                   {{"type", "uint8"}, {"dims", {n, 1}}, {"values", intensity}}}}};
    return line.dump();
}

TEST(Zvhost, DescribesThePipeApp) {
    Result r = Zvhost(Echo() + " describe --json");
    ASSERT_EQ(r.code, 0) << r.err;
    // The test plug-in has no node or page exports: said, not fatal.
    EXPECT_EQ(r.Of("plugin").size(), 2u);
    const std::vector<json> events = r.Events();
    ASSERT_FALSE(events.empty());
    const json& app = events.back();
    EXPECT_EQ(app["name"], "echo");
    ASSERT_EQ(app["modes"].size(), 2u);
    EXPECT_EQ(app["modes"][0]["name"], "Free");
    EXPECT_EQ(app["modes"][0]["displays"][0], json({{"name", "Table"}, {"kind", 3}, {"shows", "table"}}));
    EXPECT_EQ(app["modes"][0]["parameters"][0]["name"], "Gain");
    EXPECT_EQ(app["modes"][0]["inputStyle"], 2);

    Result text = Zvhost(Echo() + " describe");
    ASSERT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("display \"Plot\": plot (kind 2)"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("no TorvaneNodeCreate"), std::string::npos) << text.err;
}

TEST(Zvhost, DescribesTorvane) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    Result r = Zvhost(Torvane() + " describe --json");
    ASSERT_EQ(r.code, 0) << r.err;
    const json app = r.Events().back();
    EXPECT_EQ(app["name"], "client");
    EXPECT_EQ(app["version"], json({{"major", 6}, {"minor", 2}}));
    std::vector<std::string> names;
    for (const json& m : app["modes"]) names.push_back(m["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"Free", "Calibration", "Detection", "Web", "Video"}));
    EXPECT_EQ(app["modes"][2]["displays"][0], json({{"name", "Detection"}, {"kind", 0}, {"shows", "polar model"}}));

    // Without --plugin, the library beside the program is loaded.
    Result beside = Zvhost("describe --json");
    ASSERT_EQ(beside.code, 0) << beside.err;
    EXPECT_EQ(beside.Events().back(), app);
}

TEST(Zvhost, BadInputGetsAMessageAndAFailingExit) {
    zvtest::TempFileSpace files;
    MakeStation(files);
    zvtest::TempFileSpace empty;
    zvtest::TempFileSpace bad;
    const std::string input = bad / "bad.jsonl";
    std::ofstream(input) << ProfileLine(3) << "\n{\"id\": 0, \"data\": 7}\n";
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"--plugin /nonexistent/libtorvane.so describe", "plug-in not found"},
        {"--plugin " + Quote(BARE_PLUGIN) + " describe", "no export TorvaneDescribePipeApp"},
        {Echo() + " run Sleep --files " + Quote(files.Path()), "unknown mode \"Sleep\"; the modes are: Free, Broken"},
        {Echo() + " run Free --param Speed=3 --files " + Quote(files.Path()), "has no parameter \"Speed\""},
        {Echo() + " run Free --param Gain=x --files " + Quote(files.Path()), "is not a 32-bit integer"},
        {Echo() + " run Free --files " + Quote(empty.Path()), "holds no server"},
        {Echo() + " run Free --input " + Quote(input) + " --files " + Quote(files.Path()), "line 2: \"data\""},
        {Echo() + " run Free --input /nonexistent.jsonl --files " + Quote(files.Path()), "cannot open"},
        {Echo() + " run Broken --param Fail=1 --files " + Quote(files.Path()),
         "start handler of mode \"Broken\" returned -995"},
        {Echo() + " run", "MODE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        Result r = Zvhost(c.arguments);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// init declares where each server is; a host that cannot reach a server
// on the network says so, and runs on with the others.
TEST(Zvhost, InitDeclaresServersInProcessAndOnTheNetwork) {
    zvtest::TempFileSpace files;
    MakeStation(files);
    Result init = Zvhost("init --files " + Quote(files.Path()) + " --servers 1,2=tcp://127.0.0.1:5602");
    ASSERT_EQ(init.code, 0) << init.err;
    EXPECT_EQ(files.Read("station.json"), "{\"servers\":[1,{\"endpoint\":\"tcp://127.0.0.1:5602\",\"serial\":2}]}\n");
    Result run = Zvhost(Echo() + " run Free --batches 2 --json --files " + Quote(files.Path()));
    EXPECT_EQ(run.code, 0) << run.err;
    const std::vector<nlohmann::json> lost = run.Of("server");
    ASSERT_EQ(lost.size(), 1u) << run.out;
    EXPECT_EQ(lost[0]["change"], "offline");
    EXPECT_NE(lost[0]["text"].get<std::string>().find("tcp://127.0.0.1:5602 does not answer"), std::string::npos);

    for (const char* servers : {"1=tcp://127.0.0.1", "1=tcp://127.0.0.1:5601 --keys 1=nokey", "1 --keys 1=nokey"}) {
        SCOPED_TRACE(servers);
        Result refused = Zvhost("init --files " + Quote(files.Path()) + " --servers " + servers);
        EXPECT_NE(refused.code, 0);
        EXPECT_FALSE(refused.err.empty());
        EXPECT_NE(files.Read("station.json").find("5602"), std::string::npos) << "the description changed";
    }
}

TEST(Zvhost, RunsAModeOnTheSimulatorWithEventsAndPictures) {
    zvtest::TempFileSpace files;
    MakeStation(files);
    zvtest::TempFileSpace out;
    Result r = Zvhost(Echo() + " run Free --param Gain=9 --batches 3 --points 1500 --json --files " +
                      Quote(files.Path()) + " --out " + Quote(out.Path()));
    ASSERT_EQ(r.code, 0) << r.err;
    // The pipes are switched station first, then client; the start asks to read.
    const auto modes = r.Of("mode");
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0]["pipe"], "station");
    EXPECT_EQ(modes[1]["pipe"], "client");
    ASSERT_EQ(r.Of("read").size(), 1u);
    EXPECT_EQ(r.Of("read")[0]["server"], 1);
    EXPECT_EQ(r.Of("console")[0]["text"], "echo started\n");
    // Three batches of four profiles: twelve of each output.
    const auto tables = r.Of("output", "Table");
    ASSERT_EQ(tables.size(), 12u);
    EXPECT_EQ(tables[0]["content"]["rows"][2], json({"Gain", "9"}));
    const auto plots = r.Of("output", "Plot");
    ASSERT_EQ(plots.size(), 12u);
    EXPECT_EQ(plots[0]["content"]["graphics"][0]["points"], 1500);
    EXPECT_EQ(plots[0]["content"]["backColour"], "#FF102030");
    const auto handlers = r.Of("handler");
    ASSERT_EQ(handlers.size(), 5u);
    EXPECT_EQ(handlers.front()["phase"], "start");
    EXPECT_EQ(handlers.back()["phase"], "stop");
    const json summary = r.Of("summary").at(0);
    EXPECT_EQ(summary["batches"], 3);
    EXPECT_EQ(summary["failedBatches"], 0);
    for (const char* name : {"Free-Plot.png", "Free-Plot.svg", "Free-Picture.png", "Free-Table.json", "Free-Table.txt"})
        EXPECT_TRUE(std::filesystem::exists(out.Path() / name)) << name;
    std::ifstream table(out.Path() / "Free-Table.json");
    const json written = json::parse(table);
    EXPECT_EQ(written["columns"], json({"name", "value"}));
}

TEST(Zvhost, ReplaysRecordedResults) {
    zvtest::TempFileSpace files;
    MakeStation(files);
    zvtest::TempFileSpace rec;
    const std::string input = rec / "profile.jsonl";
    std::ofstream(input) << "# one profile\n" << ProfileLine(37) << "\n\n" << ProfileLine(5) << "\n";
    Result r = Zvhost(Echo() + " run Free --json --input " + Quote(input) + " --files " + Quote(files.Path()));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto plots = r.Of("output", "Plot");
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[0]["content"]["graphics"][0]["points"], 37);
    EXPECT_EQ(plots[1]["content"]["graphics"][0]["points"], 5);
    EXPECT_EQ(r.Of("summary").at(0)["batches"], 2);
}

TEST(Zvhost, FreeShowsARecordedProfile) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace files;
    MakeStation(files);
    zvtest::TempFileSpace rec;
    const std::string input = rec / "profile.jsonl";
    std::ofstream(input) << ProfileLine(64) << "\n";
    Result r = Zvhost(Torvane() + " run Free --param SelectedSensor=1000 --param NumSensors=4 --json --input " +
                      Quote(input) + " --files " + Quote(files.Path()));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto encoder = r.Of("output", "Encoder");
    ASSERT_FALSE(encoder.empty()) << r.out;
    const std::string rows = encoder.back()["content"]["rows"].dump();
    EXPECT_NE(rows.find("4242"), std::string::npos) << rows;
    const auto plots = r.Of("output", "Free");
    ASSERT_FALSE(plots.empty()) << r.out;
    // The selected sensor's view holds the profile's 64 points.
    int64_t points = 0;
    for (const json& g : plots.back()["content"]["graphics"]) points = std::max<int64_t>(points, g["points"]);
    EXPECT_EQ(points, 64) << plots.back().dump();
    EXPECT_FALSE(r.Of("output", "Intensity").empty());
}

TEST(Zvhost, DetectionReportsObjects) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace files;
    MakeStation(files);
    Result r = Zvhost(Torvane() + " run Detection --seconds 2.5 --json --files " + Quote(files.Path()));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto statistics = r.Of("output", "Statistics");
    ASSERT_GE(statistics.size(), 2u) << r.out.substr(0, 2000);
    const auto models = r.Of("output", "Detection");
    ASSERT_GE(models.size(), 2u);
    EXPECT_GT(models[0]["content"]["slices"].get<int>(), 10);
    EXPECT_EQ(r.Of("summary").at(0)["failedBatches"], 0);
}

// A refused document is named with its line and what is wrong, and a run
// whose handler failed ends with status 1 naming the first failing batch.
TEST(Zvhost, FailuresSayWhyAndWhichBatch) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace files;
    MakeStation(files);
    // A sensor's name that is no UTF-8 text: the station reads past it,
    // the plug-in refuses the document.
    const std::string settings = files.Read("SN1/Settings.xml");
    std::string bad = settings;
    const size_t at = bad.find("<Name>A</Name>");
    ASSERT_NE(at, std::string::npos);
    bad.replace(at, 14, "<Name>A\xFF</Name>");
    files.Write("SN1/Settings.xml", bad);
    const std::string line = std::to_string(1 + std::count(bad.begin(), bad.begin() + static_cast<long>(at), '\n'));
    Result start = Zvhost(Torvane() + " run Free --batches 1 --files " + Quote(files.Path()));
    EXPECT_EQ(start.code, 1);
    EXPECT_NE(start.err.find("the start handler of mode \"Free\" returned -8: \"\\SN1\\Settings.xml\": line " + line +
                             ": bytes that are not UTF-8 text"),
              std::string::npos)
        << start.err;

    files.Write("SN1/Settings.xml", settings);
    zvtest::TempFileSpace rec;
    const std::string input = rec / "profiles.jsonl";
    // The second profile has no points: Free refuses it.
    std::ofstream(input) << ProfileLine(5) << "\n"
                         << R"({"id": 0, "attributes": [1000, 1], "data": []})"
                         << "\n"
                         << ProfileLine(5) << "\n";
    Result batch = Zvhost(Torvane() + " run Free --input " + Quote(input) + " --files " + Quote(files.Path()));
    EXPECT_EQ(batch.code, 1);
    EXPECT_NE(batch.err.find("batch 2: the process handler of mode \"Free\" returned -9"), std::string::npos)
        << batch.err;
    EXPECT_NE(batch.out.find("first: batch 2"), std::string::npos) << batch.out;
    Result json = Zvhost(Torvane() + " run Free --json --input " + Quote(input) + " --files " + Quote(files.Path()));
    EXPECT_EQ(json.code, 1);
    EXPECT_EQ(json.Of("summary").at(0)["firstFailedBatch"], 2);
    EXPECT_EQ(json.Of("summary").at(0)["failedBatches"], 1);
}

// With --full every output carries every number it holds: a script can
// check the points, radii and pixels without reading pictures.
TEST(Zvhost, FullEventsCarryEveryNumber) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace files;
    MakeStation(files);
    zvtest::TempFileSpace rec;
    const std::string input = rec / "profile.jsonl";
    std::ofstream(input) << ProfileLine(3) << "\n";
    Result free = Zvhost(Torvane() + " run Free --param SelectedSensor=1000 --json --full --input " + Quote(input) +
                         " --files " + Quote(files.Path()));
    ASSERT_EQ(free.code, 0) << free.err;
    const json plot = free.Of("output", "Free").back()["content"];
    json drawn;
    for (const json& g : plot["graphics"])
        if (g["points"] == 3) drawn = g["drawings"][0]["points"];
    EXPECT_EQ(drawn, json({{-5000, 9000}, {-4990, 9000}, {-4980, 9000}})) << plot.dump();
    const json image = free.Of("output", "Intensity").back()["content"];
    EXPECT_EQ(image["pixels"], "ZGVm");  // the intensities 100, 101, 102
    Result brief = Zvhost(Torvane() + " run Free --param SelectedSensor=1000 --json --input " + Quote(input) +
                          " --files " + Quote(files.Path()));
    EXPECT_FALSE(brief.Of("output", "Intensity").back()["content"].contains("pixels"));

    Result detection = Zvhost(Torvane() + " run Detection --seconds 2.5 --json --full --files " + Quote(files.Path()));
    ASSERT_EQ(detection.code, 0) << detection.err;
    const json model = detection.Of("output", "Detection").at(0)["content"];
    ASSERT_EQ(model["radii"].size(), model["slices"].get<size_t>());
    EXPECT_EQ(model["radii"][0].size(), 360u);
    EXPECT_EQ(model["centres"].size(), model["radii"].size());
}

TEST(Zvhost, DemoWritesPicturesOfEveryMode) {
    const bool torvane = HaveTorvane();
    zvtest::TempFileSpace out;
    Result r = Zvhost((torvane ? Torvane() : Echo()) + " demo --seconds 1.5 --out " + Quote(out.Path()));
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("4 sensors"), std::string::npos) << r.out;
    int pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out.Path())) {
        if (entry.path().extension() != ".png") continue;
        ++pictures;
        cairo_surface_t* png = cairo_image_surface_create_from_png(entry.path().c_str());
        ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS) << entry.path();
        const int w = cairo_image_surface_get_width(png);
        const int h = cairo_image_surface_get_height(png);
        cairo_surface_destroy(png);
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        if (name == "Detection-Detection.png") {
            EXPECT_EQ(w, 1200);
            EXPECT_EQ(h, 500);
        } else if (name == "Free-Picture.png") {
            EXPECT_EQ(w, 64);
            EXPECT_EQ(h, 64);
        } else if (name == "Free-Intensity.png") {
            EXPECT_GE(w, 1024);
            EXPECT_EQ(h, 64);
        } else {
            EXPECT_EQ(w, 800);
            EXPECT_EQ(h, 600);
        }
    }
    EXPECT_GE(pictures, torvane ? 5 : 2);
    if (torvane) {
        for (const char* name : {"Free-Free.png", "Detection-Detection.png", "Web-Web.png", "Video-Video_0.png",
                                 "Calibration-Calibration.png"})
            EXPECT_TRUE(std::filesystem::exists(out.Path() / name)) << name;
    }
}

}  // namespace
