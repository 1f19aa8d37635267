// The index of a capture's batches: equal to what a full reading finds,
// kept beside the segments and used while they are as they were, made again
// when it is missing, stale, damaged or does not fit; seeks read nothing
// before the batch they go to.
#include "zvstation/replay_index.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "support/capture_support.hpp"
#include "support/temp_space.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/replay.hpp"

namespace zs = zv::station;
namespace fs = std::filesystem;

namespace {

// Each batch a replay hands out from where it stands, as lines.
std::vector<std::vector<std::string>> Rest(zs::Replay* replay) {
    std::vector<std::vector<std::string>> batches;
    for (;;) {
        std::vector<zvHandle> batch;
        EXPECT_EQ(replay->NextBatch(&batch), ZV_OK);
        if (batch.empty()) return batches;
        batches.emplace_back();
        for (zvHandle h : batch) {
            batches.back().push_back(zs::ReplayLine(h, 0));
            zvObjectDestroy(h);
        }
    }
}

bool SameBatches(const zs::ReplayIndex& a, const zs::ReplayIndex& b) {
    if (a.batches.size() != b.batches.size() || a.files.size() != b.files.size() || a.keys != b.keys) return false;
    for (size_t i = 0; i < a.files.size(); ++i) {
        const auto& x = a.files[i];
        const auto& y = b.files[i];
        if (x.path != y.path || x.size != y.size || x.modified != y.modified || x.limit != y.limit || x.note != y.note)
            return false;
    }
    for (size_t i = 0; i < a.batches.size(); ++i) {
        const auto& x = a.batches[i];
        const auto& y = b.batches[i];
        if (x.file != y.file || x.offset != y.offset || x.line != y.line || x.numbered != y.numbered ||
            x.number != y.number || x.results != y.results || x.stamped != y.stamped || x.encoder != y.encoder ||
            x.time != y.time)
            return false;
    }
    return true;
}

// A capture of `count` Free batches, two a segment, and its segments.
struct Recorded {
    zvtest::TempFileSpace space{"zvindex"};
    fs::path folder;
    std::vector<fs::path> files;
    std::vector<std::vector<std::string>> batches;  // as a full reading hands them out

    explicit Recorded(int count) {
        zvtest::Deliveries free(space.Path(), "Free", count);
        zs::CaptureWriter writer;
        std::string error;
        EXPECT_TRUE(writer.Open("Capture/c", 4000, &error)) << error;
        for (const auto& batch : free.batches) EXPECT_TRUE(writer.WriteBatch(batch, &error)) << error;
        EXPECT_TRUE(writer.Close(&error)) << error;
        folder = space.Host("Capture/c");
        EXPECT_TRUE(zs::ReplayFiles({folder}, &files, &error)) << error;
        zs::Replay full;
        EXPECT_TRUE(full.Load(files, &error)) << error;
        batches = Rest(&full);
    }
    fs::path Index() const { return folder / zs::kReplayIndexName; }
};

TEST(ReplayIndex, KeptBesideTheCaptureAndEqualToAFullReading) {
    Recorded capture(12);
    ASSERT_EQ(capture.batches.size(), 12u);
    std::string error;
    zs::Replay scanned;
    ASSERT_TRUE(scanned.Load(capture.files, &error)) << error;
    EXPECT_FALSE(fs::exists(capture.Index()));

    zs::Replay first;  // makes the index
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &first, &error)) << error;
    ASSERT_TRUE(fs::exists(capture.Index()));
    zs::ReplayIndex stored;
    ASSERT_TRUE(zs::ReadReplayIndex(capture.Index(), capture.folder, &stored, &error)) << error;
    EXPECT_TRUE(SameBatches(stored, scanned.Index()));
    EXPECT_TRUE(SameBatches(first.Index(), scanned.Index()));
    // Free profiles carry stamps: each batch knows its time, 20 ms apart.
    for (size_t b = 0; b < stored.batches.size(); ++b) {
        EXPECT_TRUE(stored.batches[b].stamped);
        EXPECT_NEAR(static_cast<double>(stored.batches[b].time), static_cast<double>(b) * 20000, 1.0) << b;
        EXPECT_EQ(stored.batches[b].number, static_cast<int64_t>(b));
    }
    // ... and what each of its results is: a profile (0) of each sensor.
    ASSERT_EQ(stored.keys.size(), scanned.ResultCount());
    std::set<uint32_t> sensors;
    for (const auto& key : stored.keys) {
        EXPECT_EQ(key.id, 0u);
        sensors.insert(key.first);
    }
    EXPECT_EQ(sensors.size(), static_cast<size_t>(stored.keys.size() / stored.batches.size()));

    // A later replay seeks with it to every batch, and on from there.
    zs::Replay second;
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &second, &error)) << error;
    EXPECT_EQ(second.BatchCount(), 12u);
    EXPECT_EQ(second.ResultCount(), scanned.ResultCount());
    for (size_t n : {size_t{7}, size_t{0}, size_t{11}, size_t{3}, size_t{12}, size_t{4}}) {
        SCOPED_TRACE(n);
        ASSERT_EQ(second.Seek(n), ZV_OK);
        EXPECT_EQ(second.Position(), n);
        const auto rest = Rest(&second);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), capture.batches.begin() + static_cast<ptrdiff_t>(n),
                               capture.batches.end()));
        EXPECT_EQ(second.Position(), 12u);
    }
    EXPECT_EQ(second.Seek(13), ZV_E_ARGUMENT);
}

TEST(ReplayIndex, ASeekReadsNothingBeforeItsBatch) {
    Recorded capture(8);
    std::string error;
    zs::Replay first;
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &first, &error)) << error;
    // The first segment damaged where its first batch lies, keeping its
    // size and time: a full reading refuses it, the indexed one never reads it.
    const fs::path segment = capture.files.front();
    struct stat before {};
    ASSERT_EQ(::stat(segment.c_str(), &before), 0);
    {
        std::fstream f(segment, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(120);
        f.write("\x01\x02\x03", 3);
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, segment.c_str(), times, 0), 0);
    zs::Replay full;
    EXPECT_FALSE(full.Load(capture.files, &error));

    zs::Replay indexed;
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &indexed, &error)) << error;
    ASSERT_EQ(indexed.Seek(5), ZV_OK);
    const auto rest = Rest(&indexed);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), capture.batches.begin() + 5, capture.batches.end()));
}

TEST(ReplayIndex, MissingStaleDamagedOrForgedIndexIsMadeAgain) {
    const struct {
        const char* name;
        std::function<void(const Recorded&)> spoil;
    } cases[] = {
        {"missing", [](const Recorded& c) { fs::remove(c.Index()); }},
        {"cut short", [](const Recorded& c) { fs::resize_file(c.Index(), fs::file_size(c.Index()) / 2); }},
        {"a byte changed",
         [](const Recorded& c) {
             std::fstream f(c.Index(), std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(static_cast<std::streamoff>(fs::file_size(c.Index()) / 2));
             f.put('\x7f');
         }},
        {"not an index", [](const Recorded& c) { std::ofstream(c.Index()) << "{\"batches\": []}\n"; }},
        {"a segment changed since",
         [](const Recorded& c) { std::ofstream(c.files.back(), std::ios::app) << "# a note added later\n"; }},
        {"a segment more", [](const Recorded& c) { fs::copy_file(c.files.back(), c.folder / zs::SegmentName(99)); }},
        {"offsets beyond the files",
         [](const Recorded& c) {
             zs::ReplayIndex index;
             std::string error;
             ASSERT_TRUE(zs::ReadReplayIndex(c.Index(), c.folder, &index, &error)) << error;
             index.batches[3].offset = index.files[index.batches[3].file].size + 100;
             ASSERT_TRUE(zs::WriteReplayIndex(c.Index(), index, &error)) << error;
         }},
        {"keys of fewer results",
         [](const Recorded& c) {
             zs::ReplayIndex index;
             std::string error;
             ASSERT_TRUE(zs::ReadReplayIndex(c.Index(), c.folder, &index, &error)) << error;
             index.keys.pop_back();
             ASSERT_TRUE(zs::WriteReplayIndex(c.Index(), index, &error)) << error;
         }},
        {"of the format before keys",
         [](const Recorded& c) {
             std::fstream f(c.Index(), std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(6);
             f.put('1');
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recorded capture(8);
        std::string error;
        zs::Replay first;
        ASSERT_TRUE(zs::LoadReplay({capture.folder}, &first, &error)) << error;
        c.spoil(capture);
        std::vector<fs::path> files;
        ASSERT_TRUE(zs::ReplayFiles({capture.folder}, &files, &error)) << error;
        zs::Replay scanned;
        ASSERT_TRUE(scanned.Load(files, &error)) << error;

        zs::Replay replay;
        ASSERT_TRUE(zs::LoadReplay({capture.folder}, &replay, &error)) << error;
        EXPECT_TRUE(SameBatches(replay.Index(), scanned.Index()));
        ASSERT_EQ(replay.Seek(2), ZV_OK);
        const auto rest = Rest(&replay);
        ASSERT_EQ(scanned.Seek(2), ZV_OK);
        EXPECT_EQ(rest, Rest(&scanned));
        zs::ReplayIndex stored;
        ASSERT_TRUE(zs::ReadReplayIndex(capture.Index(), capture.folder, &stored, &error)) << error;
        EXPECT_TRUE(SameBatches(stored, scanned.Index())) << "the index was not made again";
    }
}

TEST(ReplayIndex, AFolderThatCannotTakeTheIndexStillReplays) {
    Recorded capture(6);
    // Where the index would go, a folder that cannot be replaced.
    fs::create_directories(capture.Index() / "inside");
    std::string error;
    zs::Replay replay;
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &replay, &error)) << error;
    EXPECT_EQ(replay.BatchCount(), 6u);
    ASSERT_EQ(replay.Seek(4), ZV_OK);
    EXPECT_EQ(Rest(&replay).size(), 2u);
    EXPECT_TRUE(fs::is_directory(capture.Index()));
    for (const auto& entry : fs::directory_iterator(capture.folder))
        EXPECT_EQ(entry.path().extension() == ".tmp", false) << "a temporary index was left";
}

TEST(ReplayIndex, StreamsAndCutSegmentsSeekToo) {
    zs::Replay replay;
    std::string error;
    ASSERT_TRUE(replay.Load(std::make_unique<std::istringstream>("# a recording\n{\"batch\": 4, \"id\": 1}\n"
                                                                 "{\"batch\": 4, \"id\": 2}\n\n{\"id\": 3}\n"
                                                                 "{\"batch\": 9, \"id\": 4}\n"),
                            &error))
        << error;
    ASSERT_EQ(replay.BatchCount(), 3u);
    ASSERT_EQ(replay.Seek(1), ZV_OK);
    auto rest = Rest(&replay);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_NE(rest[0][0].find("\"id\":3"), std::string::npos);
    ASSERT_EQ(replay.Seek(0), ZV_OK);
    rest = Rest(&replay);
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(rest[0].size(), 2u);

    // A segment the capture did not complete: its index ends at its last
    // whole batch, as its reading does.
    Recorded capture(4);
    std::ofstream(capture.files.back(), std::ios::app) << "{\"batch\": 4, \"id\": 0}\n";
    zs::Replay cut;
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &cut, &error)) << error;
    EXPECT_EQ(cut.BatchCount(), 4u);
    EXPECT_EQ(cut.Notes().size(), 1u);
    zs::Replay again;  // from the index, with the same note
    ASSERT_TRUE(zs::LoadReplay({capture.folder}, &again, &error)) << error;
    EXPECT_EQ(again.Notes(), cut.Notes());
    ASSERT_EQ(again.Seek(3), ZV_OK);
    EXPECT_EQ(Rest(&again), std::vector<std::vector<std::string>>(capture.batches.begin() + 3, capture.batches.end()));
}

}  // namespace
