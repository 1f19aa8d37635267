// A capture killed at random moments: processes that record are killed
// (SIGKILL) again and again, at any point of their work (opening the
// capture, writing a batch, completing a segment); after each kill the next
// start recovers what was left, and the capture replays, holding every batch
// the writer had taken, certainly every one taken a second before the kill.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "support/capture_support.hpp"
#include "support/temp_space.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/replay.hpp"

namespace zs = zv::station;
namespace fs = std::filesystem;

namespace {

constexpr int kKills = 60;
constexpr int kAtOnce = 6;            // recording processes alive together
constexpr double kLongestLife = 1.5;  // seconds before a process is killed, at most
constexpr int kBatchEvery = 20;       // milliseconds between batches

int64_t Nanoseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// What a recording process says after each batch it has taken.
struct Taken {
    int64_t batches;  // taken so far
    int64_t at;       // when, CLOCK_MONOTONIC nanoseconds
};

// Records batches of `free` in turn into `folder` until killed, small
// segments that complete by size and by time, telling `report` of each.
[[noreturn]] void Record(const zvtest::Deliveries& free, const std::string& folder, int report) {
    zs::CaptureWriter writer;
    writer.SetSegmentSeconds(0.15);
    std::string error;
    if (!writer.Open(folder, 20000, &error)) ::_exit(2);
    for (int64_t b = 0;; ++b) {
        if (!writer.WriteBatch(free.batches[static_cast<size_t>(b) % free.batches.size()], &error)) ::_exit(3);
        const Taken taken{b + 1, Nanoseconds()};
        if (::write(report, &taken, sizeof taken) != static_cast<ssize_t>(sizeof taken)) ::_exit(4);
        const timespec pause{0, kBatchEvery * 1000000L};
        ::nanosleep(&pause, nullptr);
    }
}

struct Child {
    pid_t pid = -1;
    int report = -1;  // the read end of its pipe
    std::string folder;
    int64_t killAt = 0;  // CLOCK_MONOTONIC nanoseconds
    int64_t taken = 0;   // batches it took
    int64_t old = 0;     // of those, taken a second or more before the kill
};

// The stamp of a result: what tells one batch's profile from another's.
zvStamp StampOf(zvHandle result) {
    zvHandle stamps = nullptr;
    zvStamp stamp{};
    if (zvResultData(result, 0, &stamps) > 0) std::memcpy(&stamp, zvArray1At(stamps, 0), sizeof stamp);
    return stamp;
}

// Processes are killed on time, while they run; what they left is
// recovered and checked once all are dead, as the next start would.
TEST(CaptureKills, EveryKillLeavesACaptureThatReplaysEveryBatchOlderThanASecond) {
    zvtest::TempFileSpace space("zvcapture-kill");
    zvtest::Deliveries free(space.Path(), "Free", 10);
    std::mt19937 random(20240131);
    std::uniform_int_distribution<int64_t> life(0, static_cast<int64_t>(kLongestLife * 1e9));
    const auto begin = std::chrono::steady_clock::now();

    std::vector<Child> alive, dead;
    for (int started = 0; started < kKills || !alive.empty();) {
        while (started < kKills && static_cast<int>(alive.size()) < kAtOnce) {
            int pipe[2];
            ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
            Child child;
            child.folder = "Capture/" + std::to_string(started++);
            child.killAt = Nanoseconds() + life(random);
            child.pid = ::fork();
            ASSERT_GE(child.pid, 0);
            if (child.pid == 0) {
                ::close(pipe[0]);
                Record(free, child.folder, pipe[1]);
            }
            ::close(pipe[1]);
            ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
            child.report = pipe[0];
            alive.push_back(child);
        }
        auto next = std::min_element(alive.begin(), alive.end(),
                                     [](const Child& a, const Child& b) { return a.killAt < b.killAt; });
        const int64_t wait = next->killAt - Nanoseconds();
        if (wait > 0) {
            const timespec pause{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
            ::nanosleep(&pause, nullptr);
        }
        Child child = *next;
        alive.erase(next);
        ::kill(child.pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the recording process ended by itself (" << WEXITSTATUS(status) << ")";
        Taken t{};
        while (::read(child.report, &t, sizeof t) == static_cast<ssize_t>(sizeof t)) {
            child.taken = t.batches;
            if (t.at <= child.killAt - 1000000000) child.old = t.batches;
        }
        ::close(child.report);
        dead.push_back(child);
    }
    const double killing = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    int recoveredTails = 0;
    for (const zs::Recovered& r : zs::RecoverCaptures()) {
        EXPECT_EQ(r.error, "") << r.path;
        recoveredTails += r.kept > 0 ? 1 : 0;
    }
    int64_t lostAtMost = 0;  // batches taken but not replayed, in the worst kill
    int64_t oldLost = 0;     // of those, taken a second or more before the kill
    int64_t replayedTotal = 0;
    for (const Child& child : dead) {
        SCOPED_TRACE(child.folder);
        const fs::path folder = space.Host(child.folder);
        std::vector<fs::path> files;
        std::string error;
        int64_t replayed = 0;
        if (fs::exists(folder) && zs::ReplayFiles({folder}, &files, &error)) {
            for (const fs::path& f : files) EXPECT_NE(f.filename().string()[0], '.') << "left unrecovered: " << f;
            zs::Replay replay;
            ASSERT_TRUE(zs::LoadReplay({folder}, &replay, &error)) << error;
            EXPECT_TRUE(replay.Notes().empty()) << replay.Notes()[0];
            for (int64_t b = 0;; ++b) {
                std::vector<zvHandle> batch;
                ASSERT_EQ(replay.NextBatch(&batch), ZV_OK);
                if (batch.empty()) break;
                const std::vector<zvHandle>& sent = free.batches[static_cast<size_t>(b) % free.batches.size()];
                EXPECT_EQ(batch.size(), sent.size()) << "batch " << b;
                for (size_t i = 0; i < batch.size() && i < sent.size(); ++i) {
                    EXPECT_EQ(StampOf(batch[i]).time, StampOf(sent[i]).time) << "batch " << b << " is another's";
                    if (b == 0) {
                        EXPECT_EQ(zs::ReplayLine(batch[i], b), zs::ReplayLine(sent[i], b));
                    }
                    zvObjectDestroy(batch[i]);
                }
                ++replayed;
            }
        }
        // Nothing may be gone that was taken a second before the kill; and
        // since every batch taken was with the disk when it was taken, none
        // of the others either.
        EXPECT_GE(replayed, child.old) << "a batch older than a second is lost";
        EXPECT_GE(replayed, child.taken) << "a batch taken is lost";
        EXPECT_LE(replayed, child.taken + 1) << "more batches than were taken";
        lostAtMost = std::max(lostAtMost, child.taken - replayed);
        oldLost = std::max(oldLost, child.old - replayed);
        replayedTotal += replayed;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf(
        "capture kills: %d kills, %lld batches replayed, %d unfinished segments recovered, "
        "batches lost at most %lld (taken a second before the kill: %lld); %.0f ms a kill (%.1f s killing, "
        "%.1f s recovering and checking)\n",
        kKills, static_cast<long long>(replayedTotal), recoveredTails, static_cast<long long>(lostAtMost),
        static_cast<long long>(oldLost), 1000 * seconds / kKills, killing, seconds - killing);
    EXPECT_GT(replayedTotal, 0);
    EXPECT_GT(recoveredTails, kKills / 2) << "the kills should mostly land while a segment is written";
}

// A limit on file sizes (ulimit -f) met in the middle of a batch: the
// write fails (the host ignores the signal the kernel sends), the capture
// stops, and the segment keeps every batch before, whole and named.
TEST(CaptureKills, ALimitOnFileSizesStopsTheCaptureKeepingWhatIsWritten) {
    zvtest::TempFileSpace space("zvcapture-limit");
    zvtest::Deliveries free(space.Path(), "Free", 10);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const rlimit limit{30000, 30000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
        zs::CaptureWriter writer;
        std::string error;
        if (!writer.Open("Capture/limited", 200000000, &error)) ::_exit(2);
        int64_t taken = 0;
        while (writer.WriteBatch(free.batches[static_cast<size_t>(taken) % free.batches.size()], &error)) ++taken;
        const bool told = error.find("File too large") != std::string::npos;
        (void)!::write(pipe[1], &taken, sizeof taken);
        ::_exit(told ? 0 : 5);
    }
    ::close(pipe[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write did not say why";
    int64_t taken = -1;
    ASSERT_EQ(::read(pipe[0], &taken, sizeof taken), static_cast<ssize_t>(sizeof taken));
    ::close(pipe[0]);
    ASSERT_GT(taken, 5);
    EXPECT_TRUE(zs::RecoverCaptures().empty()) << "the stopped capture left a segment unfinished";
    std::vector<size_t> sizes;
    const std::vector<std::string> replayed = zvtest::Replayed({space.Host("Capture/limited")}, &sizes);
    EXPECT_EQ(sizes.size(), static_cast<size_t>(taken));
    EXPECT_LE(fs::file_size(space.Host("Capture/limited/segment-0001.jsonl")), 30000u);
}

}  // namespace
