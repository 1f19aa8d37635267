// Recording what the client receives as replayable segment files.
#include "zvstation/capture.hpp"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <tuple>

#include "results.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvstation/replay.hpp"
#include "zvstation/replay_index.hpp"

namespace zv::station {

namespace {

// Why `result` cannot be recorded, or "" when it can.
std::string Unrecordable(zvHandle result) {
    int32_t arrays = 0;
    if (zvResultCount(result, &arrays) <= 0) return "not a result";
    for (int32_t i = 0; i < arrays; ++i) {
        zvHandle array = nullptr;
        if (zvResultData(result, i, &array) <= 0) return "data " + std::to_string(i) + " cannot be read";
        const int32_t type = zvArrayElementType(array);
        if (ReplayTypeName(type).empty())
            return "data " + std::to_string(i) + " has element type " + std::to_string(type) +
                   ", which the replay format does not hold";
        if (type != ZV_TYPE_FLOAT32 && type != ZV_TYPE_FLOAT64) continue;
        int64_t elements = 1;
        for (int32_t d = 0; d < zvArrayDimensions(array); ++d) elements *= zvArrayLength(array, d);
        const auto* bytes = static_cast<const unsigned char*>(ArrayElements(array));
        for (int64_t e = 0; bytes != nullptr && e < elements; ++e) {
            double value = 0;
            if (type == ZV_TYPE_FLOAT32) {
                float f;
                std::memcpy(&f, bytes + 4 * e, 4);
                value = f;
            } else {
                std::memcpy(&value, bytes + 8 * e, 8);
            }
            if (!std::isfinite(value)) return "data " + std::to_string(i) + " holds a value that is not finite";
        }
    }
    return "";
}

// The number in a segment's name ("segment-0012.jsonl" is 12), or -1.
int64_t NumberIn(const std::string& name) {
    size_t at = name.find_first_of("0123456789");
    if (at == std::string::npos) return -1;
    int64_t number = 0;
    for (; at < name.size() && std::isdigit(static_cast<unsigned char>(name[at])); ++at) {
        if (number > (INT64_MAX - 9) / 10) return -1;
        number = number * 10 + (name[at] - '0');
    }
    return number;
}

bool IsSegmentName(const std::string& name) {
    return name.size() > 14 && name.compare(0, 8, "segment-") == 0 && name.compare(name.size() - 6, 6, ".jsonl") == 0 &&
           NumberIn(name) >= 0;
}

// The temporary file of a segment an interrupted capture was writing
// (".segment-0003.jsonl.zvtmp.x1y2z3"), or an earlier writer's part file
// (".segment-0003.jsonl.part").
bool IsUnfinishedSegmentName(const std::string& name) {
    if (name.size() < 2 || name[0] != '.') return false;
    const size_t dot = name.find(".jsonl", 1);
    if (dot == std::string::npos || !IsSegmentName(name.substr(1, dot + 6 - 1))) return false;
    const std::string tail = name.substr(dot + 6);
    return tail == ".part" || tail.rfind(".zvtmp.", 0) == 0;
}

std::string Reason() {
    const char* text = zvLastErrorText();
    return text != nullptr && text[0] != '\0' ? text : "failed";
}

// Where the last whole batch of a segment being recovered ends: after its
// last complete end line; in a file without the segment header (an earlier
// writer's), after its last complete line. 0 when nothing in it is whole.
int64_t WholeEnd(files::AppendFile* file) {
    const int64_t size = file->Size();
    std::string head(sizeof kSegmentHeader - 1, '\0');
    int64_t done = 0;
    if (file->ReadAt(0, head.data(), static_cast<int64_t>(head.size()), &done) <= 0) return 0;
    head.resize(static_cast<size_t>(done));
    const bool headed = head == kSegmentHeader;
    const std::string marker = headed ? std::string("\n") + kBatchEnd : std::string("\n");
    // From the end backwards, a chunk at a time; chunks overlap by more than
    // an end line, so that none is missed where two meet.
    constexpr int64_t kChunk = int64_t{1} << 20;
    constexpr int64_t kOverlap = 64;
    std::string chunk;
    for (int64_t end = size; end > 0;) {
        const int64_t begin = std::max<int64_t>(0, end - kChunk);
        const int64_t stop = std::min(size, end + kOverlap);
        chunk.assign(static_cast<size_t>(stop - begin), '\0');
        if (file->ReadAt(begin, chunk.data(), stop - begin, &done) <= 0) return 0;
        chunk.resize(static_cast<size_t>(done));
        for (size_t at = chunk.rfind(marker); at != std::string::npos;
             at = at == 0 ? std::string::npos : chunk.rfind(marker, at - 1)) {
            if (begin + static_cast<int64_t>(at) >= end) continue;  // the next chunk's
            if (!headed) return begin + static_cast<int64_t>(at) + 1;
            size_t digit = at + marker.size();
            while (digit < chunk.size() && std::isdigit(static_cast<unsigned char>(chunk[digit]))) ++digit;
            if (digit > at + marker.size() && digit < chunk.size() && chunk[digit] == '\n')
                return begin + static_cast<int64_t>(digit) + 1;
        }
        end = begin;
    }
    return 0;
}

}  // namespace

std::string SegmentName(int64_t number) {
    char name[48];
    std::snprintf(name, sizeof name, "segment-%04lld.jsonl", static_cast<long long>(number));
    return name;
}

CaptureWriter::CaptureWriter() = default;

CaptureWriter::~CaptureWriter() {
    std::string ignored;
    Close(&ignored);
}

double CaptureWriter::Now() const {
    if (clock_) return clock_();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void CaptureWriter::SetClock(Clock clock) { clock_ = std::move(clock); }

bool CaptureWriter::Open(const std::string& folder, int64_t segmentBytes, std::string* error) {
    if (open_) {
        *error = "a capture is open already in " + folder_;
        return false;
    }
    if (zvDirectoryCreate(folder.c_str()) <= 0) {
        *error = "cannot make the capture folder " + folder + ": " + Reason();
        return false;
    }
    std::vector<files::Entry> entries;
    std::vector<files::Orphan> orphans;
    if (files::ListFolder(folder, &entries) <= 0 || files::Orphans(folder, &orphans) <= 0) {
        *error = "cannot read the capture folder " + folder + ": " + Reason();
        files::RemoveEmptyFolder(folder);
        return false;
    }
    const bool taken =
        std::any_of(entries.begin(), entries.end(),
                    [](const files::Entry& e) {
                        return e.kind != files::Entry::Kind::kFolder &&
                               (IsSegmentName(e.name) || IsUnfinishedSegmentName(e.name));
                    }) ||
        std::any_of(orphans.begin(), orphans.end(), [](const files::Orphan& o) { return IsSegmentName(o.target); });
    if (taken) {
        *error = "the folder " + folder + " holds a capture already";
        return false;
    }
    folder_ = folder;
    open_ = true;
    segmentBytes_ = std::max<int64_t>(1, segmentBytes);
    segments_ = batches_ = results_ = 0;
    completed_.clear();
    return true;
}

void CaptureWriter::SetSegmentSize(int64_t bytes) { segmentBytes_ = std::max<int64_t>(1, bytes); }

void CaptureWriter::SetSegmentSeconds(double seconds) {
    if (seconds > 0) segmentSeconds_ = seconds;
}

bool CaptureWriter::StartSegment(std::string* error) {
    ++segments_;
    auto file = std::make_unique<files::AppendFile>();
    const std::string path = folder_ + "/" + SegmentName(segments_);
    if (file->Create(path) <= 0 || file->Append(std::string(kSegmentHeader) + "\n") <= 0) {
        *error = "cannot write " + path + ": " + Reason();
        file->Abandon();
        return false;
    }
    file_ = std::move(file);
    started_ = synced_ = Now();
    unsynced_ = false;
    return true;
}

bool CaptureWriter::FinishSegment(std::string* error) {
    if (file_ == nullptr) return true;
    const std::string path = file_->Path();
    const int64_t bytes = file_->Size();
    const zvStatus status = file_->Commit();
    file_.reset();
    if (status == ZV_E_IO && zvFileExists(path.c_str()) != 0) {
        // Named, but perhaps not yet on the disk: it is complete for every
        // reader all the same.
        completed_.push_back({path, bytes});
        *error = Reason();
        return false;
    }
    if (status <= 0) {
        *error = "cannot complete " + path + ": " + Reason();
        return false;
    }
    completed_.push_back({path, bytes});
    return true;
}

bool CaptureWriter::WriteBatch(const std::vector<zvHandle>& results, std::string* error) {
    error->clear();
    if (!open_) {
        *error = "no capture is open";
        return false;
    }
    std::string left;
    std::string text;
    int64_t lines = 0;
    for (zvHandle result : results) {
        const std::string why = Unrecordable(result);
        if (!why.empty()) {
            left += (left.empty() ? "" : "; ") + why;
            continue;
        }
        text += ReplayLine(result, batches_);
        text += '\n';
        ++lines;
    }
    if (lines > 0) {
        text += kBatchEnd + std::to_string(batches_) + "\n";
        const double now = Now();
        // Between batches only: a batch never spans two segments.
        const bool full = file_ != nullptr && file_->Size() > static_cast<int64_t>(sizeof kSegmentHeader) &&
                          file_->Size() + static_cast<int64_t>(text.size()) > segmentBytes_;
        const bool old = file_ != nullptr && now - started_ >= segmentSeconds_;
        if ((full || old) && !FinishSegment(error)) {
            open_ = false;
            return false;
        }
        if (file_ == nullptr && !StartSegment(error)) {
            open_ = false;
            return false;
        }
        if (file_->Append(text) <= 0) {
            // The batches before this one stay, whole, in a completed
            // segment; the capture ends here.
            *error = "cannot write " + file_->Path() + " (batch " + std::to_string(batches_) + "): " + Reason() +
                     "; the capture stopped, keeping the batches before";
            std::string more;
            if (!FinishSegment(&more)) *error += "; " + more;
            open_ = false;
            return false;
        }
        unsynced_ = true;
        if (now - synced_ >= kSyncSeconds) {
            if (file_->Sync() <= 0) {
                *error = "cannot force " + file_->Path() + " to storage: " + Reason() + "; the capture stopped";
                std::string more;
                FinishSegment(&more);
                open_ = false;
                return false;
            }
            synced_ = now;
            unsynced_ = false;
        }
        results_ += lines;
        ++batches_;
    }
    if (!left.empty()) *error = "left out of the capture: " + left;
    return true;
}

bool CaptureWriter::Close(std::string* error) {
    if (!open_) return true;
    const bool ok = FinishSegment(error);
    open_ = false;
    // A capture that received nothing leaves no folder behind.
    if (segments_ == 0) files::RemoveEmptyFolder(folder_);
    return ok;
}

std::vector<CaptureWriter::Segment> CaptureWriter::TakeCompleted() {
    std::vector<Segment> taken;
    taken.swap(completed_);
    return taken;
}

std::string NewCaptureFolder(std::time_t now, std::string* error) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    if (zvDirectoryCreate("Capture") <= 0) {
        *error = "cannot make the folder Capture: " + Reason();
        return "";
    }
    for (int n = 1; n < 1000; ++n) {
        const std::string folder = "Capture/" + std::string(stamp) + (n > 1 ? "-" + std::to_string(n) : "");
        const zvStatus status = files::MakeNewFolder(folder);
        if (status > 0) return folder;
        if (status != ZV_E_STATE) {
            *error = "cannot make the capture folder " + folder + ": " + Reason();
            return "";
        }
    }
    *error = std::string("every capture folder of ") + stamp + " is taken";
    return "";
}

std::vector<Recovered> RecoverCaptures() {
    std::vector<Recovered> recovered;
    std::vector<files::Entry> captures;
    if (files::ListFolder("Capture", &captures) <= 0) return recovered;
    for (const files::Entry& capture : captures) {
        if (capture.kind != files::Entry::Kind::kFolder) continue;
        const std::string folder = "Capture/" + capture.name;
        std::vector<files::Orphan> orphans;
        files::Orphans(folder, &orphans);
        std::vector<files::Entry> entries;
        files::ListFolder(folder, &entries);
        // An earlier writer's part files are no temporary files of the file
        // space: found by name.
        for (const files::Entry& e : entries) {
            if (e.kind == files::Entry::Kind::kFile && IsUnfinishedSegmentName(e.name) &&
                e.name.compare(e.name.size() - 5, 5, ".part") == 0)
                orphans.push_back({e.name, e.name.substr(1, e.name.size() - 6)});
        }
        for (const files::Orphan& orphan : orphans) {
            if (!IsSegmentName(orphan.target)) continue;
            Recovered r;
            r.path = folder + "/" + orphan.target;
            files::AppendFile file;
            if (file.Adopt(folder, orphan.temporary, orphan.target) <= 0) continue;  // its writer lives
            const int64_t size = file.Size();
            const int64_t whole = WholeEnd(&file);
            if (whole <= 0) {
                file.Abandon();
                r.cut = size;
            } else if (file.Truncate(whole) <= 0 || file.Commit() <= 0) {
                r.error = "cannot be recovered: " + Reason();
            } else {
                r.kept = whole;
                r.cut = size - whole;
            }
            recovered.push_back(std::move(r));
        }
    }
    return recovered;
}

bool ReplayFiles(const std::vector<std::filesystem::path>& inputs, std::vector<std::filesystem::path>* files,
                 std::string* error) {
    files->clear();
    for (const std::filesystem::path& input : inputs) {
        std::error_code ec;
        if (!std::filesystem::is_directory(input, ec)) {
            if (!std::filesystem::exists(input, ec)) {
                *error = "cannot open " + input.string() + ": no such file or folder";
                return false;
            }
            files->push_back(input);
            continue;
        }
        // Segments by number; of one number, the complete one first, then
        // what an interrupted capture was writing.
        std::vector<std::tuple<int64_t, bool, std::filesystem::path>> segments;
        for (const auto& entry : std::filesystem::directory_iterator(input, ec)) {
            const std::string name = entry.path().filename().string();
            const bool unfinished = IsUnfinishedSegmentName(name) && name.find(".zvtmp.") != std::string::npos;
            if (!unfinished && (name.empty() || name[0] == '.' || entry.path().extension() != ".jsonl")) continue;
            if (!entry.is_regular_file(ec)) continue;
            segments.emplace_back(NumberIn(name), unfinished, entry.path());
        }
        if (ec) {
            *error = "cannot read the folder " + input.string() + ": " + ec.message();
            return false;
        }
        if (segments.empty()) {
            *error = "the folder " + input.string() + " holds no capture segment (*.jsonl)";
            return false;
        }
        std::sort(segments.begin(), segments.end());
        for (const auto& [number, unfinished, path] : segments) files->push_back(path);
    }
    if (files->empty()) {
        *error = "nothing to replay";
        return false;
    }
    return true;
}

bool LoadReplay(const std::vector<std::filesystem::path>& inputs, Replay* replay, std::string* error,
                const std::function<void(uint64_t done, uint64_t total)>& progress) {
    std::vector<std::filesystem::path> files;
    if (!ReplayFiles(inputs, &files, error)) return false;
    std::error_code ec;
    if (inputs.size() != 1 || !std::filesystem::is_directory(inputs.front(), ec))
        return replay->Load(files, error, progress);
    // One capture: its index, when it is of these very segments as they are.
    const std::filesystem::path indexFile = inputs.front() / kReplayIndexName;
    ReplayIndex index;
    std::string why;
    bool same = ReadReplayIndex(indexFile, inputs.front(), &index, &why) && index.files.size() == files.size();
    for (size_t i = 0; same && i < files.size(); ++i) same = index.files[i].path.filename() == files[i].filename();
    if (same && replay->LoadIndexed(std::move(index), &why)) return true;
    if (!replay->Load(files, error, progress)) return false;
    // Segments a capture is still writing change: their index is not kept.
    bool complete = true;
    for (const std::filesystem::path& f : files) complete = complete && f.filename().string().front() != '.';
    // A folder that cannot take the index replays with it in memory.
    if (complete) WriteReplayIndex(indexFile, replay->Index(), &why);
    return true;
}

}  // namespace zv::station
