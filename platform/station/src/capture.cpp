// Recording what the client receives as replayable segment files.
#include "zvstation/capture.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "results.hpp"
#include "zvstation/replay.hpp"

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

// Syncs the folder, so that a rename in it outlives a crash.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
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

}  // namespace

std::string SegmentName(int64_t number) {
    char name[48];
    std::snprintf(name, sizeof name, "segment-%04lld.jsonl", static_cast<long long>(number));
    return name;
}

CaptureWriter::~CaptureWriter() {
    std::string ignored;
    Close(&ignored);
}

bool CaptureWriter::Open(const std::filesystem::path& folder, int64_t segmentBytes, std::string* error) {
    if (open_) {
        *error = "a capture is open already in " + folder_.string();
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        *error = "cannot make the capture folder " + folder.string() + (ec ? ": " + ec.message() : "");
        return false;
    }
    std::vector<std::filesystem::path> existing;
    std::string none;
    if (ReplayFiles({folder}, &existing, &none)) {
        *error = "the folder " + folder.string() + " holds a capture already";
        return false;
    }
    folder_ = folder;
    open_ = true;
    segmentBytes_ = std::max<int64_t>(1, segmentBytes);
    segments_ = batches_ = results_ = 0;
    written_ = 0;
    completed_.clear();
    return true;
}

void CaptureWriter::SetSegmentSize(int64_t bytes) { segmentBytes_ = std::max<int64_t>(1, bytes); }

bool CaptureWriter::StartSegment(std::string* error) {
    ++segments_;
    final_ = folder_ / SegmentName(segments_);
    part_ = folder_ / ("." + SegmentName(segments_) + ".part");
    file_ = std::fopen(part_.c_str(), "wbx");
    written_ = 0;
    if (file_ == nullptr) {
        *error = "cannot write " + part_.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool CaptureWriter::FinishSegment(std::string* error) {
    if (file_ == nullptr) return true;
    bool ok = std::fflush(file_) == 0 && ::fsync(fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    std::error_code ec;
    if (ok) std::filesystem::rename(part_, final_, ec);
    if (!ok || ec) {
        *error = "cannot complete " + final_.string() + ": " + (ec ? ec.message() : std::strerror(errno));
        std::filesystem::remove(part_, ec);
        return false;
    }
    SyncFolder(folder_);
    completed_.push_back(final_);
    return true;
}

void CaptureWriter::DropSegment() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    std::filesystem::remove(part_, ec);
    open_ = false;
}

bool CaptureWriter::WriteBatch(const std::vector<zvHandle>& results, std::string* error) {
    error->clear();
    if (!open_) {
        *error = "no capture is open";
        return false;
    }
    std::string left;
    bool any = false;
    for (zvHandle result : results) {
        const std::string why = Unrecordable(result);
        if (!why.empty()) {
            left += (left.empty() ? "" : "; ") + why;
            continue;
        }
        const std::string line = ReplayLine(result, batches_) + "\n";
        const auto size = static_cast<int64_t>(line.size());
        if (file_ != nullptr && written_ > 0 && written_ + size > segmentBytes_ && !FinishSegment(error)) {
            DropSegment();
            return false;
        }
        if (file_ == nullptr && !StartSegment(error)) {
            DropSegment();
            return false;
        }
        if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) {
            *error = "cannot write " + part_.string() + ": " + std::strerror(errno);
            DropSegment();
            return false;
        }
        written_ += size;
        ++results_;
        any = true;
    }
    if (any) ++batches_;
    if (!left.empty()) *error = "left out of the capture: " + left;
    return true;
}

bool CaptureWriter::Close(std::string* error) {
    if (!open_) return true;
    const bool ok = FinishSegment(error);
    open_ = false;
    // A capture that received nothing leaves no folder behind.
    std::error_code ec;
    if (segments_ == 0) std::filesystem::remove(folder_, ec);
    return ok;
}

std::vector<std::filesystem::path> CaptureWriter::TakeCompleted() {
    std::vector<std::filesystem::path> taken;
    taken.swap(completed_);
    return taken;
}

std::filesystem::path NewCaptureFolder(const std::filesystem::path& root, std::time_t now) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    const std::filesystem::path base = root / "Capture" / stamp;
    std::error_code ec;
    std::filesystem::path folder = base;
    for (int n = 2; std::filesystem::exists(folder, ec) && n < 100000; ++n)
        folder = base.string() + "-" + std::to_string(n);
    return folder;
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
        std::vector<std::pair<int64_t, std::filesystem::path>> segments;
        for (const auto& entry : std::filesystem::directory_iterator(input, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.empty() || name[0] == '.' || entry.path().extension() != ".jsonl") continue;
            if (!entry.is_regular_file(ec)) continue;
            segments.emplace_back(NumberIn(name), entry.path());
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
        for (const auto& [number, path] : segments) files->push_back(path);
    }
    if (files->empty()) {
        *error = "nothing to replay";
        return false;
    }
    return true;
}

bool LoadReplay(const std::vector<std::filesystem::path>& inputs, Replay* replay, std::string* error) {
    std::vector<std::filesystem::path> files;
    if (!ReplayFiles(inputs, &files, error)) return false;
    return replay->Load(files, error);
}

}  // namespace zv::station
