#include "zvstation/replay.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "zvapi/zvapi_testing.hpp"

namespace zs = zv::station;

namespace {

std::string Load(zs::Replay* replay, const std::string& text) {
    std::istringstream in(text);
    std::string error;
    return replay->Load(in, &error) ? std::string() : error;
}

TEST(Replay, BuildsResultsAsRecorded) {
    zs::Replay replay;
    ASSERT_EQ(Load(&replay,
                   "# a profile of sensor 1000, three points\n"
                   "\n"
                   R"({"id": 0, "attributes": [1000, 2], "data": [)"
                   R"({"type": "stamp", "dims": [1], "values": [120, 5000, 1]},)"
                   R"({"type": "int16", "dims": [3, 2], "values": [1, 2, -32768, -32768, 5, 6]},)"
                   R"({"type": "uint8", "dims": [3, 1], "values": [10, 20, 30]}]})"
                   "\n"),
              "");
    ASSERT_EQ(replay.BatchCount(), 1u);
    std::vector<zvHandle> batch;
    ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
    ASSERT_EQ(batch.size(), 1u);
    zvHandle result = batch[0];
    int64_t id = -1;
    int64_t scale = 0;
    zvResultId(result, &id);
    zvResultAttributeAt(result, 1, &scale);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(scale, 2);
    zvHandle stamps = nullptr;
    zvHandle points = nullptr;
    ASSERT_EQ(zvResultData(result, 0, &stamps), ZV_OK);
    ASSERT_EQ(zvResultData(result, 1, &points), ZV_OK);
    const auto* stamp = static_cast<const zvStamp*>(zvArray1At(stamps, 0));
    EXPECT_EQ(stamp->encoder, 120);
    EXPECT_EQ(stamp->time, 5000u);
    EXPECT_EQ(stamp->inputState, 1);
    const auto* p = static_cast<const int16_t*>(zvArray2At(points, 2, 0));
    EXPECT_EQ(p[0], 5);
    EXPECT_EQ(p[1], 6);
    zvObjectDestroy(result);

    batch.clear();
    ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
    EXPECT_TRUE(batch.empty());  // all handed out
}

TEST(Replay, ConsecutiveLinesOfOneBatchNumberFormOneBatch) {
    zs::Replay replay;
    ASSERT_EQ(Load(&replay,
                   "{\"batch\": 1, \"id\": 0}\n{\"batch\": 1, \"id\": 0}\n{\"batch\": 2, \"id\": 8}\n"
                   "{\"id\": 9}\n{\"id\": 9}\n"),
              "");
    EXPECT_EQ(replay.BatchCount(), 4u);
    EXPECT_EQ(replay.ResultCount(), 5u);
    std::vector<zvHandle> batch;
    ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
    EXPECT_EQ(batch.size(), 2u);
    for (zvHandle h : batch) zvObjectDestroy(h);
}

TEST(Replay, ErrorsNameTheLine) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"{\"id\": 0}\n{\"id\": 0,\n", "line 2:"},
        {"[1, 2]\n", "line 1: not a JSON object"},
        {"{\"attributes\": []}\n", "line 1: no \"id\""},
        {"{\"id\": 1.5}\n", "line 1: \"id\" is not an integer"},
        {"{\"id\": 0, \"attributes\": [1, \"x\"]}\n", "line 1: an attribute"},
        {"\n# comment\n{\"id\": 0, \"data\": [{\"type\": \"int17\", \"dims\": [1], \"values\": [0]}]}\n",
         "line 3: data 0: unknown element type"},
        {"{\"id\": 0, \"data\": [{\"type\": \"int16\", \"dims\": [3, 2], \"values\": [1, 2]}]}\n",
         "line 1: data 0: 2 values for dims [3,2] (expected 6)"},
        {"{\"id\": 0, \"data\": [{\"type\": \"int16\", \"dims\": [1], \"values\": [40000]}]}\n",
         "out of range for int16"},
        {"{\"id\": 0, \"data\": [{\"type\": \"int32\", \"dims\": [1], \"values\": [1.5]}]}\n", "not an integer"},
        {"{\"id\": 0, \"data\": [{\"type\": \"int32\", \"dims\": [], \"values\": []}]}\n", "1 to 3 lengths"},
        {"{\"id\": 0, \"data\": [{\"type\": \"uint8\", \"dims\": [100000, 100000], \"values\": []}]}\n",
         "too many elements"},
        {"{\"id\": 0, \"data\": [{\"type\": \"uint8\", \"dims\": [-1], \"values\": []}]}\n", "length out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        zs::Replay replay;
        const std::string error = Load(&replay, c.text);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(replay.BatchCount(), 0u);
    }
}

TEST(Replay, RecordedLinesReadBackTheSame) {
    const std::string line =
        R"({"batch":3,"id":1,"attributes":[1],"data":[{"type":"int64","dims":[2,2],"values":[10,360,11,360]},)"
        R"({"type":"float32","dims":[2],"values":[0.5,-2.0]},{"type":"point32","dims":[1],"values":[-7,9]}]})";
    zs::Replay replay;
    ASSERT_EQ(Load(&replay, line + "\n"), "");
    std::vector<zvHandle> batch;
    ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
    ASSERT_EQ(batch.size(), 1u);
    const std::string again = zs::ReplayLine(batch[0], 3);
    zvObjectDestroy(batch[0]);
    EXPECT_EQ(nlohmann::json::parse(line), nlohmann::json::parse(again));
}

}  // namespace
