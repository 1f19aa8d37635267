// Captures: every result the client receives while capture is on, recorded
// in the replay format (platform/station/README.md) so that `zvhost run
// --input` replays them as they came.
//
// A capture is a folder of the file space holding segment files,
// "segment-0001.jsonl", "segment-0002.jsonl", ... Each segment begins with
// the line "# capture segment ..." and each batch in it is followed by its
// end line "# end of batch N" (comments to any other reader of the format):
// a batch is whole once its end line is written, and a batch never spans
// two segments. A segment is complete when it holds the segment size or is
// the segment time old (whichever comes first, between batches; a batch
// larger than the size makes a segment of its own), or the capture ends.
//
// Durable: each batch is written as it comes and forced to storage at
// least every second. A segment is written as a temporary file beside its
// name (hidden, locked while its writer lives) and takes its name when
// complete. A writer killed, or stopped by a failed write, leaves its last
// segment's temporary file; a failed write keeps the whole batches before
// it. RecoverCaptures, at the host's next start, cuts such a file after its
// last whole batch and gives it its name, or removes it when no batch in it
// is whole; until then replays read it as it is, cut there too.
//
// Every file is read and written through the file space (zvapi/
// zv_file_space.hpp): a "Capture" folder, or a capture's folder, that leads
// out of the space is refused, never written through.
//
// Not thread-safe: the host loop records from its own thread.
#ifndef ZVSTATION_CAPTURE_HPP
#define ZVSTATION_CAPTURE_HPP

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::files {
class AppendFile;
}

namespace zv::station {

// The segment size of a capture whose host was given none.
inline constexpr int64_t kDefaultSegmentBytes = 200000000;
// The longest a segment stays open.
inline constexpr double kDefaultSegmentSeconds = 10.0;
// The longest a written batch waits to be forced to storage.
inline constexpr double kSyncSeconds = 1.0;

// The first line of every segment, and the start of every batch's end line.
inline constexpr char kSegmentHeader[] =
    "# capture segment: a batch is whole once its \"# end of batch N\" line follows";
inline constexpr char kBatchEnd[] = "# end of batch ";

class CaptureWriter {
public:
    // Seconds on a steady clock.
    using Clock = std::function<double()>;

    CaptureWriter();
    // Completes the open segment, as Close does.
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Starts a capture in `folder`, a path of the file space (made when
    // missing; it must hold no capture yet). False with `*error` set
    // otherwise, the folder removed again when empty.
    bool Open(const std::string& folder, int64_t segmentBytes, std::string* error);
    bool IsOpen() const { return open_; }
    // The largest segment from the next one on (at least 1 byte).
    void SetSegmentSize(int64_t bytes);
    // The oldest a segment grows, from the next batch on (above 0).
    void SetSegmentSeconds(double seconds);
    // The clock segments are timed by (tests); a steady clock by default.
    void SetClock(Clock clock);

    // Records one batch of results, one line each, and its end line. A
    // result the format cannot hold (an array of an unknown element type, a
    // float that is not finite) is left out and named in `*error`, the rest
    // recorded (true). A failed write ends the capture (false, `*error`
    // set): the segment being written keeps the whole batches before this
    // one and is completed.
    bool WriteBatch(const std::vector<zvHandle>& results, std::string* error);
    // Completes the open segment and ends the capture; the folder of a
    // capture that recorded nothing is removed again. False with `*error`
    // set when the last segment could not be completed (its temporary file
    // then stays for the next start to recover).
    bool Close(std::string* error);

    const std::string& Folder() const { return folder_; }
    struct Segment {
        std::string path;  // in the file space
        int64_t bytes = 0;
    };
    // Segments completed since the last call.
    std::vector<Segment> TakeCompleted();
    int64_t Batches() const { return batches_; }
    int64_t Results() const { return results_; }
    int64_t Segments() const { return segments_; }

private:
    bool StartSegment(std::string* error);
    bool FinishSegment(std::string* error);
    double Now() const;

    std::string folder_;
    bool open_ = false;
    int64_t segmentBytes_ = kDefaultSegmentBytes;
    double segmentSeconds_ = kDefaultSegmentSeconds;
    Clock clock_;
    std::unique_ptr<files::AppendFile> file_;  // the segment being written, or none
    double started_ = 0;                       // when it was started
    double synced_ = 0;                        // when it was last forced to storage
    bool unsynced_ = false;
    int64_t segments_ = 0;  // segments started
    int64_t batches_ = 0;
    int64_t results_ = 0;
    std::vector<Segment> completed_;
};

// The name of segment `number` (from 1): "segment-0001.jsonl".
std::string SegmentName(int64_t number);

// Makes the folder of a new capture, "Capture/<date-time, UTC>" of the file
// space, such as Capture/20240131-142501, with "-2", "-3", ... added when
// that exists, and returns its path; made exclusively, so that no two
// captures ever share one. "" with `*error` set when none can be made.
std::string NewCaptureFolder(std::time_t now, std::string* error);

// Recovers what interrupted captures left in the file space's "Capture"
// folder: each segment's temporary file whose writer is gone is cut after
// its last whole batch and given its name, or removed when no batch in it is
// whole (so is the hidden ".segment-NNNN.jsonl.part" of earlier writers, cut
// after its last whole line). The host calls it when it starts, before the
// file space's sweep.
struct Recovered {
    std::string path;   // the segment, in the file space
    int64_t kept = 0;   // the bytes it holds now; 0: removed, nothing in it was whole
    int64_t cut = 0;    // the bytes cut after its last whole batch
    std::string error;  // why it could not be recovered (left as it was), or ""
};
std::vector<Recovered> RecoverCaptures();

// The files to replay for `inputs`, in order: a file as it is, a folder as
// its segment files (the ".jsonl" files not starting with ".") and the
// temporary files of segments a capture was writing when it was
// interrupted, in the order of their numbers. False with `*error` set for
// an input that does not exist or a folder without any.
bool ReplayFiles(const std::vector<std::filesystem::path>& inputs, std::vector<std::filesystem::path>* files,
                 std::string* error);

class Replay;
// Loads `inputs` (files and capture folders, in order, as ReplayFiles
// gives them) into `replay` as one recording. False with `*error` naming
// the input or file and line at fault. What was cut of segments a capture
// did not complete is in replay->Notes().
// `progress` (when given) hears how far a reading of every line has got:
// the first replay of a capture, which indexes it, or one of plain files.
bool LoadReplay(const std::vector<std::filesystem::path>& inputs, Replay* replay, std::string* error,
                const std::function<void(uint64_t done, uint64_t total)>& progress = {});

}  // namespace zv::station

#endif
