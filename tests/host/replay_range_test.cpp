// `zvhost run --from N --to M` on a capture: the batches before N go
// through the mode silently, so that what it shows from N on is what a
// whole run showed; bad ranges are refused with a message.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "support/temp_space.hpp"
#include "zvhost_process.hpp"
#include "zvstation/station.hpp"

namespace {

using nlohmann::json;
using zvhosttest::ZvhostResult;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The outputs of a run's events, batch by batch: each batch's end with its
// process handler's call.
std::vector<std::vector<json>> OutputsByBatch(const ZvhostResult& r) {
    std::vector<std::vector<json>> batches(1);
    for (const json& e : r.Events()) {
        if (e.value("event", "") == "output") batches.back().push_back(e);
        if (e.value("event", "") == "handler" && e.value("phase", "") == "process") batches.emplace_back();
    }
    batches.pop_back();  // after the last batch: the stop
    return batches;
}

class ReplayRange : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zvhosttest::HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
        bool created = false;
        std::string error;
        ASSERT_TRUE(zv::station::EnsureDemoStation(files.Path(), 4, 1, &created, &error)) << error;
        // Three seconds of Detection recorded through the Capture page.
        const ZvhostResult made = zvhosttest::RunCommand(
            "printf 'play 3\\n' | '" + std::string(ZVHOST_PROGRAM) + "' --plugin " + Quote(TORVANE_PLUGIN) +
            " page --files " + Quote(files.Path()) + " --node Capture --page Capture --script -");
        ASSERT_EQ(made.code, 0) << made.err;
        for (const auto& entry : std::filesystem::directory_iterator(files.Host("Capture"))) capture = entry.path();
        ASSERT_FALSE(capture.empty());
        full = Run(Args("--json --full"));
        ASSERT_EQ(full.code, 0) << full.err;
        whole = OutputsByBatch(full);
    }
    ZvhostResult Run(const std::string& arguments) {
        return zvhosttest::RunZvhost("--plugin " + Quote(TORVANE_PLUGIN) + " " + arguments);
    }
    std::string Args(const std::string& more) {
        return "run Detection --files " + Quote(files.Path()) + " --input " + Quote(capture) + " " + more;
    }
    zvtest::TempFileSpace files{"zvrange"};
    std::filesystem::path capture;
    ZvhostResult full;
    std::vector<std::vector<json>> whole;
};

TEST_F(ReplayRange, FromAndToShowWhatTheWholeRunShowed) {
    ASSERT_GE(whole.size(), 50u);
    // Where objects are under way, their polar models hold slices of
    // batches before N: only a mode that saw those shows the same.
    size_t withOutputs = 0;
    std::vector<size_t> froms;
    for (size_t from = 0; from < whole.size(); from += 5) froms.push_back(from);
    froms.push_back(whole.size() - 1);
    for (const size_t from : froms) {
        SCOPED_TRACE(from);
        const ZvhostResult r = Run(Args("--json --full --from " + std::to_string(from)));
        ASSERT_EQ(r.code, 0) << r.err;
        const auto tail = OutputsByBatch(r);
        EXPECT_TRUE(tail == std::vector<std::vector<json>>(whole.begin() + static_cast<ptrdiff_t>(from), whole.end()));
        for (const auto& batch : tail) withOutputs += batch.size();
        EXPECT_EQ(r.Of("summary").at(0)["batches"], full.Of("summary").at(0)["batches"]);
    }
    EXPECT_GT(withOutputs, 3u);

    const ZvhostResult head = Run(Args("--json --full --to 30"));
    ASSERT_EQ(head.code, 0) << head.err;
    EXPECT_TRUE(OutputsByBatch(head) == std::vector<std::vector<json>>(whole.begin(), whole.begin() + 31));
    const ZvhostResult middle = Run(Args("--json --full --from 12 --to 40"));
    ASSERT_EQ(middle.code, 0) << middle.err;
    EXPECT_TRUE(OutputsByBatch(middle) == std::vector<std::vector<json>>(whole.begin() + 12, whole.begin() + 41));
    const ZvhostResult one = Run(Args("--json --from 40 --to 40"));
    EXPECT_EQ(OutputsByBatch(one).size(), 1u);
}

// Objects of round slices, the last ones too small to outline: the model a
// whole run shows last lies behind them, and a seek finds it.
TEST(ReplayRangeModels, ASeekShowsTheLastModelShownThoughLaterObjectsShowNone) {
    if (!zvhosttest::HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace files{"zvmodels"};
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(files.Path(), 4, 1, &created, &error)) << error;
    std::string lines;
    int64_t batch = 0;
    int64_t stamp = 1000;
    for (int object = 0; object < 6; ++object) {
        const int points = object < 2 ? 40 : 8;  // 10 points or fewer make no outline
        for (int b = 0; b < 3; ++b, ++batch) {
            std::string stamps;
            std::string values;
            for (int row = 0; row < 2; ++row, stamp += 100) {
                stamps += (row > 0 ? "," : "") + std::to_string(stamp) + "," + std::to_string(points);
                for (int p = 0; p < points; ++p) {
                    const double a = 6.283185307179586 * p / points;
                    const int radius = 2000 + 300 * object + 50 * b;
                    values += (row + p > 0 ? "," : "") + std::to_string(std::lround(radius * std::cos(a))) + "," +
                              std::to_string(std::lround(6000 + radius * std::sin(a)));
                }
            }
            lines += "{\"attributes\":[1],\"batch\":" + std::to_string(batch) +
                     ",\"data\":[{\"dims\":[2,2],\"type\":\"int64\",\"values\":[" + stamps + "]},{\"dims\":[2," +
                     std::to_string(points) + ",2],\"type\":\"int16\",\"values\":[" + values + "]}],\"id\":1}\n";
        }
        lines += "{\"attributes\":[" + std::to_string(object) + "],\"batch\":" + std::to_string(batch++) +
                 ",\"data\":[],\"id\":9}\n";
    }
    const std::filesystem::path recording = files.Path() / "objects.jsonl";
    std::ofstream(recording) << lines;
    const std::string last = std::to_string(batch - 1);
    auto run = [&](const std::string& range, const std::string& out) {
        return zvhosttest::RunZvhost("--plugin " + Quote(TORVANE_PLUGIN) + " run Detection --files " +
                                     Quote(files.Path()) + " --input " + Quote(recording) + " --json " + range +
                                     " --out " + Quote(files.Path() / out));
    };
    const ZvhostResult whole = run("--to " + last, "whole");
    const ZvhostResult sought = run("--from " + last + " --to " + last, "sought");
    ASSERT_EQ(whole.code, 0) << whole.err;
    ASSERT_EQ(sought.code, 0) << sought.err;
    const json table = whole.Of("summary").at(0)["tables"]["Statistics"];
    EXPECT_EQ(table["rows"][0][1], "6");
    EXPECT_EQ(table["rows"][2][1], "0");  // the last object has no slice outlined
    EXPECT_EQ(sought.Of("summary").at(0)["tables"], whole.Of("summary").at(0)["tables"]);
    // The seek went through only what it needed: the first model was skipped.
    EXPECT_EQ(sought.Of("summary").at(0)["displays"][0]["outputs"], 1);
    // The second object's model, on both.
    auto bytes = [](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string model = bytes(files.Path() / "whole" / "Detection-Detection.svg");
    EXPECT_GT(model.size(), 100u);
    EXPECT_EQ(bytes(files.Path() / "sought" / "Detection-Detection.svg"), model);
}

TEST_F(ReplayRange, BadRangesAreRefusedWithAMessage) {
    const size_t count = whole.size();
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {"--from 20 --to 10", "--from 20 is after --to 10"},
        {"--from " + std::to_string(count), "is beyond the end: the recording holds " + std::to_string(count) +
                                                " batches (0 to " + std::to_string(count - 1) + ")"},
        {"--to 99999", "--to 99999 is beyond the end"},
        {"--from seven", "--from: \"seven\" is not a batch number"},
        {"--to -1", "--to: \"-1\" is not a batch number"},
        {"--from 1e3", "is not a batch number"},
        {"--from 99999999999999999999999", "is not a batch number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const ZvhostResult r = Run(Args(c.args));
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    const ZvhostResult simulated = Run("run Detection --files " + Quote(files.Path()) + " --from 3");
    EXPECT_EQ(simulated.code, 2);
    EXPECT_NE(simulated.err.find("give it with --input"), std::string::npos) << simulated.err;
}

}  // namespace
