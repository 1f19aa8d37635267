#include "zvstation/replay.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "support/fault_loop.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace zs = zv::station;

namespace {

std::string Load(zs::Replay* replay, const std::string& text) {
    std::string error;
    return replay->Load(std::make_unique<std::istringstream>(text), &error) ? std::string() : error;
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

namespace {

// Integers are checked exactly against the 64-bit ranges and the ranges of
// what holds them; nothing is cut or wrapped silently.
TEST(Replay, SixtyFourBitValuesAreCheckedExactly) {
    const auto line = [](const std::string& id, const std::string& type, const std::string& values) {
        return R"({"id": )" + id + R"(, "data": [{"type": ")" + type + R"(", "dims": [1], "values": [)" + values +
               "]}]}\n";
    };
    const struct {
        std::string text;
        std::string error;  // "" when the line is accepted
    } cases[] = {
        {line("9223372036854775807", "int64", "9223372036854775807"), ""},
        {line("-9223372036854775808", "int64", "-9223372036854775808"), ""},
        {line("0", "uint64", "18446744073709551615"), ""},
        {line("0", "stamp", "-1, 18446744073709551615, -2147483648"), ""},
        {line("18446744073709551615", "int64", "0"), "\"id\" is out of the 64-bit signed range"},
        {line("9223372036854775808", "int64", "0"), "\"id\" is out of the 64-bit signed range"},
        {line("0", "int64", "9223372036854775808"), "value 0 out of range for int64"},
        {line("0", "uint64", "-1"), "value 0 out of range for uint64"},
        {line("0", "stamp", "0, 0, 5000000000"), "value 2 (input state) out of range for stamp"},
        {line("0", "stamp", "0, -1, 0"), "value 1 (time) out of range for stamp"},
        {line("0", "uint8", "256"), "out of range for uint8"},
        {line("0", "int32", "2147483648"), "out of range for int32"},
        {line("0", "float32", "1e39"), "out of range for float32"},
        {line("0", "int64", "1e3"), "is not an integer"},
        {line("0", "int64", "18446744073709551616"), "is not an integer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        zs::Replay replay;
        const std::string error = Load(&replay, c.text);
        if (c.error.empty()) {
            ASSERT_EQ(error, "");
            std::vector<zvHandle> batch;
            ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
            ASSERT_EQ(batch.size(), 1u);
            // What was recorded is what is delivered: the line reads back.
            const nlohmann::json back = nlohmann::json::parse(zs::ReplayLine(batch[0], 0));
            const nlohmann::json given = nlohmann::json::parse(c.text);
            EXPECT_EQ(back["id"], given["id"]);
            EXPECT_EQ(back["data"][0]["values"], given["data"][0]["values"]);
            zvObjectDestroy(batch[0]);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

// A message never carries the file's bytes as they are, and a line longer
// than a result can be is refused with its number.
TEST(Replay, MessagesShowNoRawBytesAndLinesAreBounded) {
    for (const std::string& text : {std::string("{\"id\": 0, \"data\": [{\"type\": \"in\x01\xff\", \"dims\": [1]}]}\n"),
                                    std::string("{\"id\": \"\xff\xfe\"}\n"), std::string("\x1b[31m\n")}) {
        zs::Replay replay;
        const std::string error = Load(&replay, text);
        ASSERT_FALSE(error.empty());
        for (char c : error) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << error;
    }
    zs::Replay replay;
    const std::string error = Load(&replay, "{\"id\": 0}\n" + std::string((16 << 20) + 1, ' ') + "\n");
    EXPECT_EQ(error, "line 2: longer than 16 MiB");
    // A number of a million digits, wherever it stands, is not repeated.
    const std::string huge(1000000, '9');
    for (const std::string& line :
         {"{\"id\": " + huge + "}", "{\"id\": -" + huge + "}", "{\"id\": 1, \"attributes\": [" + huge + "]}",
          "{\"id\": 1, \"batch\": " + huge + "}",
          "{\"id\": 1, \"data\": [{\"type\": \"int8\", \"dims\": [" + huge + "], \"values\": []}]}",
          "{\"id\": 1, \"data\": [{\"type\": \"float32\", \"dims\": [1], \"values\": [" + huge + ".5]}]}",
          "{\"id\": 1, \"data\": [{\"type\": \"" + std::string(1000000, 'x') + "\", \"dims\": [1]}]}"}) {
        zs::Replay bounded;
        const std::string said = Load(&bounded, line + "\n");
        EXPECT_FALSE(said.empty());
        EXPECT_LT(said.size(), 400u) << said.substr(0, 200);
    }
}

// The recording is read batch by batch as the run asks for it, not held:
// a recording of many batches takes the memory of one.
TEST(Replay, BatchesAreReadAsTheyAreAskedFor) {
    auto stream = std::make_unique<std::stringstream>();
    for (int i = 0; i < 1000; ++i) *stream << R"({"batch": )" << i / 2 << R"(, "id": )" << i << "}\n";
    std::stringstream* text = stream.get();
    zs::Replay replay;
    std::string error;
    ASSERT_TRUE(replay.Load(std::move(stream), &error)) << error;
    EXPECT_EQ(replay.BatchCount(), 500u);
    std::vector<zvHandle> batch;
    ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
    ASSERT_EQ(batch.size(), 2u);
    for (zvHandle h : batch) zvObjectDestroy(h);
    // Past what was read, a line that no longer reads is found only now.
    const std::streampos at = text->tellg();
    text->seekp(at);
    *text << "garbage\n";
    batch.clear();
    EXPECT_EQ(replay.NextBatch(&batch), ZV_E_PARSE);
    EXPECT_TRUE(batch.empty());
}

// Every failure of the platform while a batch is made is passed back, and
// nothing made so far stays alive.
TEST(Replay, EveryFailureWhileABatchIsMadeLeaksNothing) {
    const std::string text =
        R"({"batch": 1, "id": 0, "attributes": [1000, 2], "data": [{"type": "stamp", "dims": [1], "values": [1, 2, 3]},)"
        R"({"type": "int16", "dims": [2, 2], "values": [1, 2, 3, 4]}]})"
        "\n"
        R"({"batch": 1, "id": 8, "attributes": [1, -4]})"
        "\n";
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        zs::Replay replay;
        std::string error;
        if (!replay.Load(std::make_unique<std::istringstream>(text), &error)) return ZV_E_FAIL;
        std::vector<zvHandle> batch;
        const zvStatus status = replay.NextBatch(&batch);
        if (status > 0) {
            EXPECT_EQ(batch.size(), 2u);
        } else {
            EXPECT_TRUE(batch.empty());
        }
        for (zvHandle h : batch) zvObjectDestroy(h);
        return status;
    };
    EXPECT_GT(loop.Run(), 3);
}

}  // namespace
