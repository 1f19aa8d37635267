// The replay source: recorded results read from a JSON-lines file and
// handed out batch by batch, as a station would deliver them. The format is
// described in platform/station/README.md.
#ifndef ZVSTATION_REPLAY_HPP
#define ZVSTATION_REPLAY_HPP

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::station {

class Replay {
public:
    Replay();
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Reads and checks every line, one at a time, each of at most 16 MiB,
    // and keeps the file to read it again batch by batch: a recording of any
    // size takes the memory of its largest batch. Returns false with
    // `*error` naming the file and its first bad line ("file: line 3: ..."); nothing is kept
    // then. A file that is no plain file (a FIFO, a device) is refused.
    bool Load(const std::filesystem::path& file, std::string* error);
    // The same for a stream, which the replay keeps; it must be seekable.
    bool Load(std::unique_ptr<std::istream> in, std::string* error);
    // The files in order as one recording (the segments of a capture): a
    // batch may continue from one file into the next. An error names the
    // file at fault. A capture segment (platform/station/README.md) is read
    // up to its last whole batch, whatever follows it.
    bool Load(const std::vector<std::filesystem::path>& files, std::string* error);

    // What Load cut of segments a capture did not complete (after the last
    // whole batch of each), one message per file naming it; empty for whole
    // recordings.
    const std::vector<std::string>& Notes() const;

    size_t BatchCount() const;
    size_t ResultCount() const;
    // Appends the next batch's results (made with the default allocator,
    // owned by the caller) to `payloads`; appends nothing once every batch
    // was handed out. Returns 1 or a failing zvApi status (ZV_E_PARSE when
    // the file no longer reads as it did at Load).
    zvStatus NextBatch(std::vector<zvHandle>* payloads);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The element type id of a replay type name ("int16", "stamp", ...), 0
// when unknown; and the name of an id, "" when it has none.
int32_t ReplayElementType(const std::string& name);
std::string ReplayTypeName(int32_t type);

// One JSON line describing `result` (for recording runs and tests). Returns
// "" for a handle that is not a live result.
std::string ReplayLine(zvHandle result, int64_t batch);

}  // namespace zv::station

#endif
