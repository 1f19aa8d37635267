// zvhost init, tree and page as a user runs them: the station tree built
// through the plug-in, and pages driven by scripts.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "zvstation/station.hpp"

namespace {

using nlohmann::json;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
    std::vector<json> Events() const {
        std::vector<json> events;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) events.push_back(json::parse(line));
        return events;
    }
    std::vector<json> Of(const std::string& kind) const {
        std::vector<json> found;
        for (const json& e : Events())
            if (e.value("event", "") == kind) found.push_back(e);
        return found;
    }
};

class Space {
public:
    Space() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zvhost-tree-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~Space() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }
    void Write(const std::string& name, const std::string& text) const { std::ofstream(path_ / name) << text; }

private:
    std::filesystem::path path_;
};

bool HaveTorvane() { return std::string(TORVANE_PLUGIN).size() > 0 && std::filesystem::exists(TORVANE_PLUGIN); }

Outcome Zvhost(const std::string& arguments) {
    Space scratch;
    const std::string command = std::string("'") + ZVHOST_PROGRAM + "' --plugin '" + TORVANE_PLUGIN + "' " +
                                arguments + " 2>'" + (scratch / "err") + "'";
    Outcome r;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 4096> buffer;
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(scratch / "err");
    r.err.assign(std::istreambuf_iterator<char>(err), {});
    return r;
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
    Space space;
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
    for (const Case& c : {Case{"--node SN9 --page Setup", "no node \"SN9\""},
                          Case{"--node SN1 --page 1016", "has no page \"1016\""},
                          Case{"--node SN1 --page Wobble", "has no page \"Wobble\""},
                          Case{"--node SN1 --page Setup --script '" + (space / "nocontrol") + "'", "line 2: page 1022 has no control \"4242\""},
                          Case{"--node SN1 --page Setup --script '" + (space / "noaction") + "'", "line 1: no such action \"wiggle\""},
                          Case{"--node SN1 --page Setup --script '" + (space / "quote") + "'", "line 1: a quote is not closed"},
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
