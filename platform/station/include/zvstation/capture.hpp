// Captures: every result the client receives while capture is on, recorded
// in the replay format (platform/station/README.md) so that `zvhost run
// --input` replays them as they came.
//
// A capture is a folder of segment files, "segment-0001.jsonl",
// "segment-0002.jsonl", ..., each of at most the segment size (a result
// whose line alone is larger makes a segment of its own). Batches are
// numbered from 0 through the whole capture, so a batch that continues into
// the next segment stays one batch when the segments are replayed in order.
// A segment is written as a hidden temporary file beside it and renamed once
// it is complete: a segment file is whole or absent, also after a crash or
// a failed write.
//
// Not thread-safe: the host loop records from its own thread.
#ifndef ZVSTATION_CAPTURE_HPP
#define ZVSTATION_CAPTURE_HPP

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::station {

// The segment size of a capture whose host was given none.
inline constexpr int64_t kDefaultSegmentBytes = 200000000;

class CaptureWriter {
public:
    CaptureWriter() = default;
    // Completes the open segment, as Close does.
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Starts a capture in `folder` (made when missing; it must hold no
    // segment yet). False with `*error` set otherwise.
    bool Open(const std::filesystem::path& folder, int64_t segmentBytes, std::string* error);
    bool IsOpen() const { return open_; }
    // The largest segment from the next one on (at least 1 byte).
    void SetSegmentSize(int64_t bytes);

    // Records one batch of results, one line each. A result the format
    // cannot hold (an array of an unknown element type, a float that is not
    // finite) is left out and named in `*error`, the rest recorded (true).
    // A failed write ends the capture (false, `*error` set): the segment
    // being written is dropped, the completed ones stay.
    bool WriteBatch(const std::vector<zvHandle>& results, std::string* error);
    // Completes the open segment and ends the capture; the folder of a
    // capture that recorded nothing is removed again. False with `*error`
    // set when the last segment could not be completed (it is then absent).
    bool Close(std::string* error);

    const std::filesystem::path& Folder() const { return folder_; }
    // Segments completed since the last call.
    std::vector<std::filesystem::path> TakeCompleted();
    int64_t Batches() const { return batches_; }
    int64_t Results() const { return results_; }
    int64_t Segments() const { return segments_; }

private:
    bool StartSegment(std::string* error);
    bool FinishSegment(std::string* error);
    void DropSegment();

    std::filesystem::path folder_;
    bool open_ = false;
    int64_t segmentBytes_ = kDefaultSegmentBytes;
    FILE* file_ = nullptr;        // the segment being written, or none
    std::filesystem::path part_;  // its temporary name
    std::filesystem::path final_; // its name once complete
    int64_t written_ = 0;         // bytes in the segment being written
    int64_t segments_ = 0;        // segments started
    int64_t batches_ = 0;
    int64_t results_ = 0;
    std::vector<std::filesystem::path> completed_;
};

// The name of segment `number` (from 1): "segment-0001.jsonl".
std::string SegmentName(int64_t number);

// A folder for a new capture: `root`/Capture/<date-time, UTC> such as
// Capture/20240131-142501, with "-2", "-3", ... added when that exists.
std::filesystem::path NewCaptureFolder(const std::filesystem::path& root, std::time_t now);

// The files to replay for `inputs`, in order: a file as it is, a folder as
// its segment files (the ".jsonl" files not starting with "."), in the
// order of their numbers. False with `*error` set for an input that does not
// exist or a folder without any.
bool ReplayFiles(const std::vector<std::filesystem::path>& inputs, std::vector<std::filesystem::path>* files,
                 std::string* error);

class Replay;
// Loads `inputs` (files and capture folders, in order, as ReplayFiles
// gives them) into `replay` as one recording. False with `*error` naming
// the input or file and line at fault.
bool LoadReplay(const std::vector<std::filesystem::path>& inputs, Replay* replay, std::string* error);

}  // namespace zv::station

#endif
