// The replay source: recorded results read from a JSON-lines file and
// handed out batch by batch, as a station would deliver them. The format is
// described in platform/station/README.md.
#ifndef ZVSTATION_REPLAY_HPP
#define ZVSTATION_REPLAY_HPP

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::station {

// Where each batch of a recording begins and what it holds, found by one
// reading of every line: the replay seeks with it, and a capture keeps it
// beside its segments (zvstation/replay_index.hpp) so that a later replay
// neither reads nor checks the batches before the one it seeks.
struct ReplayIndex {
    struct File {
        std::filesystem::path path;
        uint64_t size = 0;            // bytes, when it was read
        int64_t modified = 0;         // its modification time in nanoseconds, then
        uint64_t limit = UINT64_MAX;  // the lines handed out (a segment cut after its last whole batch)
        std::string note;             // what was cut of it, or ""
    };
    struct Batch {
        uint32_t file = 0;      // in `files` (0 for a stream)
        uint64_t offset = 0;    // of the batch's first line in its file
        uint64_t line = 0;      // lines of the file before that one
        bool numbered = false;  // its lines carry "batch"
        int64_t number = 0;     // ... this one
        uint32_t results = 0;
        // The first stamp any of its results holds: encoder ticks and time
        // in microseconds.
        bool stamped = false;
        int64_t encoder = 0;
        uint64_t time = 0;
    };
    // What a result is, low 32 bits each: its identifier and its first
    // attribute (a profile's sensor, an object's piece). A seek reads from
    // these which batches a mode must go through.
    struct Key {
        uint32_t id = 0;
        uint32_t first = 0;
        bool operator==(const Key&) const = default;
    };
    std::vector<File> files;
    std::vector<Batch> batches;
    std::vector<Key> keys;  // every result's, in order: a batch's `results` in turn
};

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
    // `progress` (when given) hears the bytes read of all the files every
    // 64 MiB or so: a capture of gigabytes takes minutes to read.
    using Progress = std::function<void(uint64_t done, uint64_t total)>;
    bool Load(const std::vector<std::filesystem::path>& files, std::string* error, const Progress& progress = {});

    // Adopts an index made by an earlier Load of the same files, which are
    // then neither read nor checked again: false with `*error` set when a
    // file changed since (size or modification time), or the index does
    // not fit its files; nothing is kept then.
    bool LoadIndexed(ReplayIndex index, std::string* error);
    // Where the batches begin (files are empty for a stream).
    const ReplayIndex& Index() const;

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
    // Makes `batch` (counted from 0) the next NextBatch hands out, reading
    // nothing before it; BatchCount() is the end. ZV_E_ARGUMENT beyond it,
    // ZV_E_PARSE when its file no longer is as it was at Load.
    zvStatus Seek(size_t batch);
    // The batch NextBatch hands out next.
    size_t Position() const;

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
