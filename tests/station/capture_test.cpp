// Captures: the writer's segments read back by the replay source, whole
// batches across segments, and segments that are whole or absent.
#include "zvstation/capture.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_space.hpp"
#include "zvstation/replay.hpp"
#include "zvstation/station.hpp"

namespace zs = zv::station;

namespace {

// Batches of a small simulated station (four sensors, eight points a
// profile), owned until the end of the test.
class Deliveries {
public:
    Deliveries(const std::filesystem::path& root, const std::string& mode, int count) {
        bool created = false;
        std::string error;
        EXPECT_TRUE(zs::EnsureDemoStation(root, 4, 1, &created, &error)) << error;
        zs::Options options;
        options.profilePoints = 8;
        EXPECT_TRUE(station_.Open(root, options, &error)) << error;
        station_.SetMode(1, mode);
        station_.StartDelivery(1);
        for (int i = 0; i < count; ++i) {
            std::vector<zvHandle> batch;
            EXPECT_EQ(station_.NextBatch(&batch), ZV_OK);
            batches.push_back(batch);
        }
    }
    ~Deliveries() {
        for (const auto& batch : batches)
            for (zvHandle h : batch) zvObjectDestroy(h);
    }
    // The lines of every batch as the replay format writes them.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (size_t b = 0; b < batches.size(); ++b)
            for (zvHandle h : batches[b]) lines.push_back(zs::ReplayLine(h, static_cast<int64_t>(b)));
        return lines;
    }
    std::vector<std::vector<zvHandle>> batches;

private:
    zs::Station station_;
};

// Everything a replay of `files` hands out, as lines, and its batch sizes.
std::vector<std::string> Replayed(const std::vector<std::filesystem::path>& files, std::vector<size_t>* sizes) {
    zs::Replay replay;
    std::string error;
    EXPECT_TRUE(replay.Load(files, &error)) << error;
    std::vector<std::string> lines;
    for (int64_t b = 0;; ++b) {
        std::vector<zvHandle> batch;
        EXPECT_EQ(replay.NextBatch(&batch), ZV_OK);
        if (batch.empty()) break;
        sizes->push_back(batch.size());
        for (zvHandle h : batch) {
            lines.push_back(zs::ReplayLine(h, b));
            zvObjectDestroy(h);
        }
    }
    return lines;
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Capture, SegmentsReplayAsTheBatchesThatWereRecorded) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 12);
    struct Case {
        int64_t segmentBytes;
        bool several;
    };
    // One segment for everything; a size that splits batches (a Free batch
    // is four profiles); one result a segment (each line is larger).
    for (const Case& c : {Case{200000000, false}, Case{3000, true}, Case{1, true}}) {
        SCOPED_TRACE(c.segmentBytes);
        const std::filesystem::path folder = space.Path() / ("capture-" + std::to_string(c.segmentBytes));
        zs::CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(folder, c.segmentBytes, &error)) << error;
        for (const auto& batch : free.batches) {
            ASSERT_TRUE(writer.WriteBatch(batch, &error)) << error;
            EXPECT_EQ(error, "");
        }
        ASSERT_TRUE(writer.Close(&error)) << error;
        EXPECT_EQ(writer.Batches(), 12);
        EXPECT_EQ(writer.Results(), 48);

        std::vector<std::filesystem::path> files;
        ASSERT_TRUE(zs::ReplayFiles({folder}, &files, &error)) << error;
        EXPECT_EQ(files.size() > 1, c.several);
        EXPECT_EQ(static_cast<int64_t>(files.size()), writer.Segments());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].filename(), zs::SegmentName(static_cast<int64_t>(i) + 1));
            const auto size = static_cast<int64_t>(std::filesystem::file_size(files[i]));
            // A segment is within its size, unless it holds one result only.
            std::ifstream in(files[i]);
            const auto lines = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
            EXPECT_TRUE(size <= c.segmentBytes || lines == 1) << files[i] << " " << size;
        }
        std::vector<size_t> sizes;
        EXPECT_EQ(Replayed(files, &sizes), free.Lines());
        EXPECT_EQ(sizes, std::vector<size_t>(12, 4u));  // batches rejoin across segments
    }
}

TEST(Capture, ASegmentIsWholeOrAbsent) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 2);
    const std::filesystem::path folder = space.Path() / "capture";
    zs::CaptureWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(folder, 200000000, &error)) << error;
    ASSERT_TRUE(writer.WriteBatch(free.batches[0], &error)) << error;
    // While the segment is being written only its hidden temporary file
    // exists: nothing to replay yet.
    EXPECT_EQ(Names(folder), std::vector<std::string>{".segment-0001.jsonl.part"});
    std::vector<std::filesystem::path> files;
    EXPECT_FALSE(zs::ReplayFiles({folder}, &files, &error));
    ASSERT_TRUE(writer.WriteBatch(free.batches[1], &error)) << error;
    EXPECT_EQ(writer.TakeCompleted(), std::vector<std::filesystem::path>{});
    ASSERT_TRUE(writer.Close(&error)) << error;
    EXPECT_EQ(Names(folder), std::vector<std::string>{"segment-0001.jsonl"});
    EXPECT_EQ(writer.TakeCompleted(), std::vector<std::filesystem::path>{folder / "segment-0001.jsonl"});
}

TEST(Capture, AFailedWriteEndsTheCaptureAndLeavesNoPartOfASegment) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 3);
    std::string error;
    {
        // The second segment cannot be completed: its name is taken by a
        // folder that is not empty.
        const std::filesystem::path folder = space.Path() / "taken";
        std::filesystem::create_directories(folder / "segment-0002.jsonl" / "x");
        zs::CaptureWriter writer;
        ASSERT_TRUE(writer.Open(folder, 1, &error)) << error;
        EXPECT_FALSE(writer.WriteBatch(free.batches[0], &error));  // one result a segment
        EXPECT_NE(error.find("segment-0002.jsonl"), std::string::npos) << error;
        EXPECT_FALSE(writer.IsOpen());
        // Segment 1 is complete; the folder in segment 2's way is all there
        // is of that name, and no temporary file is left.
        EXPECT_EQ(Names(folder), (std::vector<std::string>{"segment-0001.jsonl", "segment-0002.jsonl"}));
        EXPECT_TRUE(std::filesystem::is_directory(folder / "segment-0002.jsonl"));
        EXPECT_FALSE(writer.WriteBatch(free.batches[1], &error));
    }
    {
        // The first segment cannot even start.
        const std::filesystem::path folder = space.Path() / "blocked";
        std::filesystem::create_directories(folder / ".segment-0001.jsonl.part");
        zs::CaptureWriter writer;
        ASSERT_TRUE(writer.Open(folder, 1000, &error)) << error;
        EXPECT_FALSE(writer.WriteBatch(free.batches[0], &error));
        EXPECT_FALSE(writer.IsOpen());
    }
    // A folder that holds a capture already is not written into.
    zs::CaptureWriter writer;
    ASSERT_TRUE(writer.Open(space.Path() / "once", 1000, &error));
    ASSERT_TRUE(writer.WriteBatch(free.batches[0], &error));
    ASSERT_TRUE(writer.Close(&error));
    EXPECT_FALSE(writer.Open(space.Path() / "once", 1000, &error));
}

TEST(Capture, ResultsTheFormatCannotHoldAreLeftOutAndNamed) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 1);
    zvHandle odd = nullptr;
    ASSERT_EQ(zvResultCreate(&odd, nullptr), ZV_OK);
    ASSERT_EQ(zvResultInit(odd, 3, nullptr, 0), ZV_OK);
    zvHandle image = nullptr;
    const int32_t lengths[] = {2, 2};
    ASSERT_EQ(zvArrayCreate(&image, nullptr, ZV_TYPE_IMAGE8, 2, lengths), ZV_OK);
    ASSERT_EQ(zvResultAddData(odd, image), ZV_OK);
    zvHandle nan = nullptr;
    ASSERT_EQ(zvResultCreate(&nan, nullptr), ZV_OK);
    ASSERT_EQ(zvResultInit(nan, 4, nullptr, 0), ZV_OK);
    zvHandle values = nullptr;
    ASSERT_EQ(zvArray1Create(&values, nullptr, ZV_TYPE_FLOAT64, 2), ZV_OK);
    static_cast<double*>(zvArray1At(values, 1))[0] = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(zvResultAddData(nan, values), ZV_OK);

    std::vector<zvHandle> batch = free.batches[0];
    batch.insert(batch.begin() + 1, odd);
    batch.push_back(nan);
    zs::CaptureWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(space.Path() / "capture", 1000000, &error));
    EXPECT_TRUE(writer.WriteBatch(batch, &error));
    EXPECT_NE(error.find("element type 146"), std::string::npos) << error;
    EXPECT_NE(error.find("not finite"), std::string::npos) << error;
    EXPECT_EQ(writer.Results(), 4);
    ASSERT_TRUE(writer.Close(&error));
    std::vector<size_t> sizes;
    EXPECT_EQ(Replayed({space.Path() / "capture" / "segment-0001.jsonl"}, &sizes), free.Lines());
    zvObjectDestroy(odd);
    zvObjectDestroy(nan);
}

TEST(Capture, ReplayFilesTakesFilesAsGivenAndFoldersInSegmentOrder) {
    zvtest::TempFileSpace space("zvcapture");
    const std::filesystem::path folder = space.Path() / "capture";
    std::filesystem::create_directories(folder);
    for (const char* name : {"segment-0010.jsonl", "segment-0002.jsonl", "segment-10000.jsonl", ".segment-0011.jsonl.part",
                             "notes.txt"})
        std::ofstream(folder / name) << "\n";
    std::ofstream(space.Path() / "one.jsonl") << "\n";
    std::vector<std::filesystem::path> files;
    std::string error;
    ASSERT_TRUE(zs::ReplayFiles({space.Path() / "one.jsonl", folder}, &files, &error)) << error;
    EXPECT_EQ(files, (std::vector<std::filesystem::path>{space.Path() / "one.jsonl", folder / "segment-0002.jsonl",
                                                         folder / "segment-0010.jsonl", folder / "segment-10000.jsonl"}));
    EXPECT_FALSE(zs::ReplayFiles({space.Path() / "missing"}, &files, &error));
    EXPECT_NE(error.find("missing"), std::string::npos);
    std::filesystem::create_directories(space.Path() / "empty");
    EXPECT_FALSE(zs::ReplayFiles({space.Path() / "empty"}, &files, &error));
    EXPECT_NE(error.find("no capture segment"), std::string::npos);
}

TEST(Capture, NewFoldersAreNamedByTimeAndNeverReused) {
    zvtest::TempFileSpace space("zvcapture");
    const std::time_t t = 1706711101;  // 2024-01-31 14:25:01 UTC
    const std::filesystem::path first = zs::NewCaptureFolder(space.Path(), t);
    EXPECT_EQ(first, space.Path() / "Capture" / "20240131-142501");
    std::filesystem::create_directories(first);
    EXPECT_EQ(zs::NewCaptureFolder(space.Path(), t), space.Path() / "Capture" / "20240131-142501-2");
}

TEST(Capture, AReplayErrorNamesTheSegment) {
    zvtest::TempFileSpace space("zvcapture");
    std::ofstream(space.Path() / "a.jsonl") << R"({"id": 1, "batch": 0})" << "\n";
    std::ofstream(space.Path() / "b.jsonl") << R"({"id": 1, "batch": 0})" << "\n" << "{oops\n";
    zs::Replay replay;
    std::string error;
    EXPECT_FALSE(replay.Load(std::vector<std::filesystem::path>{space.Path() / "a.jsonl", space.Path() / "b.jsonl"},
                             &error));
    EXPECT_NE(error.find("b.jsonl: line 2"), std::string::npos) << error;
    // One file alone is named once, whatever is wrong with it.
    const std::filesystem::path gone = space.Path() / "gone.jsonl";
    EXPECT_FALSE(replay.Load(gone, &error));
    EXPECT_EQ(error, gone.string() + ": cannot open it");
    const std::string b = (space.Path() / "b.jsonl").string();
    EXPECT_FALSE(zs::LoadReplay({b}, &replay, &error));
    EXPECT_EQ(error.rfind(b + ": line 2: ", 0), 0u) << error;
    EXPECT_EQ(error.find(b, 1), std::string::npos) << error;
}

}  // namespace
