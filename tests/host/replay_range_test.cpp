// `zvhost run --from N --to M` on a capture: the batches before N go
// through the mode silently, so that what it shows from N on is what a
// whole run showed; bad ranges are refused with a message.
#include <gtest/gtest.h>

#include <filesystem>

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
    for (const size_t from : {size_t{0}, size_t{9}, size_t{23}, whole.size() - 8}) {
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
