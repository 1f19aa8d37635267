// Captures: the writer's segments read back by the replay source, whole
// batches in one segment each, segments bounded by size and by time, and a
// capture that a crash or a failed write interrupts keeping every whole
// batch it wrote.
#include "zvstation/capture.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "support/capture_support.hpp"
#include "support/fault_loop.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/replay.hpp"
#include "zvstation/station.hpp"

namespace zs = zv::station;
namespace fs = std::filesystem;
using zvtest::Deliveries;
using zvtest::Replayed;

namespace {

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The hidden files in `folder`: temporary files of segments being written.
std::vector<std::string> Hidden(const fs::path& folder) {
    std::vector<std::string> hidden;
    for (const std::string& name : Names(folder))
        if (name[0] == '.') hidden.push_back(name);
    return hidden;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Capture, SegmentsReplayAsTheBatchesThatWereRecorded) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 12);
    struct Case {
        int64_t segmentBytes;
        size_t segments;
    };
    // One segment for everything; a size that holds two batches (a Free
    // batch is four profiles); one batch a segment (each is larger).
    for (const Case& c : {Case{200000000, 1}, Case{4000, 6}, Case{1, 12}}) {
        SCOPED_TRACE(c.segmentBytes);
        const std::string folder = "capture-" + std::to_string(c.segmentBytes);
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

        std::vector<fs::path> files;
        ASSERT_TRUE(zs::ReplayFiles({space.Host(folder)}, &files, &error)) << error;
        EXPECT_EQ(files.size(), c.segments);
        EXPECT_EQ(static_cast<int64_t>(files.size()), writer.Segments());
        const auto completed = writer.TakeCompleted();
        ASSERT_EQ(completed.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].filename(), zs::SegmentName(static_cast<int64_t>(i) + 1));
            EXPECT_EQ(completed[i].path, folder + "/" + zs::SegmentName(static_cast<int64_t>(i) + 1));
            const std::string text = zvtest::ReadHostFile(files[i]);
            EXPECT_EQ(completed[i].bytes, static_cast<int64_t>(text.size()));
            // Within its size unless it holds one batch, and every batch in
            // it whole: four results and the batch's end line.
            const size_t batches = Count(text, "\n# end of batch ");
            EXPECT_TRUE(static_cast<int64_t>(text.size()) <= c.segmentBytes || batches == 1) << files[i];
            EXPECT_EQ(text.rfind(zs::kSegmentHeader, 0), 0u);
            EXPECT_EQ(Count(text, "{\"attributes\""), 4 * batches);
        }
        std::vector<size_t> sizes;
        EXPECT_TRUE(Replayed({space.Host(folder)}, &sizes) == free.Lines())
            << "the replay differs from what was recorded";
        EXPECT_EQ(sizes, std::vector<size_t>(12, 4u));
    }
}

// Batches are recorded into the same segment for at most the segment time;
// the next batch starts the next segment.
TEST(Capture, SegmentsAreBoundedByTimeAsWellAsBySize) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 10);
    double now = 100;
    zs::CaptureWriter writer;
    writer.SetClock([&] { return now; });
    writer.SetSegmentSeconds(1.0);
    std::string error;
    ASSERT_TRUE(writer.Open("capture", 200000000, &error)) << error;
    for (const auto& batch : free.batches) {
        ASSERT_TRUE(writer.WriteBatch(batch, &error)) << error;
        now += 0.4;  // three batches a segment: at 0, 0.4 and 0.8 seconds
    }
    ASSERT_TRUE(writer.Close(&error)) << error;
    std::vector<fs::path> files;
    ASSERT_TRUE(zs::ReplayFiles({space.Host("capture")}, &files, &error)) << error;
    ASSERT_EQ(files.size(), 4u);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(Count(zvtest::ReadHostFile(files[i]), "\n# end of batch "), i < 3 ? 3u : 1u) << files[i];
}

// What a capture still being written holds replays up to its last whole
// batch: a batch half written, or a line torn, is cut with a message that
// names the file and what was cut.
TEST(Capture, ACaptureInProgressReplaysUpToItsLastWholeBatch) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 3);
    zs::CaptureWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open("capture", 200000000, &error)) << error;
    for (const auto& batch : free.batches) ASSERT_TRUE(writer.WriteBatch(batch, &error)) << error;
    // Only the segment's temporary file exists; it replays all the same.
    const std::vector<std::string> hidden = Hidden(space.Host("capture"));
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden[0].rfind(".segment-0001.jsonl.", 0), 0u) << hidden[0];
    const fs::path part = space.Host("capture") / hidden[0];
    std::vector<size_t> sizes;
    EXPECT_TRUE(Replayed({space.Host("capture")}, &sizes) == free.Lines())
        << "the replay differs from what was recorded";

    const std::string whole = zvtest::ReadHostFile(part);
    const std::vector<std::string> lines = free.Lines();
    struct Case {
        const char* name;
        std::string tail;
        const char* note;
    };
    for (const Case& c :
         {Case{"a line of the next batch", zs::ReplayLine(free.batches[0][0], 3) + "\n", "1 line of batch 3"},
          Case{"a torn line", lines[0].substr(0, 30), "(the last of them torn)"},
          Case{"a whole line and a torn one", zs::ReplayLine(free.batches[0][0], 3) + "\n{\"batch\": 3, \"id",
               "2 lines of batch 3"}}) {
        SCOPED_TRACE(c.name);
        zvtest::WriteHostFile(part, whole + c.tail);
        zs::Replay replay;
        ASSERT_TRUE(zs::LoadReplay({space.Host("capture")}, &replay, &error)) << error;
        EXPECT_EQ(replay.BatchCount(), 3u);
        ASSERT_EQ(replay.Notes().size(), 1u);
        const std::string& note = replay.Notes()[0];
        EXPECT_EQ(note.rfind(part.string() + ": cut after line ", 0), 0u) << note;
        EXPECT_NE(note.find(c.note), std::string::npos) << note;
        sizes.clear();
        EXPECT_TRUE(Replayed({space.Host("capture")}, &sizes) == lines) << "the replay differs from what was recorded";
    }
    zvtest::WriteHostFile(part, whole);
    ASSERT_TRUE(writer.Close(&error)) << error;
    EXPECT_EQ(Names(space.Host("capture")), std::vector<std::string>{"segment-0001.jsonl"});
}

// A bad line before a segment's last whole batch is an error, as in any
// recording: only what follows the last end line is taken for unfinished.
TEST(Capture, ASegmentIsCheckedUpToItsLastEndLine) {
    zvtest::TempFileSpace space("zvcapture");
    const std::string header = std::string(zs::kSegmentHeader) + "\n";
    struct Case {
        std::string text;
        const char* error;
    };
    for (const Case& c : {Case{header + "{oops\n# end of batch 0\n", "line 2: not valid JSON"},
                          Case{header + "{\"batch\": 0, \"id\": 1}\n# end of batch 4\n", "line 3: the end of batch 4"},
                          Case{header + "{\"batch\": 0, \"id\": 1}\n# end of batch 0\n{\"batch\": 1, \"id\": 1}\n{x\n"
                                        "# end of batch 1\n",
                               "line 5: not valid JSON"}}) {
        space.Write("one.jsonl", c.text);
        zs::Replay replay;
        std::string error;
        EXPECT_FALSE(zs::LoadReplay({space.Host("one.jsonl")}, &replay, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    // A file that does not begin with the header is read as any recording:
    // end lines are comments like any other.
    space.Write("plain.jsonl", "{\"batch\": 0, \"id\": 1}\n# end of batch 0\n{\"batch\": 1, \"id\": 2}\n");
    zs::Replay replay;
    std::string error;
    ASSERT_TRUE(zs::LoadReplay({space.Host("plain.jsonl")}, &replay, &error)) << error;
    EXPECT_EQ(replay.BatchCount(), 2u);
    EXPECT_TRUE(replay.Notes().empty());
}

// A process killed while it records leaves its segment's temporary file;
// the next start cuts it after its last whole batch and names it, or
// removes it when nothing in it is whole. Files of live writers and the
// part files of earlier writers are handled too.
TEST(Capture, TheNextStartRecoversWhatAKilledCaptureLeft) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 4);
    // Recorded by a child that ends without completing anything.
    auto record = [&](const std::string& folder, int batches) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto* writer = new zs::CaptureWriter;  // never completed
            std::string error;
            bool ok = writer->Open(folder, 200000000, &error);
            for (int i = 0; ok && i < batches; ++i)
                ok = writer->WriteBatch(free.batches[static_cast<size_t>(i)], &error);
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(WEXITSTATUS(status), 0);
    };
    record("Capture/whole", 3);
    record("Capture/torn", 3);
    record("Capture/nothing", 1);
    record("Capture/live", 0);
    const auto tempOf = [&](const std::string& folder) {
        const std::vector<std::string> hidden = Hidden(space.Host(folder));
        return hidden.empty() ? fs::path() : space.Host(folder) / hidden.front();
    };
    const std::string torn = zvtest::ReadHostFile(tempOf("Capture/torn"));
    zvtest::WriteHostFile(tempOf("Capture/torn"), torn + zs::ReplayLine(free.batches[3][0], 3) + "\n{\"ba");
    const std::string nothing = zvtest::ReadHostFile(tempOf("Capture/nothing"));
    zvtest::WriteHostFile(tempOf("Capture/nothing"), nothing.substr(0, nothing.find("# end of batch")));
    // An earlier writer's part file: whole lines, the last one torn.
    space.Write("Capture/old/.segment-0002.jsonl.part", free.Lines()[0] + "\n" + free.Lines()[1] + "\n{\"batch\"");
    // A capture still being recorded here.
    zs::CaptureWriter live;
    std::string error;
    ASSERT_TRUE(live.Open("Capture/live2", 200000000, &error)) << error;
    ASSERT_TRUE(live.WriteBatch(free.batches[0], &error)) << error;

    const std::vector<zs::Recovered> recovered = zs::RecoverCaptures();
    ASSERT_EQ(recovered.size(), 4u);
    std::map<std::string, zs::Recovered> by;
    for (const zs::Recovered& r : recovered) by[r.path] = r;
    EXPECT_EQ(by["Capture/whole/segment-0001.jsonl"].cut, 0);
    EXPECT_GT(by["Capture/torn/segment-0001.jsonl"].cut, 0);
    EXPECT_EQ(by["Capture/torn/segment-0001.jsonl"].kept, static_cast<int64_t>(torn.size()));
    EXPECT_EQ(by["Capture/nothing/segment-0001.jsonl"].kept, 0);  // removed
    EXPECT_EQ(by["Capture/old/segment-0002.jsonl"].kept,
              static_cast<int64_t>(free.Lines()[0].size() + free.Lines()[1].size() + 2));
    for (const zs::Recovered& r : recovered) EXPECT_EQ(r.error, "") << r.path;

    const std::vector<std::string> all = free.Lines();
    const std::vector<std::string> three(all.begin(), all.begin() + 12);
    for (const char* folder : {"Capture/whole", "Capture/torn"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(Names(space.Host(folder)), std::vector<std::string>{"segment-0001.jsonl"});
        zs::Replay replay;
        ASSERT_TRUE(zs::LoadReplay({space.Host(folder)}, &replay, &error)) << error;
        EXPECT_TRUE(replay.Notes().empty());
        std::vector<size_t> sizes;
        EXPECT_TRUE(Replayed({space.Host(folder)}, &sizes) == three) << "the replay differs from what was recorded";
    }
    EXPECT_TRUE(Names(space.Host("Capture/nothing")).empty());
    EXPECT_TRUE(Names(space.Host("Capture/live")).empty());  // it never began a segment
    EXPECT_EQ(Hidden(space.Host("Capture/live2")).size(), 1u) << "a live capture's file was taken";
    ASSERT_TRUE(live.Close(&error)) << error;
    EXPECT_EQ(Names(space.Host("Capture/live2")), std::vector<std::string>{"segment-0001.jsonl"});
    EXPECT_TRUE(zs::RecoverCaptures().empty());
}

// The disk fills (or refuses) while a batch is written: the capture stops,
// and the segment keeps every batch before, whole, under its name.
TEST(Capture, AFailedWriteKeepsWhatIsWritten) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 6);
    struct Case {
        const char* name;
        std::vector<int> errors;  // the writes of batch 4, in turn
    };
    for (const Case& c : {Case{"a full disk", {ENOSPC}}, Case{"the limit on file sizes", {EFBIG}},
                          Case{"a short write, then a full disk", {zv::testing::kShortTransfer, ENOSPC}},
                          Case{"a broken disk", {EIO}}}) {
        SCOPED_TRACE(c.name);
        const std::string folder = std::string("capture-") + c.name;
        zs::CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(folder, 200000000, &error)) << error;
        for (size_t b = 0; b < 4; ++b) ASSERT_TRUE(writer.WriteBatch(free.batches[b], &error)) << error;
        {
            zv::testing::FailingSystemCalls fake;
            for (size_t i = 0; i < c.errors.size(); ++i) fake.Fail("write", static_cast<int>(i) + 1, c.errors[i]);
            EXPECT_FALSE(writer.WriteBatch(free.batches[4], &error));
            EXPECT_FALSE(fake.Pending());
        }
        EXPECT_NE(error.find("batch 4"), std::string::npos) << error;
        EXPECT_NE(error.find("keeping the batches before"), std::string::npos) << error;
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_FALSE(writer.WriteBatch(free.batches[5], &error));
        EXPECT_EQ(Names(space.Host(folder)), std::vector<std::string>{"segment-0001.jsonl"});
        zs::Replay replay;
        ASSERT_TRUE(zs::LoadReplay({space.Host(folder)}, &replay, &error)) << error;
        EXPECT_TRUE(replay.Notes().empty()) << replay.Notes()[0];
        std::vector<size_t> sizes;
        const std::vector<std::string> all = free.Lines();
        EXPECT_TRUE(Replayed({space.Host(folder)}, &sizes) == std::vector<std::string>(all.begin(), all.begin() + 16))
            << "the replay differs from what was recorded";
    }
}

// Every system call the writer makes failing in turn: whatever the writer
// reports, the capture replays (after the next start's recovery) and holds
// every batch it took, in order, and nothing is left half-written.
TEST(Capture, EveryFailingSystemCallKeepsEveryBatchTaken) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 5);
    int64_t taken = 0;
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        taken = 0;
        zs::CaptureWriter writer;
        std::string error;
        if (!writer.Open("Capture/c", 5000, &error)) return ZV_E_IO;  // two batches a segment
        for (const auto& batch : free.batches) {
            if (!writer.WriteBatch(batch, &error)) return ZV_E_IO;
            ++taken;
        }
        return writer.Close(&error) ? ZV_OK : ZV_E_IO;
    };
    // Of the zv calls, the file space's only: the others shape the results.
    loop.calls = {"zvDirectoryCreate"};
    loop.allocations = false;
    loop.systemCalls = true;
    loop.check = [&](const zvtest::Fault& fault, zvStatus status) { loop.systemCheck(fault, status); };
    loop.systemCheck = [&](const zvtest::Fault&, zvStatus status) {
        if (status > 0) {
            EXPECT_EQ(taken, 5);
        }
        zs::RecoverCaptures();
        if (taken == 0) return;
        std::vector<size_t> sizes;
        const std::vector<std::string> lines = Replayed({space.Host("Capture/c")}, &sizes);
        ASSERT_GE(lines.size(), static_cast<size_t>(4 * taken)) << "batches taken are lost";
        const std::vector<std::string> all = free.Lines();
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), all.begin()));
        EXPECT_TRUE(Hidden(space.Host("Capture/c")).empty());
    };
    loop.cleanup = [&] { fs::remove_all(space.Host("Capture")); };
    EXPECT_GT(loop.Run(), 20);
}

TEST(Capture, AFolderInTheWayEndsTheCaptureAndLeavesNoPartOfASegment) {
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 3);
    std::string error;
    // The second segment's name is taken by a folder.
    space.MakeFolder("taken/segment-0002.jsonl/x");
    zs::CaptureWriter writer;
    ASSERT_TRUE(writer.Open("taken", 1, &error)) << error;
    ASSERT_TRUE(writer.WriteBatch(free.batches[0], &error)) << error;
    EXPECT_FALSE(writer.WriteBatch(free.batches[1], &error));  // one batch a segment
    EXPECT_NE(error.find("segment-0002.jsonl"), std::string::npos) << error;
    EXPECT_FALSE(writer.IsOpen());
    // Segment 1 is complete; the folder in segment 2's way is all there is
    // of that name, and no temporary file is left.
    EXPECT_EQ(Names(space.Host("taken")), (std::vector<std::string>{"segment-0001.jsonl", "segment-0002.jsonl"}));
    EXPECT_TRUE(fs::is_directory(space.Host("taken/segment-0002.jsonl")));
    EXPECT_FALSE(writer.WriteBatch(free.batches[2], &error));

    // A folder that holds a capture already is not written into, nor one
    // that holds what an interrupted capture left.
    zs::CaptureWriter again;
    EXPECT_FALSE(again.Open("taken", 1000, &error));
    EXPECT_NE(error.find("holds a capture already"), std::string::npos) << error;
    space.Write("left/.segment-0001.jsonl.zvtmp.abc123", "# capture segment");
    EXPECT_FALSE(again.Open("left", 1000, &error));
}

// A capture never writes outside the file space: a "Capture" folder, or a
// capture's folder, that is a link leading out is refused.
TEST(Capture, FoldersThatLeadOutOfTheSpaceAreRefused) {
    zvtest::TempFileSpace outside("zvcapture-outside", zvtest::TempFileSpace::Root::kLeave);
    zvtest::TempFileSpace space("zvcapture");
    Deliveries free(space.Path(), "Free", 1);
    fs::create_directory_symlink(outside.Path(), space.Host("Capture"));
    space.MakeFolder("Elsewhere");
    fs::create_directory_symlink(outside.Path(), space.Host("Elsewhere/x"));
    for (const char* folder : {"Capture/20240131-142501", "Elsewhere/x/y", "Elsewhere/x"}) {
        SCOPED_TRACE(folder);
        zs::CaptureWriter writer;
        std::string error;
        const bool opened = writer.Open(folder, 1000, &error);
        if (opened) {
            EXPECT_FALSE(writer.WriteBatch(free.batches[0], &error));
        }
        EXPECT_NE(error.find("leads out of the file space"), std::string::npos) << error;
    }
    EXPECT_TRUE(outside.List().empty()) << "a capture wrote outside the file space";
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
    ASSERT_TRUE(writer.Open("capture", 1000000, &error));
    EXPECT_TRUE(writer.WriteBatch(batch, &error));
    EXPECT_NE(error.find("element type 146"), std::string::npos) << error;
    EXPECT_NE(error.find("not finite"), std::string::npos) << error;
    EXPECT_EQ(writer.Results(), 4);
    ASSERT_TRUE(writer.Close(&error));
    std::vector<size_t> sizes;
    EXPECT_TRUE(Replayed({space.Host("capture/segment-0001.jsonl")}, &sizes) == free.Lines())
        << "the replay differs from what was recorded";
    zvObjectDestroy(odd);
    zvObjectDestroy(nan);
}

TEST(Capture, ReplayFilesTakesFilesAsGivenAndFoldersInSegmentOrder) {
    zvtest::TempFileSpace space("zvcapture");
    const fs::path folder = space.Path() / "capture";
    fs::create_directories(folder);
    for (const char* name : {"segment-0010.jsonl", "segment-0002.jsonl", "segment-10000.jsonl",
                             ".segment-0011.jsonl.zvtmp.a1b2c3", ".segment-0003.jsonl.part", "notes.txt"})
        std::ofstream(folder / name) << "\n";
    std::ofstream(space.Path() / "one.jsonl") << "\n";
    std::vector<fs::path> files;
    std::string error;
    ASSERT_TRUE(zs::ReplayFiles({space.Path() / "one.jsonl", folder}, &files, &error)) << error;
    EXPECT_EQ(files, (std::vector<fs::path>{space.Path() / "one.jsonl", folder / "segment-0002.jsonl",
                                            folder / "segment-0010.jsonl", folder / ".segment-0011.jsonl.zvtmp.a1b2c3",
                                            folder / "segment-10000.jsonl"}));
    EXPECT_FALSE(zs::ReplayFiles({space.Path() / "missing"}, &files, &error));
    EXPECT_NE(error.find("missing"), std::string::npos);
    fs::create_directories(space.Path() / "empty");
    EXPECT_FALSE(zs::ReplayFiles({space.Path() / "empty"}, &files, &error));
    EXPECT_NE(error.find("no capture segment"), std::string::npos);
}

// A new capture's folder is made at once, so that two captures begun in
// the same second (by two hosts, say) never share one.
TEST(Capture, NewFoldersAreNamedByTimeAndNeverShared) {
    zvtest::TempFileSpace space("zvcapture");
    const std::time_t t = 1706711101;  // 2024-01-31 14:25:01 UTC
    std::string error;
    EXPECT_EQ(zs::NewCaptureFolder(t, &error), "Capture/20240131-142501");
    EXPECT_EQ(zs::NewCaptureFolder(t, &error), "Capture/20240131-142501-2");
    space.MakeFolder("Capture/20240131-142501-3");  // made by someone else
    EXPECT_EQ(zs::NewCaptureFolder(t, &error), "Capture/20240131-142501-4");
    EXPECT_EQ(space.List("Capture").size(), 4u);
    // A Capture folder that leads out of the space is no place for one.
    zvtest::TempFileSpace outside("zvcapture-outside", zvtest::TempFileSpace::Root::kLeave);
    fs::rename(space.Host("Capture"), space.Host("old"));
    fs::create_directory_symlink(outside.Path(), space.Host("Capture"));
    EXPECT_EQ(zs::NewCaptureFolder(t, &error), "");
    EXPECT_NE(error.find("leads out of the file space"), std::string::npos) << error;
    EXPECT_TRUE(outside.List().empty());
}

TEST(Capture, AReplayErrorNamesTheSegment) {
    zvtest::TempFileSpace space("zvcapture");
    std::ofstream(space.Path() / "a.jsonl") << R"({"id": 1, "batch": 0})"
                                            << "\n";
    std::ofstream(space.Path() / "b.jsonl") << R"({"id": 1, "batch": 0})"
                                            << "\n"
                                            << "{oops\n";
    zs::Replay replay;
    std::string error;
    EXPECT_FALSE(replay.Load(std::vector<fs::path>{space.Path() / "a.jsonl", space.Path() / "b.jsonl"}, &error));
    EXPECT_NE(error.find("b.jsonl: line 2"), std::string::npos) << error;
    // One file alone is named once, whatever is wrong with it.
    const fs::path gone = space.Path() / "gone.jsonl";
    EXPECT_FALSE(replay.Load(gone, &error));
    EXPECT_EQ(error, gone.string() + ": cannot open it");
    const std::string b = (space.Path() / "b.jsonl").string();
    EXPECT_FALSE(zs::LoadReplay({b}, &replay, &error));
    EXPECT_EQ(error.rfind(b + ": line 2: ", 0), 0u) << error;
    EXPECT_EQ(error.find(b, 1), std::string::npos) << error;
}

}  // namespace
