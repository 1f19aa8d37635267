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
            for (int i = x; i < x + w; ++i) lit += (reinterpret_cast<const uint32_t*>(data + j * stride)[i] & 0xFFFFFF) != 0 ? 1 : 0;
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
         "picture " + pictures + "/clipping.png\n");
    // One step of sensor 1002's rotation.
    space.Write("SN1/Calibration.xml",
                "<Calibration><S><SerialNumber>1001</SerialNumber><X>0</X><Y>0</Y><T>0</T></S>"
                "<S><SerialNumber>1002</SerialNumber><X>0.5</X><Y>0.25</Y><T>0.01</T></S></Calibration>");
    page("SN1", "Fine Calibration", "select \"Sensor\" \"01: S/N 1002\"\nclick 1050\npicture " + pictures + "/tuning.png\n");

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

    for (const auto& [name, size] : {std::pair{"setup-A.png", std::pair{600, 292}}, std::pair{"setup-D.png", std::pair{600, 292}},
                                     std::pair{"system-setup.png", std::pair{600, 472}},
                                     std::pair{"clipping.png", std::pair{600, 248}},
                                     std::pair{"tuning.png", std::pair{600, 248}}}) {
        EXPECT_EQ(PngSize(pictures + "/" + name), size) << name;
    }
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
    for (const Case& c : {Case{"--node SN9 --page Setup", "no node \"SN9\""},
                          Case{"--node SN1 --page 1016", "has no page \"1016\""},
                          Case{"--node SN1 --page Wobble", "has no page \"Wobble\""},
                          Case{"--node SN1 --page Setup --script '" + (space / "nocontrol") + "'", "line 2: page 1022 has no control \"4242\""},
                          Case{"--node SN1 --page Setup --script '" + (space / "noaction") + "'", "line 1: no such action \"wiggle\""},
                          Case{"--node SN1 --page Setup --script '" + (space / "quote") + "'", "line 1: a quote is not closed"},
                          Case{"--node SN1/A --page Setup --script '" + (space / "noitem") + "'", "line 1: select on control 1021: the list has no such item"},
                          Case{"--node SN1 --page Setup --script '" + (space / "missing") + "'", "cannot read the script"}}) {
        SCOPED_TRACE(c.arguments);
        Outcome r = Zvhost("page " + Files() + " " + c.arguments);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    Outcome noServers = Zvhost("tree --files '" + (space / "SN1") + "'");
    EXPECT_EQ(noServers.code, 2);
    EXPECT_NE(noServers.err.find("declares no server"), std::string::npos) << noServers.err;
    for (const char* list : {"", "1,,2", "x", "1,1", "4294967296"}) {
        Outcome bad = Zvhost("init " + Files() + " --servers '" + list + "'");
        EXPECT_EQ(bad.code, 2) << list;
    }
}

}  // namespace
