// libtorvane.so loaded and bound by name, as the client host does: the
// pipe-app description it builds, the calls it makes to build it, and the
// symbols it shows.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <algorithm>
#include <cstring>

#include "hostapi/hostapi.hpp"
#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"
#include "zvrunner/mode_runner.hpp"

namespace {

using DescribeFn = zvStatus (*)(zvHandle*);

class PluginLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = dlopen(TORVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        describe_ = reinterpret_cast<DescribeFn>(dlsym(library_, "TorvaneDescribePipeApp"));
        ASSERT_NE(describe_, nullptr) << dlerror();
        baseline_ = zv::testing::LiveObjects();
    }
    void TearDown() override {
        zv::testing::ClearFaults();
        zv::testing::JournalStop();
        zv::testing::JournalClear();
        EXPECT_EQ(zv::testing::LiveObjects(), baseline_) << "objects left alive";
        if (library_ != nullptr) dlclose(library_);
    }

    void* library_ = nullptr;
    DescribeFn describe_ = nullptr;
    int64_t baseline_ = 0;
};

struct ExpectedMode {
    std::string name;
    std::vector<std::pair<std::string, int32_t>> displays;
    std::vector<std::string> parameters;
};

const std::vector<ExpectedMode>& Modes() {
    static const std::vector<ExpectedMode> modes = {
        {"Free", {{"Free", 2}, {"Intensity", 1}, {"Encoder", 3}}, {"SelectedSensor", "NumSensors"}},
        {"Calibration", {{"Calibration", 2}, {"Status", 3}}, {}},
        {"Detection", {{"Detection", 0}, {"Statistics", 3}}, {}},
        {"Web", {{"Web", 2}, {"Statistics", 3}}, {}},
        {"Video", {{"Video 0", 1}, {"Video 1", 1}}, {"SelectedSensor", "idzThreshold", "cgEnabled", "threshEnabled"}},
    };
    return modes;
}

TEST_F(PluginLibrary, DescribesTheClientAppWithItsFiveModes) {
    zv::OwnedPipeApp app;
    ASSERT_EQ(describe_(app.Out()), 1);
    ASSERT_TRUE(zvObjectIs(app, ZV_TYPE_PIPEAPP));
    EXPECT_STREQ(zvPipeAppName(app), "client");
    int32_t major = 0, minor = 0;
    ASSERT_GT(zvPipeAppVersion(app, &major, &minor), 0);
    EXPECT_EQ(major, 6);
    EXPECT_EQ(minor, 2);
    ASSERT_EQ(zvPipeAppModeCount(app), 5);
    for (int32_t m = 0; m < 5; ++m) {
        const ExpectedMode& expected = Modes()[static_cast<size_t>(m)];
        SCOPED_TRACE(expected.name);
        zvHandle mode = zvPipeAppModeAt(app, m);
        EXPECT_EQ(zvPipeModeName(mode), expected.name);
        EXPECT_NE(zvPipeModeStartHandler(mode), nullptr);
        EXPECT_NE(zvPipeModeProcessHandler(mode), nullptr);
        EXPECT_NE(zvPipeModeStopHandler(mode), nullptr);
        ASSERT_EQ(zvPipeModeDisplayCount(mode), static_cast<int32_t>(expected.displays.size()));
        for (int32_t d = 0; d < zvPipeModeDisplayCount(mode); ++d) {
            EXPECT_EQ(zvPipeModeDisplayName(mode, d), expected.displays[static_cast<size_t>(d)].first);
            EXPECT_EQ(zvPipeModeDisplayKind(mode, d), expected.displays[static_cast<size_t>(d)].second);
        }
        ASSERT_EQ(zvPipeModeParameterCount(mode), static_cast<int32_t>(expected.parameters.size()));
        for (int32_t p = 0; p < zvPipeModeParameterCount(mode); ++p) {
            EXPECT_EQ(zvPipeModeParameterName(mode, p), expected.parameters[static_cast<size_t>(p)]);
            EXPECT_EQ(zvPipeModeParameterInitial(mode, p), 0);
        }
        EXPECT_EQ(zvPipeModeInputStyle(mode), 2);
    }
    // Each process handler is the mode's own; Calibration, Detection and Web
    // share the common start and stop, Free and Video start (and Video
    // stops) their own way.
    zvHandle free = zvPipeAppModeAt(app, 0), calibration = zvPipeAppModeAt(app, 1);
    zvHandle detection = zvPipeAppModeAt(app, 2), web = zvPipeAppModeAt(app, 3), video = zvPipeAppModeAt(app, 4);
    std::vector<zvPipeProcessHandler> processes;
    for (int32_t m = 0; m < 5; ++m) {
        zvPipeProcessHandler process = zvPipeModeProcessHandler(zvPipeAppModeAt(app, m));
        for (auto other : processes) EXPECT_NE(process, other) << m;
        processes.push_back(process);
    }
    EXPECT_EQ(zvPipeModeStartHandler(calibration), zvPipeModeStartHandler(detection));
    EXPECT_EQ(zvPipeModeStartHandler(web), zvPipeModeStartHandler(detection));
    EXPECT_NE(zvPipeModeStartHandler(free), zvPipeModeStartHandler(detection));
    EXPECT_NE(zvPipeModeStartHandler(video), zvPipeModeStartHandler(detection));
    EXPECT_NE(zvPipeModeStartHandler(video), zvPipeModeStartHandler(free));
    for (zvHandle mode : {free, calibration, web})
        EXPECT_EQ(zvPipeModeStopHandler(mode), zvPipeModeStopHandler(detection));
    EXPECT_NE(zvPipeModeStopHandler(video), zvPipeModeStopHandler(detection));
    EXPECT_GT(app.Reset(), 0);
}

// The platform calls of a whole description, in order.
std::vector<std::string> ExpectedJournal() {
    std::vector<std::string> calls = {"zvPipeAppCreate", "zvPipeAppInit client", "zvPipeAppSetVersion 6 2"};
    for (const ExpectedMode& mode : Modes()) {
        calls.push_back("zvPipeModeCreate");
        calls.push_back("zvPipeModeInit " + mode.name);
        calls.push_back("zvPipeModeSetStartHandler " + mode.name);
        calls.push_back("zvPipeModeSetProcessHandler " + mode.name);
        calls.push_back("zvPipeModeSetStopHandler " + mode.name);
        for (const auto& [name, kind] : mode.displays)
            calls.push_back("zvPipeModeAddDisplay " + name + " " + std::to_string(kind));
        for (const auto& name : mode.parameters) calls.push_back("zvPipeModeAddParameter " + name + " 0");
        calls.push_back("zvPipeModeSetInputStyle 2");
        calls.push_back("zvPipeAppAddMode " + mode.name);
    }
    return calls;
}

TEST_F(PluginLibrary, MakesThePlatformCallsInOrder) {
    zv::testing::JournalClear();
    zv::testing::JournalStart();
    zv::OwnedPipeApp app;
    ASSERT_EQ(describe_(app.Out()), 1);
    zv::testing::JournalStop();
    EXPECT_EQ(zv::testing::Journal(), ExpectedJournal());
}

TEST_F(PluginLibrary, TheFirstFailingCallEndsTheDescription) {
    // The third display of "Free" fails: its status comes back, the app is
    // already the caller's, and no later mode is made. The unfinished mode,
    // which no one else can reach, is released.
    const int64_t modesBefore = zv::testing::LiveObjects(ZV_TYPE_PIPEMODE);
    zv::testing::JournalClear();
    zv::testing::JournalStart();
    zv::testing::FailCall("zvPipeModeAddDisplay", 3, -42);
    zv::OwnedPipeApp app;
    EXPECT_EQ(describe_(app.Out()), -42);
    zv::testing::JournalStop();
    ASSERT_TRUE(zvObjectIs(app, ZV_TYPE_PIPEAPP));
    EXPECT_EQ(zvPipeAppModeCount(app), 0);
    const std::vector<std::string> full = ExpectedJournal();
    std::vector<std::string> expected(full.begin(), full.begin() + 11);  // up to the third display
    ASSERT_EQ(expected.back(), "zvPipeModeAddDisplay Encoder 3");
    expected.push_back("zvPipeModeDestroy");
    EXPECT_EQ(zv::testing::Journal(), expected);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_PIPEMODE), modesBefore);

    // A failure of the app itself leaves the out-parameter empty.
    zv::testing::FailCall("zvPipeAppCreate", 1, -4);
    zvHandle none = reinterpret_cast<zvHandle>(1);
    EXPECT_EQ(describe_(&none), -4);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(describe_(nullptr), ZV_E_ARGUMENT);
}

TEST_F(PluginLibrary, ItsModesRunInTheHost) {
    // The described Detection mode, run by the host's runner over a station
    // without Settings.xml, reports an object.
    auto root = std::filesystem::temp_directory_path() / ("zv-torvane-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(root / "SN3");
    char previous[4096] = {0};
    zvFileSpaceRoot(previous, sizeof previous);
    ASSERT_GT(zvFileSpaceSetRoot(root.c_str()), 0);
    zv::OwnedPipeApp app;
    ASSERT_EQ(describe_(app.Out()), 1);
    {
        zv::runner::ModeRunner runner(app);
        ASSERT_GT(runner.AddServer(3), 0);
        ASSERT_EQ(runner.Start("Detection"), 1);
        zvHandle end = nullptr;
        ASSERT_GT(zvResultCreate(&end, nullptr), 0);
        ASSERT_GT(zvResultInit(end, 9, nullptr, 0), 0);
        EXPECT_EQ(runner.ProcessPayloads({end}), 1);
        EXPECT_EQ(runner.Stop(), 1);
        const auto stats = runner.OutputsTo("Statistics");
        ASSERT_EQ(stats.size(), 1u);
        EXPECT_EQ(stats[0].displayKind, 3);
    }
    zvFileSpaceSetRoot(previous);
    std::filesystem::remove_all(root);
}

TEST(PluginLibrarySymbols, ExportsOnlyItsEntryPoints) {
    const std::string command = std::string("nm -D --defined-only '") + TORVANE_LIBRARY + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t space = text.rfind(' ');
        names.push_back(space == std::string::npos ? text : text.substr(space + 1));
    }
    ASSERT_EQ(pclose(pipe), 0) << "nm failed";
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TorvaneDescribePipeApp", "TorvaneNodeCreate", "TorvanePageCreate"}));
}

// The tree's nodes and the pages through the exports, as the host binds them.
class PluginNodesAndPages : public PluginLibrary {
protected:
    void SetUp() override {
        PluginLibrary::SetUp();
        nodeCreate_ = reinterpret_cast<hostapi::NodeCreateExport>(dlsym(library_, "TorvaneNodeCreate"));
        pageCreate_ = reinterpret_cast<hostapi::PageCreateExport>(dlsym(library_, "TorvanePageCreate"));
        ASSERT_NE(nodeCreate_, nullptr);
        ASSERT_NE(pageCreate_, nullptr);
    }
    // The pages of a node of `type` initialised with `info`.
    std::vector<int32_t> PagesOf(int32_t type, hostapi::NodeInfo info) {
        hostapi::Node* node = reinterpret_cast<hostapi::Node*>(1);
        EXPECT_EQ(nodeCreate_(type, &node), 1);
        if (node == nullptr) return {-1};
        EXPECT_EQ(node->Init(&info, nullptr, nullptr), 1);
        int32_t ids[hostapi::Node::kMaxPages] = {};
        int32_t count = -1;
        EXPECT_EQ(node->GetPages(ids, &count), 1);
        EXPECT_EQ(node->Release(), 1);
        return std::vector<int32_t>(ids, ids + std::max(count, 0));
    }
    hostapi::NodeCreateExport nodeCreate_ = nullptr;
    hostapi::PageCreateExport pageCreate_ = nullptr;
};

TEST_F(PluginNodesAndPages, EachNodeTypeListsItsPages) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(PagesOf(1, {1, 7, 0, nullptr}), (V{1014, 1018, 1015, 1023, 1024, 1022}));
    EXPECT_EQ(PagesOf(1, {1, 7, 1, nullptr}), (V{1022}));
    EXPECT_EQ(PagesOf(3, {3, 0, hostapi::NodeInfo::Text("0"), "A"}), (V{1019, 1002, 1017}));
    EXPECT_EQ(PagesOf(0, {0, 0, 0, nullptr}), (V{1020}));
    EXPECT_EQ(PagesOf(2, {2, 0, 0, nullptr}), (V{}));
    // The limited flag counts only on a node of kind 1.
    EXPECT_EQ(PagesOf(0, {0, 0, 1, nullptr}), (V{1020}));
    EXPECT_EQ(PagesOf(2, {2, 0, 1, nullptr}), (V{}));
    for (int32_t type : {-1, 4, 100}) {
        hostapi::Node* node = reinterpret_cast<hostapi::Node*>(1);
        EXPECT_EQ(nodeCreate_(type, &node), 1);
        EXPECT_EQ(node, nullptr) << type;
    }
    EXPECT_EQ(nodeCreate_(1, nullptr), 1);
}

TEST_F(PluginNodesAndPages, PagesByIdentifier) {
    for (int32_t id : {1016, 1003, 0}) {
        hostapi::Page* page = reinterpret_cast<hostapi::Page*>(1);
        EXPECT_EQ(pageCreate_(id, &page), 1);
        EXPECT_EQ(page, nullptr) << id;
    }
    hostapi::Page* page = nullptr;
    ASSERT_EQ(pageCreate_(1022, &page), 1);
    ASSERT_NE(page, nullptr);
    char name[16];
    std::memset(name, 'x', sizeof name);
    page->GetName(name, 4);
    EXPECT_EQ(std::string(name, 5), "Setux");
    page->GetName(name, 16);
    EXPECT_EQ(std::string(name, 16), std::string("Setup") + std::string(11, '\0'));
    int32_t modified = -1;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(page->Destroy(), 1);
    EXPECT_EQ(pageCreate_(1022, nullptr), 1);
}

}  // namespace
