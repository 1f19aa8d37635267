// The index of a capture's batches, kept beside its segments: where each
// batch begins, so that a replay seeks to any batch or time without reading
// the batches before it. It is made by the first replay of the capture (one
// reading of every line) and used by the next ones as long as every segment
// is as it was then; a stale, damaged or missing index is made again, and a
// folder that cannot take it replays with the index in memory.
#ifndef ZVSTATION_REPLAY_INDEX_HPP
#define ZVSTATION_REPLAY_INDEX_HPP

#include <filesystem>
#include <string>

#include "zvstation/replay.hpp"

namespace zv::station {

// The index's name in a capture folder (no segment to any reader: not ".jsonl").
inline constexpr char kReplayIndexName[] = "replay.index";
// The largest index read: far beyond that of a capture of terabytes.
inline constexpr uint64_t kMaxReplayIndexBytes = uint64_t{1} << 30;

// Writes `index` into `file` whole or not at all: a temporary file beside
// it, forced to the disk and renamed over it. Files are named by their names
// alone, so that the folder may move. False with `*error` set.
bool WriteReplayIndex(const std::filesystem::path& file, const ReplayIndex& index, std::string* error);

// Reads an index written by WriteReplayIndex, its files made paths in
// `folder`. False with `*error` set for a file that is missing, of another
// format, damaged (its checksum) or cut short; `*index` is then empty.
bool ReadReplayIndex(const std::filesystem::path& file, const std::filesystem::path& folder, ReplayIndex* index,
                     std::string* error);

}  // namespace zv::station

#endif
