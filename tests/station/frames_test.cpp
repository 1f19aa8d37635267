#include "zvstation/frames.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "support/result_text.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/station.hpp"

namespace zs = zv::station;
namespace wire = zv::station::wire;

namespace {

struct Results {
    std::vector<zvHandle> handles;
    Results() = default;
    Results(const Results&) = delete;
    Results& operator=(const Results&) = delete;
    ~Results() { Clear(); }
    void Clear() {
        for (zvHandle h : handles) zvObjectDestroy(h);
        handles.clear();
    }
};

std::string Lines(const std::vector<zvHandle>& results) { return zvtest::ResultsText(results); }

// Batches the simulator makes in `mode`, as frames.
class FramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        bool created = false;
        std::string error;
        ASSERT_TRUE(zs::EnsureDemoStation(space_.Path(), 4, 1, &created, &error)) << error;
    }
    // The first `count` batches of `mode`, each encoded and as text.
    void Make(const std::string& mode, int count, std::vector<std::vector<uint8_t>>* frames,
              std::vector<std::string>* lines) {
        zs::Station station;
        zs::Options options;
        options.profilePoints = 2048;
        std::string error;
        ASSERT_TRUE(station.Open(space_.Path(), options, &error)) << error;
        ASSERT_EQ(station.SetMode(1, mode), ZV_OK);
        ASSERT_EQ(station.StartDelivery(1), ZV_OK);
        for (int b = 0; b < count; ++b) {
            Results batch;
            ASSERT_EQ(station.NextBatch(&batch.handles), ZV_OK);
            ASSERT_FALSE(batch.handles.empty());
            wire::BatchHeader header;
            header.serial = 1;
            header.session = 77;
            header.sequence = static_cast<uint64_t>(b) + 1;
            header.batch = b;
            header.time = station.Time();
            header.sentNs = 1'765'000'000'000'000'000 + b;
            std::vector<uint8_t> frame;
            ASSERT_TRUE(wire::EncodeBatch(header, batch.handles, &frame, &error)) << error;
            frames->push_back(std::move(frame));
            lines->push_back(Lines(batch.handles));
        }
    }
    zvtest::TempFileSpace space_;
    zv::testing::Scope scope_;
};

// Every result the simulator makes, in every mode, comes back from its
// frame exactly: ids, attributes, element types, lengths and elements.
TEST_F(FramesTest, EveryModesResultsRoundTrip) {
    for (const std::string& mode : zs::Station::Modes()) {
        SCOPED_TRACE(mode);
        std::vector<std::vector<uint8_t>> frames;
        std::vector<std::string> lines;
        Make(mode, mode == "Detection" ? 6 : 3, &frames, &lines);
        for (size_t b = 0; b < frames.size(); ++b) {
            wire::BatchView view;
            std::string error;
            ASSERT_TRUE(wire::ParseBatch(frames[b].data(), frames[b].size(), &view, &error)) << error;
            EXPECT_EQ(view.header.serial, 1u);
            EXPECT_EQ(view.header.session, 77u);
            EXPECT_EQ(view.header.sequence, b + 1);
            EXPECT_EQ(view.header.batch, static_cast<int64_t>(b));
            EXPECT_EQ(view.header.sentNs, 1'765'000'000'000'000'000 + static_cast<int64_t>(b));
            Results decoded;
            ASSERT_EQ(wire::BuildResults(view, &decoded.handles), ZV_OK);
            EXPECT_EQ(Lines(decoded.handles), lines[b]);
        }
    }
}

TEST_F(FramesTest, RequestsAndRepliesRoundTrip) {
    for (uint16_t op = 1; op <= wire::kLastOp; ++op) {
        SCOPED_TRACE(wire::OpName(op));
        wire::Request request;
        request.id = 1000u + op;
        request.op = static_cast<wire::Op>(op);
        request.timeoutMs = 2000;
        request.sentMs = 123456789;
        request.text = "\\SN1\\Settings.xml";
        request.parameters = {{"SelectedSensor", 1002}, {"idzThreshold", -7}};
        request.flag = 1;
        request.count = 12;
        request.bytes = {0, 1, 2, 255};
        std::vector<uint8_t> frame;
        wire::EncodeRequest(request, &frame);
        wire::Request back;
        std::string error;
        ASSERT_TRUE(wire::DecodeRequest(frame.data(), frame.size(), &back, &error)) << error;
        EXPECT_EQ(back.id, request.id);
        EXPECT_EQ(back.op, request.op);
        EXPECT_EQ(back.sentMs, request.sentMs);

        wire::Reply reply;
        reply.id = request.id;
        reply.op = request.op;
        reply.server.serial = 3;
        reply.server.session = 99;
        reply.server.stream = "tcp://127.0.0.1:5602";
        reply.server.pipe.mode = "Web";
        reply.server.pipe.parameters = {{"SelectedSensor", 1}};
        reply.pipe = reply.server.pipe;
        reply.size = 42;
        reply.kind = wire::StatKind::Folder;
        reply.bytes = {9, 8, 7};
        reply.entries = {{"Settings.xml", false, 1234}, {"SN1001", true, 0}};
        wire::EncodeReply(reply, &frame);
        wire::Reply replied;
        ASSERT_TRUE(wire::DecodeReply(frame.data(), frame.size(), &replied, &error)) << error;
        EXPECT_EQ(replied.id, reply.id);
        EXPECT_EQ(replied.op, reply.op);
    }
    // The fields of the operations that carry them.
    wire::Request write;
    write.op = wire::Op::WriteFile;
    write.text = "a/b.txt";
    write.bytes.assign(100000, 7);
    std::vector<uint8_t> frame;
    wire::EncodeRequest(write, &frame);
    wire::Request back;
    std::string error;
    ASSERT_TRUE(wire::DecodeRequest(frame.data(), frame.size(), &back, &error)) << error;
    EXPECT_EQ(back.text, write.text);
    EXPECT_EQ(back.bytes, write.bytes);
    // Pull mode's flag: off, on, or on from the start; nothing else.
    for (int32_t flag : {0, 1, wire::kPullFromStart}) {
        wire::Request pull;
        pull.op = wire::Op::SetPull;
        pull.flag = flag;
        wire::EncodeRequest(pull, &frame);
        ASSERT_TRUE(wire::DecodeRequest(frame.data(), frame.size(), &back, &error)) << error;
        EXPECT_EQ(back.flag, flag);
        if (flag == wire::kPullFromStart) {
            frame.back() = 3;
            EXPECT_FALSE(wire::DecodeRequest(frame.data(), frame.size(), &back, &error));
            EXPECT_NE(error.find("the pull flag: 3"), std::string::npos) << error;
        }
    }

    wire::Reply hello;
    hello.op = wire::Op::Hello;
    hello.server.serial = 3;
    hello.server.session = 99;
    hello.server.program = "zvstation 6.2";
    hello.server.stream = "tcp://127.0.0.1:5602";
    hello.server.source = "replay";
    hello.server.pipe = {"Video", false, {{"SelectedSensor", 1002}}, true, true};
    wire::EncodeReply(hello, &frame);
    wire::Reply h;
    ASSERT_TRUE(wire::DecodeReply(frame.data(), frame.size(), &h, &error)) << error;
    EXPECT_EQ(h.server.stream, hello.server.stream);
    EXPECT_EQ(h.server.source, "replay");
    EXPECT_EQ(h.server.pipe.mode, "Video");
    EXPECT_FALSE(h.server.pipe.enabled);
    EXPECT_TRUE(h.server.pipe.pull);
    EXPECT_EQ(h.server.pipe.parameters, hello.server.pipe.parameters);

    // A failure carries its message and no fields.
    wire::Reply failed;
    failed.op = wire::Op::ReadFile;
    failed.status = ZV_E_ACCESS;
    failed.message = "..\\x: the path leaves the server's folder";
    failed.bytes = {1, 2, 3};
    wire::EncodeReply(failed, &frame);
    wire::Reply f;
    ASSERT_TRUE(wire::DecodeReply(frame.data(), frame.size(), &f, &error)) << error;
    EXPECT_EQ(f.status, ZV_E_ACCESS);
    EXPECT_EQ(f.message, failed.message);
    EXPECT_TRUE(f.bytes.empty());
}

// Every prefix of a real frame, and every single byte changed in its
// headers, is refused or read within bounds: never a crash, never an
// allocation beyond the frame (the sanitizer tree checks the bounds).
TEST_F(FramesTest, TruncatedAndAlteredFramesAreRefusedSafely) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::string> lines;
    Make("Detection", 2, &frames, &lines);
    const std::vector<uint8_t>& frame = frames[0];
    for (size_t size = 0; size < frame.size(); size += size < 256 ? 1 : 97) {
        wire::BatchView view;
        std::string error;
        EXPECT_FALSE(wire::ParseBatch(frame.data(), size, &view, &error)) << size;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(view.results.empty());
    }
    for (size_t at = 0; at < 160; ++at) {
        for (uint8_t value : {uint8_t{0}, uint8_t{0x7f}, uint8_t{0xff}}) {
            std::vector<uint8_t> altered = frame;
            altered[at] = value;
            wire::BatchView view;
            std::string error;
            if (!wire::ParseBatch(altered.data(), altered.size(), &view, &error)) continue;
            Results built;
            EXPECT_EQ(wire::BuildResults(view, &built.handles), ZV_OK);
        }
    }
    // Requests and replies, cut anywhere.
    wire::Request request;
    request.op = wire::Op::SetParameters;
    request.parameters = {{"SelectedSensor", 1}, {"idzThreshold", 2}};
    std::vector<uint8_t> bytes;
    wire::EncodeRequest(request, &bytes);
    for (size_t size = 0; size < bytes.size(); ++size) {
        wire::Request back;
        std::string error;
        EXPECT_FALSE(wire::DecodeRequest(bytes.data(), size, &back, &error)) << size;
    }
}

// Hand-made frames that break one rule each, with the refusal naming it.
TEST_F(FramesTest, HostileBatchesAreRefusedWithTheReason) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::string> lines;
    Make("Free", 1, &frames, &lines);
    const std::vector<uint8_t> good = frames[0];
    // Offsets in the first profile: its header at 56, two attributes, then
    // the stamp array's header at 88, the points' header after the stamp.
    constexpr size_t kResult = 56;
    constexpr size_t kStamp = kResult + 16 + 16;
    constexpr size_t kPoints = kStamp + 32 + 24;  // a 24-byte stamp needs no padding
    auto refused = [&](std::vector<uint8_t> frame, const std::string& expected) {
        wire::BatchView view;
        std::string error;
        EXPECT_FALSE(wire::ParseBatch(frame.data(), frame.size(), &view, &error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    };
    auto put32 = [](std::vector<uint8_t>* f, size_t at, uint32_t v) { std::memcpy(f->data() + at, &v, 4); };
    auto put64 = [](std::vector<uint8_t>* f, size_t at, uint64_t v) { std::memcpy(f->data() + at, &v, 8); };
    {
        std::vector<uint8_t> f = good;
        f[4] = 1;  // version 1: a batch header without its sent time
        refused(f, "protocol version 1");
    }
    {
        std::vector<uint8_t> f = good;
        put64(&f, wire::kSentOffset, uint64_t{1} << 63);  // a negative sent time
        refused(f, "a time before 1970");
    }
    {
        std::vector<uint8_t> f(good.begin(), good.begin() + wire::kSentOffset + 4);
        refused(f, "the frame ends inside the header");
    }
    {
        std::vector<uint8_t> f = good;
        put32(&f, 12, 0xFFFFFFFFu);  // result count
        refused(f, "results (at most");
    }
    {
        std::vector<uint8_t> f = good;
        put32(&f, 12, 4000);  // more results than the frame can hold
        refused(f, "the frame ends");
    }
    {
        std::vector<uint8_t> f = good;
        put32(&f, kResult + 8, 1u << 30);  // attribute count
        refused(f, "attributes (at most");
    }
    {
        std::vector<uint8_t> f = good;
        put32(&f, kStamp, 44);  // an array of results: handles never travel
        refused(f, "element type 44");
    }
    {
        std::vector<uint8_t> f = good;
        put32(&f, kPoints + 8, 4096);  // a point count that does not match its bytes
        refused(f, "bytes for its lengths");
    }
    {
        std::vector<uint8_t> f = good;
        put64(&f, kPoints + 24, uint64_t{1} << 62);  // a byte count beyond any frame
        refused(f, "bytes for its lengths");
    }
    {
        std::vector<uint8_t> f = good;
        put32(&f, kPoints + 8, 0x7FFFFFFF);  // a length beyond the limit
        refused(f, "length 2147483647");
    }
    {
        std::vector<uint8_t> f = good;
        f.push_back(0);
        refused(f, "after the end");
    }
    // An array that holds nothing, yet whose lengths multiply beyond what
    // the platform makes: refused here, not failed later.
    {
        std::vector<uint8_t> f(good.begin(), good.begin() + kResult);
        put32(&f, 12, 1);  // one result
        const uint8_t result[16] = {3, 0, 0, 0, 0, 0, 0, 0, /*attributes*/ 0, 0, 0, 0, /*arrays*/ 1, 0, 0, 0};
        f.insert(f.end(), result, result + 16);
        std::vector<uint8_t> array(32, 0);
        const uint32_t type = ZV_TYPE_INT8;
        const uint32_t dims = 3;
        const int32_t lengths[3] = {196608, 524288, 0};
        std::memcpy(array.data(), &type, 4);
        std::memcpy(array.data() + 4, &dims, 4);
        std::memcpy(array.data() + 8, lengths, 12);
        f.insert(f.end(), array.begin(), array.end());
        refused(f, "more elements than a frame holds");
    }
    // Layouts: intensities for another number of points than the profile's.
    {
        Results result;
        zvHandle r = nullptr;
        ASSERT_EQ(zvResultCreate(&r, nullptr), ZV_OK);
        result.handles.push_back(r);
        const int64_t attributes[] = {1000, 1};
        ASSERT_EQ(zvResultInit(r, 0, attributes, 2), ZV_OK);
        const int32_t stamp[] = {1};
        const int32_t points[] = {8, 2};
        const int32_t intensity[] = {7, 4};
        for (auto [type, dims, lengths] : {std::tuple{ZV_TYPE_STAMP, 1, stamp}, std::tuple{ZV_TYPE_INT16, 2, points},
                                           std::tuple{ZV_TYPE_UINT8, 2, intensity}}) {
            zvHandle a = nullptr;
            ASSERT_EQ(zvArrayCreate(&a, nullptr, type, dims, lengths), ZV_OK);
            ASSERT_EQ(zvResultAddData(r, a), ZV_OK);
        }
        std::vector<uint8_t> f;
        std::string error;
        ASSERT_TRUE(wire::EncodeBatch({}, result.handles, &f, &error)) << error;
        refused(f, "intensities of 7 points for 8 profile points");
    }
    // A slice claiming more points than its row holds.
    {
        std::vector<std::vector<uint8_t>> slices;
        std::vector<std::string> ignored;
        Make("Detection", 1, &slices, &ignored);
        std::vector<uint8_t> f = slices[0];
        // The rows array follows the result header and one attribute; row
        // 0's count is its second cell.
        put64(&f, kResult + 16 + 8 + 32 + 8, 361);
        refused(f, "counts 361 points of 360");
    }
}

// What MeasureBatch refuses never reaches a frame.
TEST_F(FramesTest, ResultsThatCannotTravelAreNamed) {
    Results result;
    zvHandle r = nullptr;
    ASSERT_EQ(zvResultCreate(&r, nullptr), ZV_OK);
    result.handles.push_back(r);
    ASSERT_EQ(zvResultInit(r, 3, nullptr, 0), ZV_OK);
    zvHandle a = nullptr;
    const int32_t lengths[] = {2};
    ASSERT_EQ(zvArrayCreate(&a, nullptr, ZV_TYPE_SENSOR_ENTRY, 1, lengths), ZV_OK);
    ASSERT_EQ(zvResultAddData(r, a), ZV_OK);
    std::vector<uint8_t> frame;
    std::string error;
    EXPECT_FALSE(wire::EncodeBatch({}, result.handles, &frame, &error));
    EXPECT_NE(error.find("result 0: array 0: element type 352 cannot travel"), std::string::npos) << error;
    zvHandle notResult = nullptr;
    ASSERT_EQ(zvArrayCreate(&notResult, nullptr, ZV_TYPE_INT8, 1, lengths), ZV_OK);
    EXPECT_FALSE(wire::EncodeBatch({}, {notResult}, &frame, &error));
    EXPECT_NE(error.find("not a result"), std::string::npos) << error;
    zvObjectDestroy(notResult);
}

// A failing allocation while building leaves nothing behind.
TEST_F(FramesTest, AFailedBuildLeavesNothing) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::string> lines;
    Make("Free", 1, &frames, &lines);
    wire::BatchView view;
    std::string error;
    ASSERT_TRUE(wire::ParseBatch(frames[0].data(), frames[0].size(), &view, &error)) << error;
    const int64_t before = zv::testing::LiveObjects();
    zv::testing::FailCall("zvArrayCreate", 5, ZV_E_NOMEM);
    std::vector<zvHandle> results;
    EXPECT_EQ(wire::BuildResults(view, &results), ZV_E_NOMEM);
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(zv::testing::LiveObjects(), before);
}

}  // namespace
