// zvhost init, tree and page as a user runs them: the station tree built
// through the plug-in, and pages driven by scripts.
#include <gtest/gtest.h>

#include <cairo.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "support/temp_space.hpp"
#include "zvhost_process.hpp"
#include "zvstation/station.hpp"

namespace {

using nlohmann::json;

using Outcome = zvhosttest::ZvhostResult;
using zvhosttest::HaveTorvane;

Outcome Zvhost(const std::string& arguments) {
    return zvhosttest::RunZvhost(std::string("--plugin '") + TORVANE_PLUGIN + "' " + arguments);
}

std::vector<std::string> Paths(const json& tree) {
    std::vector<std::string> paths;
    for (const json& n : tree["nodes"]) paths.push_back(n["path"]);
    return paths;
}

class ZvhostTree : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    }
    zvtest::TempFileSpace space{"zvhost-tree", zvtest::TempFileSpace::Root::kLeave};
    std::string Files() const { return "--files '" + space.Path().string() + "'"; }
};

TEST_F(ZvhostTree, TheDemoStationsTree) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    // A mask folder named after a sensor is no server.
    std::filesystem::create_directory(space.Path() / "SN1001");
    Outcome r = Zvhost("tree --json " + Files());
    ASSERT_EQ(r.code, 0) << r.err;
    const json tree = r.Of("tree").at(0);
    EXPECT_EQ(Paths(tree), (std::vector<std::string>{"Capture", "SN1", "SN1/A", "SN1/B", "SN1/C", "SN1/D"}));
    const json& server = tree["nodes"][1];
    EXPECT_EQ(server["serial"], 1);
    EXPECT_EQ(server["limited"], false);
    ASSERT_EQ(server["pages"].size(), 6u);
    EXPECT_EQ(server["pages"][5], json({{"id", 1022}, {"name", "Setup"}}));
    EXPECT_EQ(tree["nodes"][3]["parent"], "SN1");
    EXPECT_EQ(tree["nodes"][3]["pages"][0], json({{"id", 1019}, {"name", "Free"}}));
    // Unique views in the demo: no warning.
    EXPECT_TRUE(r.Of("report").empty());

    Outcome text = Zvhost("tree " + Files());
    ASSERT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("    SN1/B (sensor): 1019 \"Free\""), std::string::npos) << text.out;
}

TEST_F(ZvhostTree, InitThenSystemConfigCreatesTheSettings) {
    Outcome init = Zvhost("init " + Files() + " --servers 5");
    ASSERT_EQ(init.code, 0) << init.err;
    Outcome before = Zvhost("tree --json " + Files());
    ASSERT_EQ(before.code, 0) << before.err;
    const json limited = before.Of("tree").at(0)["nodes"][1];
    EXPECT_EQ(limited["path"], "SN5");
    EXPECT_EQ(limited["limited"], true);
    EXPECT_EQ(limited["pages"], json::parse(R"([{"id": 1022, "name": "Setup"}])"));

    space.Write("script", "type \"Sensors:\" 49\nclick \"Create Settings.xml\"\ntype 1025 4\nclick 1013\n");
    Outcome page = Zvhost("page --json " + Files() + " --node SN5 --page Setup --script '" + (space / "script") + "'");
    ASSERT_EQ(page.code, 0) << page.err;
    ASSERT_EQ(page.Of("messagebox").size(), 1u);
    EXPECT_EQ(page.Of("messagebox")[0]["text"], "Invalid number of sensors entered!");
    // Why the node offers only this page: a notice, as the file is missing.
    ASSERT_FALSE(page.Of("report").empty());
    EXPECT_EQ(page.Of("report")[0],
              json({{"event", "report"},
                    {"kind", "text"},
                    {"node", "SN5"},
                    {"text", "SN5 is limited to its Setup page: no Settings.xml (\\SN5\\Settings.xml)"}}));
    ASSERT_EQ(page.Of("file").size(), 1u);
    EXPECT_EQ(page.Of("file")[0]["path"], "SN5/Settings.xml");
    // The page's NotifyHost builds the tree again, with the new sensors.
    ASSERT_EQ(page.Of("tree").size(), 1u);
    EXPECT_EQ(Paths(page.Of("tree")[0]),
              (std::vector<std::string>{"Capture", "SN5", "SN5/A", "SN5/B", "SN5/C", "SN5/D"}));
    // The client pipe is off while the page is current, on again after.
    const auto enabled = page.Of("enabled");
    ASSERT_EQ(enabled.size(), 2u);
    EXPECT_FALSE(enabled[0]["on"]);
    EXPECT_TRUE(enabled[1]["on"]);

    Outcome after = Zvhost("tree --json " + Files());
    EXPECT_EQ(Paths(after.Of("tree").at(0)).size(), 6u);
}

TEST_F(ZvhostTree, ASensorsFreePagePlaysThatSensor) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    space.Write("play", "play 1\n");
    Outcome r = Zvhost("page --json " + Files() + " --node SN1/C --page Free --script - < '" + (space / "play") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto parameters = r.Of("parameters");
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0]["values"], json::parse("[1002, 4]"));
    std::set<std::string> labels;
    int plots = 0;
    for (const json& o : r.Of("output")) {
        if (o["display"] != "Free") continue;
        ++plots;
        for (const json& g : o["content"]["graphics"]) labels.insert(g["label"]);
    }
    EXPECT_GT(plots, 10);
    EXPECT_EQ(labels, (std::set<std::string>{"1002"}));
}

// The integer of element `element` in the entry of sensor `sensor` of a
// settings text; INT32_MIN when it has none.
int32_t SensorElement(const std::string& settings, const std::string& sensor, const std::string& element) {
    const size_t entry = settings.find("<Name>" + sensor + "</Name>");
    if (entry == std::string::npos) return INT32_MIN;
    const size_t next = settings.find("<Name>", entry + 1);
    const size_t at = settings.find("<" + element + ">", entry);
    if (at == std::string::npos || at > next) return INT32_MIN;
    return std::stoi(settings.substr(at + element.size() + 2));
}

// The size of a PNG file; 0 x 0 when it does not decode.
std::pair<int, int> PngSize(const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    std::pair<int, int> size{0, 0};
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS)
        size = {cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface)};
    cairo_surface_destroy(surface);
    return size;
}

// Pixels of a rectangle of a PNG file that are not black.
int Lit(const std::string& path, int x, int y, int w, int h) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    int lit = 0;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_width(surface) >= x + w &&
        cairo_image_surface_get_height(surface) >= y + h) {
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i)
                lit += (reinterpret_cast<const uint32_t*>(data + j * stride)[i] & 0xFFFFFF) != 0 ? 1 : 0;
    }
    cairo_surface_destroy(surface);
    return lit;
}

TEST_F(ZvhostTree, TheCalibrationPagesSetUpAStation) {
    ASSERT_EQ(Zvhost("init " + Files() + " --servers 1").code, 0);
    space.Write("config", "type \"Sensors:\" 4\nclick \"Create Settings.xml\"\n");
    ASSERT_EQ(Zvhost("page " + Files() + " --node SN1 --page Setup --script '" + (space / "config") + "'").code, 0);
    const std::string warning = "Each sensor has to be assigned a unique vertex view!";
    Outcome before = Zvhost("tree --json " + Files());
    ASSERT_EQ(before.Of("report").size(), 1u);
    EXPECT_EQ(before.Of("report")[0]["text"], warning);

    auto page = [&](const std::string& node, const std::string& id, const std::string& script) {
        space.Write("script", script);
        Outcome r = Zvhost("page --json " + Files() + " --node " + node + " --page '" + id + "' --script '" +
                           (space / "script") + "'");
        EXPECT_EQ(r.code, 0) << r.err;
        return r;
    };
    const std::string pictures = space / "pictures";
    // Views 0 to 3 through the four sensors' Setup pages.
    for (int i = 0; i < 4; ++i) {
        const std::string sensor(1, static_cast<char>('A' + i));
        Outcome r = page("SN1/" + sensor, "Setup",
                         "select \"Vertex View\" " + std::to_string(i) + "\ntype \"Detection Threshold\" " +
                             std::to_string(30 + i) + "\nblur \"Detection Threshold\"\napply\npicture " + pictures +
                             "/setup-" + sensor + ".png\n");
        EXPECT_EQ(r.Of("modified").size(), 2u);  // the list choice and leaving the threshold
        EXPECT_EQ(r.Of("written").size(), 1u);
    }
    // A five-vertex target, then the calibration run.
    Outcome setup = page("SN1", "Calibration",
                         "type X: 100\ntype Y: -250\nclick \"Add Vertex\"\napply\npicture " + pictures +
                             "/system-setup.png\nout " + pictures + "/display\nplay 2\n");
    int outputs = 0;
    for (const json& o : setup.Of("output")) outputs += o["mode"] == "Calibration" ? 1 : 0;
    EXPECT_GT(outputs, 0);
    ASSERT_EQ(setup.Of("played").size(), 1u);
    EXPECT_EQ(setup.Of("played")[0]["mode"], "Calibration");
    for (const json& c : setup.Of("console"))
        EXPECT_EQ(c["text"].get<std::string>().find("vertex view"), std::string::npos) << c;
    EXPECT_TRUE(setup.Of("report").empty());
    // Sensor C's clipping box, typed.
    page("SN1/C", "1021",
         "type \"Min Y:\" \" -150\"\ntype \"Max Y:\" 9000\ntype \"Min X:\" 100\ntype \"Max X:\" -100\napply\n"
         "picture " +
             pictures + "/clipping.png\n");
    // One step of sensor 1002's rotation.
    space.Write("SN1/Calibration.xml",
                "<Calibration><S><SerialNumber>1001</SerialNumber><X>0</X><Y>0</Y><T>0</T></S>"
                "<S><SerialNumber>1002</SerialNumber><X>0.5</X><Y>0.25</Y><T>0.01</T></S></Calibration>");
    page("SN1", "Fine Calibration",
         "select \"Sensor\" \"01: S/N 1002\"\nclick 1050\npicture " + pictures + "/tuning.png\n");

    std::ifstream file(space.Path() / "SN1" / "Settings.xml");
    const std::string settings((std::istreambuf_iterator<char>(file)), {});
    for (int i = 0; i < 4; ++i) {
        const std::string sensor(1, static_cast<char>('A' + i));
        EXPECT_EQ(SensorElement(settings, sensor, "VertexView"), i) << sensor;
        EXPECT_EQ(SensorElement(settings, sensor, "DetectionThreshold"), 30 + i) << sensor;
    }
    EXPECT_EQ(SensorElement(settings, "C", "RangeClipMinY"), -150);
    EXPECT_EQ(SensorElement(settings, "C", "RangeClipMaxX"), -100);
    const size_t target = settings.find("<CalibrationTarget>");
    ASSERT_NE(target, std::string::npos);
    size_t vertices = 0;
    for (size_t at = settings.find("<Vertex>", target); at != std::string::npos; at = settings.find("<Vertex>", at + 1))
        ++vertices;
    EXPECT_EQ(vertices, 5u);
    EXPECT_NE(settings.find("<X>100</X>", target), std::string::npos);
    EXPECT_NE(settings.find("<Y>-250</Y>", target), std::string::npos);
    std::ifstream calibration(space.Path() / "SN1" / "Calibration.xml");
    const std::string coefficients((std::istreambuf_iterator<char>(calibration)), {});
    // Written as the shortest text that reads back as the same double.
    EXPECT_NE(coefficients.find("<T>0.011</T>"), std::string::npos) << coefficients;

    // No vertex-view warning any more, from the nodes or a mode start.
    Outcome after = Zvhost("tree --json " + Files());
    EXPECT_TRUE(after.Of("report").empty());
    Outcome run = Zvhost("run Calibration --json --seconds 0.5 " + Files());
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out.find("vertex view"), std::string::npos);

    // The target in display 0, its axes titled "mils" as the page set the
    // chart's axis texts: below the X axis's numbers, left of the Y axis's.
    const std::string display = pictures + "/display/Calibration-Calibration.png";
    EXPECT_EQ(PngSize(display), (std::pair{800, 600}));
    EXPECT_GT(Lit(display, 400, 578, 50, 16), 10);
    EXPECT_GT(Lit(display, 4, 280, 16, 40), 10);

    // A picture needs a file it can write.
    space.Write("file", "");
    for (const auto& [script, message] : {std::pair{"picture\n", "line 1: picture needs a file"},
                                          std::pair{"show\npicture FILE/p.png\n", "line 2: cannot create"}}) {
        std::string text = script;
        const size_t at = text.find("FILE");
        if (at != std::string::npos) text.replace(at, 4, space / "file");
        space.Write("script", text);
        Outcome r = Zvhost("page " + Files() + " --node SN1 --page Calibration --script '" + (space / "script") + "'");
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }

    for (const auto& [name, size] :
         {std::pair{"setup-A.png", std::pair{600, 292}}, std::pair{"setup-D.png", std::pair{600, 292}},
          std::pair{"system-setup.png", std::pair{600, 472}}, std::pair{"clipping.png", std::pair{600, 248}},
          std::pair{"tuning.png", std::pair{600, 248}}}) {
        EXPECT_EQ(PngSize(pictures + "/" + name), size) << name;
    }
}

// A page operation that fails is never only a status: the page says why,
// or, where it cannot know, the host adds the reason the platform kept.
TEST_F(ZvhostTree, APageThatFailsSaysWhy) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    // One byte that is no UTF-8 text in a sensor's name: the settings do
    // not read.
    std::string settings = space.Read("SN1/Settings.xml");
    const size_t at = settings.find("<Name>B</Name>");
    ASSERT_NE(at, std::string::npos);
    settings.replace(at, 14, "<Name>B\xE9</Name>");
    space.Write("SN1/Settings.xml", settings);
    space.Write("script", "apply\n");
    auto page = [&](const std::string& node, const std::string& id) {
        return Zvhost("page --json " + Files() + " --node " + node + " --page " + id + " --script '" +
                      (space / "script") + "'");
    };
    auto status = [](const Outcome& r, const std::string& action) {
        for (const json& e : r.Of("page"))
            if (e["action"] == action) return e["status"].get<int>();
        return 99;
    };

    // The capture page passes the platform's status back: the host tells
    // why, at Activate and again at Deactivate.
    Outcome capture = page("Capture", "1020");
    ASSERT_EQ(capture.code, 0) << capture.err;
    EXPECT_EQ(status(capture, "activate"), -8);
    ASSERT_EQ(capture.Of("report").size(), 2u) << capture.out;
    const std::string told = capture.Of("report")[0]["text"];
    EXPECT_EQ(told.rfind("Activate failed with status -8: \"\\SN1\\Settings.xml\": line ", 0), 0u) << told;
    EXPECT_NE(told.find("not UTF-8"), std::string::npos) << told;

    // A "Web" element without its "SyncResolution": the tree reads the
    // sensors, the Web page cannot read its settings. It tells so itself,
    // once, and its Apply writes nothing.
    std::string web = settings;
    web.replace(at, 15, "<Name>B</Name>");
    const size_t slices = web.find("<MaxSlices>0</MaxSlices>");
    ASSERT_NE(slices, std::string::npos);
    web.insert(slices, "<Web><SynchronizeMethod>1</SynchronizeMethod><XResolution>2.5</XResolution></Web>");
    space.Write("SN1/Settings.xml", web);
    Outcome run = page("SN1", "Web");
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(status(run, "activate"), 0);
    EXPECT_EQ(status(run, "apply"), -10);
    const std::vector<json> reports = run.Of("report");
    ASSERT_EQ(reports.size(), 2u) << run.out;
    EXPECT_EQ(reports[0]["text"], "Cannot read the settings of server 1: Settings.xml lacks an element it must have.");
    EXPECT_EQ(reports[1]["text"].get<std::string>().rfind("Nothing was written", 0), 0u);
    EXPECT_EQ(space.Read("SN1/Settings.xml"), web);
    space.Write("SN1/Settings.xml", settings);

    Outcome text = Zvhost("page " + Files() + " --node Capture --page 1020 --script '" + (space / "script") + "'");
    EXPECT_NE(text.out.find("  report (error): Activate failed with status -8: "), std::string::npos) << text.out;
}

TEST_F(ZvhostTree, WrongNodesPagesControlsAndActionsExitWithTwo) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    struct Case {
        std::string arguments;
        std::string message;
    };
    space.Write("nocontrol", "show\nclick 4242\n");
    space.Write("noaction", "wiggle 1013\n");
    space.Write("quote", "type \"Sensors: 4\n");
    space.Write("noitem", "select 1021 99\n");
    for (const Case& c :
         {Case{"--node SN9 --page Setup", "no node \"SN9\""}, Case{"--node SN1 --page 1016", "has no page \"1016\""},
          Case{"--node SN1 --page Wobble", "has no page \"Wobble\""},
          Case{"--node SN1 --page Setup --script '" + (space / "nocontrol") + "'",
               "line 2: page 1022 has no control \"4242\""},
          Case{"--node SN1 --page Setup --script '" + (space / "noaction") + "'", "line 1: no such action \"wiggle\""},
          Case{"--node SN1 --page Setup --script '" + (space / "quote") + "'", "line 1: a quote is not closed"},
          Case{"--node SN1/A --page Setup --script '" + (space / "noitem") + "'",
               "line 1: select on control 1021: the list has no such item"},
          Case{"--node SN1 --page Setup --script '" + (space / "missing") + "'", "cannot read the script"}}) {
        SCOPED_TRACE(c.arguments);
        Outcome r = Zvhost("page " + Files() + " " + c.arguments);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    Outcome noServers = Zvhost("tree --files '" + (space / "SN1") + "'");
    EXPECT_EQ(noServers.code, 2);
    EXPECT_NE(noServers.err.find("holds no server"), std::string::npos) << noServers.err;
    for (const char* list : {"", "1,,2", "x", "1,1", "4294967296"}) {
        Outcome bad = Zvhost("init " + Files() + " --servers '" + list + "'");
        EXPECT_EQ(bad.code, 2) << list;
    }
}

// The integer of element `element` in the entry of the sensor whose serial
// number is `serial`; INT32_MIN when there is none.
int32_t EntryElement(const std::string& settings, int serial, const std::string& element) {
    const size_t at = settings.find("<SerialNumber>" + std::to_string(serial) + "</SerialNumber>");
    if (at == std::string::npos) return INT32_MIN;
    const size_t begin = settings.rfind("<Sensor>", at);
    const size_t end = settings.find("</Sensor>", at);
    const size_t value = settings.find("<" + element + ">", begin);
    if (begin == std::string::npos || value == std::string::npos || value > end) return INT32_MIN;
    return std::stoi(settings.substr(value + element.size() + 2));
}

const json* NodeOf(const json& tree, const std::string& path) {
    for (const json& n : tree["nodes"])
        if (n["path"] == path) return &n;
    return nullptr;
}

// Two sensors of one name in one group: the plug-in finds a sensor by its
// name, so only the first can be reached. The second is shown, with the
// reason, as a node without pages; the first one's pages edit the first.
TEST_F(ZvhostTree, ASecondSensorOfTheSameNameIsShownAndNeverEdited) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    std::string settings = space.Read("SN1/Settings.xml");
    const size_t c = settings.find("<Name>C</Name>");
    ASSERT_NE(c, std::string::npos);
    settings.replace(c, 14, "<Name>A</Name>");  // sensors A 1000, B 1001, A 1002, D 1003
    space.Write("SN1/Settings.xml", settings);

    Outcome r = Zvhost("tree --json " + Files());
    ASSERT_EQ(r.code, 0) << r.err;
    const json tree = r.Of("tree").at(0);
    EXPECT_EQ(Paths(tree), (std::vector<std::string>{"Capture", "SN1", "SN1/A", "SN1/B", "SN1/A#2", "SN1/D"}));
    const json* second = NodeOf(tree, "SN1/A#2");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ((*second)["kind"], "plain");
    EXPECT_TRUE((*second)["pages"].empty());
    EXPECT_EQ((*second)["sensor"], "A");
    const std::string reason = (*second)["reason"];
    EXPECT_NE(reason.find("(S/N 1000) is also named \"A\""), std::string::npos) << reason;
    EXPECT_FALSE(NodeOf(tree, "SN1/A")->contains("reason"));
    Outcome text = Zvhost("tree " + Files());
    EXPECT_NE(text.out.find("    SN1/A#2 (plain): no pages\n      why: an earlier sensor"), std::string::npos)
        << text.out;

    // No page of the second, not even by number.
    for (const char* page : {"Setup", "1002", "1021"}) {
        Outcome refused = Zvhost("page " + Files() + " --node 'SN1/A#2' --page " + page);
        EXPECT_EQ(refused.code, 2) << page;
        EXPECT_NE(refused.err.find("is also named"), std::string::npos) << refused.err;
    }
    space.Write("script", "select \"Vertex View\" 3\napply\n");
    Outcome edit =
        Zvhost("page --json " + Files() + " --node SN1/A --page Setup --script '" + (space / "script") + "'");
    ASSERT_EQ(edit.code, 0) << edit.err;
    const std::string after = space.Read("SN1/Settings.xml");
    EXPECT_EQ(EntryElement(after, 1000, "VertexView"), 3);
    EXPECT_EQ(EntryElement(after, 1002, "VertexView"), 2);
}

// System Config makes the sensors of a 48-sensor station "A" to "Z", six
// signs and "a" to "p": paths are exact, and each names its own sensor.
TEST_F(ZvhostTree, OnA48SensorStationEachPathNamesItsOwnSensor) {
    ASSERT_EQ(Zvhost("init " + Files() + " --servers 1").code, 0);
    space.Write("config", "type \"Sensors:\" 48\nclick \"Create Settings.xml\"\n");
    ASSERT_EQ(Zvhost("page " + Files() + " --node SN1 --page Setup --script '" + (space / "config") + "'").code, 0);
    Outcome r = Zvhost("tree --json " + Files());
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> expected = {"Capture", "SN1"};
    for (int i = 0; i < 48; ++i) expected.push_back("SN1/" + std::string(1, static_cast<char>('A' + i)));
    EXPECT_EQ(Paths(r.Of("tree").at(0)), expected);

    space.Write("script", "select \"Vertex View\" 3\napply\n");
    Outcome edit =
        Zvhost("page --json " + Files() + " --node SN1/a --page Setup --script '" + (space / "script") + "'");
    ASSERT_EQ(edit.code, 0) << edit.err;
    const std::string settings = space.Read("SN1/Settings.xml");
    EXPECT_EQ(SensorElement(settings, "a", "VertexView"), 3);
    EXPECT_EQ(SensorElement(settings, "A", "VertexView"), 0);
    // The Free page of "a" plays sensor 1032, the 33rd.
    Outcome free = Zvhost("page --json " + Files() + " --node SN1/a --page Free");
    ASSERT_EQ(free.code, 0) << free.err;
    ASSERT_EQ(free.Of("parameters").size(), 1u);
    EXPECT_EQ(free.Of("parameters")[0]["values"], json::parse("[1032, 48]"));

    Outcome wrongCase = Zvhost("page " + Files() + " --node sn1/q --page Setup");
    EXPECT_EQ(wrongCase.code, 2);
    EXPECT_NE(wrongCase.err.find("no node \"sn1/q\""), std::string::npos) << wrongCase.err;
    EXPECT_NE(wrongCase.err.find("did you mean SN1/Q?"), std::string::npos) << wrongCase.err;
}

// A server is named by its serial as the plug-in writes it: "SN01" and a
// second folder of other case are no second server 1, and 4294967295, the
// client pipe's number, is no server at all.
TEST_F(ZvhostTree, EachServerIsOneNodeAndNoneIsTheClientPipe) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    const std::string settings = space.Read("SN1/Settings.xml");
    for (const char* folder : {"SN01", "sn1", "SN4294967295"})
        space.Write(std::string(folder) + "/Settings.xml", settings);
    Outcome r = Zvhost("tree --json " + Files());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Paths(r.Of("tree").at(0)),
              (std::vector<std::string>{"Capture", "SN1", "SN1/A", "SN1/B", "SN1/C", "SN1/D"}));

    Outcome init = Zvhost("init " + Files() + " --servers 1,4294967295");
    EXPECT_EQ(init.code, 2);
    EXPECT_NE(init.err.find("\"4294967295\" is not a server's serial number"), std::string::npos) << init.err;
    EXPECT_FALSE(space.Exists("station.json"));
    space.Write("station.json", "{\"servers\": [1, 4294967295]}");
    Outcome declared = Zvhost("tree " + Files());
    EXPECT_EQ(declared.code, 2);
    EXPECT_NE(declared.err.find("4294967295 is not a server's serial number"), std::string::npos) << declared.err;
}

// A Settings.xml that cannot be read leaves its server limited to System
// Config, which makes it again; the reason, with its line, shows in the
// tree, when the page opens, and when a mode is to run.
TEST_F(ZvhostTree, ACorruptSettingsFileLeavesSystemConfigToMakeItAgain) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
    ASSERT_EQ(Zvhost("init " + Files() + " --servers 1,2").code, 0);
    space.Write("SN2/Settings.xml", "<SensorGroup>\n  <Members>\n    <Broken>\n");

    Outcome r = Zvhost("tree --json " + Files());
    ASSERT_EQ(r.code, 0) << r.err;
    const json tree = r.Of("tree").at(0);
    EXPECT_EQ(Paths(tree).size(), 7u);  // capture, SN1 and its four sensors, SN2
    const json* broken = NodeOf(tree, "SN2");
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ((*broken)["limited"], true);
    EXPECT_EQ((*broken)["pages"], json::parse(R"([{"id": 1022, "name": "Setup"}])"));
    const std::string reason = (*broken)["reason"];
    EXPECT_NE(reason.find("\\SN2\\Settings.xml\": line "), std::string::npos) << reason;
    EXPECT_FALSE(NodeOf(tree, "SN1")->contains("reason"));
    Outcome text = Zvhost("tree " + Files());
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_NE(text.out.find("SN2 (server, limited): 1022 \"Setup\"\n  why: \"\\SN2\\Settings.xml\": line "),
              std::string::npos)
        << text.out;

    // Only its Setup page opens; modes do not run while it is broken.
    Outcome free = Zvhost("page " + Files() + " --node SN2 --page 1014");
    EXPECT_EQ(free.code, 2);
    EXPECT_NE(free.err.find(reason), std::string::npos) << free.err;
    space.Write("play", "play 0.5\n");
    Outcome play = Zvhost("page --json " + Files() + " --node SN1 --page Free --script '" + (space / "play") + "'");
    ASSERT_EQ(play.code, 0) << play.err;
    bool told = false;
    for (const json& e : play.Of("error"))
        told = told || e["text"].get<std::string>().find("cannot run") != std::string::npos;
    EXPECT_TRUE(told) << play.out;
    EXPECT_TRUE(play.Of("output").empty());
    Outcome run = Zvhost("run Free --seconds 0.2 " + Files());
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("SN2"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;

    space.Write("config", "type \"Sensors:\" 2\nclick \"Create Settings.xml\"\n");
    Outcome config =
        Zvhost("page --json " + Files() + " --node SN2 --page Setup --script '" + (space / "config") + "'");
    ASSERT_EQ(config.code, 0) << config.err;
    ASSERT_FALSE(config.Of("report").empty());
    EXPECT_EQ(config.Of("report")[0]["kind"], "error");
    const std::string report = config.Of("report")[0]["text"];
    EXPECT_NE(report.find("SN2 is limited to its Setup page: " + reason), std::string::npos) << report;
    const std::vector<json> rebuilt = config.Of("tree");
    ASSERT_EQ(rebuilt.size(), 1u);
    const json* repaired = NodeOf(rebuilt[0], "SN2");
    ASSERT_NE(repaired, nullptr);
    EXPECT_EQ((*repaired)["limited"], false);
    EXPECT_NE(NodeOf(rebuilt[0], "SN2/B"), nullptr);
    EXPECT_EQ(Zvhost("run Free --seconds 0.2 " + Files()).code, 0);
}

}  // namespace
