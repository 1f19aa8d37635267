// The host loop's replays and captures: a recording replayed from any batch
// (an exact seek replays silently the batches before it that the mode's
// state rests on: seek_plan.hpp), and the capture the client records.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "host_loop.hpp"
#include "seek_plan.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

// Seconds of batch `batch` from the first: by its stamps' time (relative to
// the first stamped batch's, `first`), else by its number and `period`.
double TimeOf(const std::vector<zv::station::ReplayIndex::Batch>& batches, size_t first, double period, size_t batch) {
    if (first < batches.size() && batches[batch].stamped && batches[batch].time >= batches[first].time)
        return static_cast<double>(batches[batch].time - batches[first].time) / 1e6;
    return static_cast<double>(batch) * period;
}

size_t FirstStamped(const std::vector<zv::station::ReplayIndex::Batch>& batches) {
    size_t first = 0;
    while (first < batches.size() && !batches[first].stamped) ++first;
    return first;
}

}  // namespace

// ---- Replay ----------------------------------------------------------------------------------

double HostLoop::ReplayTime(size_t batch) const {
    if (!replay_ || replay_->BatchCount() == 0) return 0;
    const auto& batches = replay_->Index().batches;
    if (batch >= batches.size())
        return TimeOf(batches, firstStamped_, BatchPeriod(), batches.size() - 1) + BatchPeriod();
    return TimeOf(batches, firstStamped_, BatchPeriod(), batch);
}

size_t HostLoop::ReplayBatchAt(double seconds) const {
    if (!replay_) return 0;
    const auto& batches = replay_->Index().batches;
    const double period = BatchPeriod();
    for (size_t b = 0; b < batches.size(); ++b)
        if (TimeOf(batches, firstStamped_, period, b) >= seconds - 1e-9) return b;
    return batches.size();
}

bool HostLoop::SeekReplay(size_t batch, std::string* error) {
    if (!replay_) {
        *error = "no recording is replayed";
        return false;
    }
    if (batch > replay_->BatchCount()) {
        *error = "batch " + std::to_string(batch) + " is beyond the recording: it holds " +
                 std::to_string(replay_->BatchCount()) + " batches";
        return false;
    }
    if (!Running()) {
        *error = "no mode runs";
        return false;
    }
    const std::string mode = runner_->RunningMode();
    SeekPlan plan = PlanSeek(mode, replay_->Index(), batch);
    // Forward, on from here when that is no longer than the plan.
    const size_t at = replay_->Position();
    if (at <= batch && batch - at <= plan.Batches()) return StepQuietly(batch, error);
    // The mode's state holds what came after, or the plan is shorter: it
    // starts afresh and goes through the plan. A plan that did not show on
    // its witness display is made again with twice the objects, up to a
    // whole replay.
    for (size_t depth = 2;; depth *= 2) {
        HostDisplay* witness = plan.witness.empty() ? nullptr : displays_->Find(mode, plan.witness);
        if (!RestartForSeek(mode, error)) return false;
        const uint64_t shown = witness != nullptr ? witness->Generation() : 0;
        for (const BatchRange& range : plan.ranges) {
            if (!SeekRecording(range.begin, error)) return false;
            run_.batches = static_cast<int64_t>(range.begin);  // batches are numbered as in a whole run
            if (!StepQuietly(range.end, error)) return false;
        }
        run_.batches = static_cast<int64_t>(batch);
        if (witness == nullptr || witness->Generation() != shown || !plan.SkipsSome(batch)) break;
        plan = PlanSeek(mode, replay_->Index(), batch, depth * 2);
    }
    return SeekRecording(batch, error);
}

bool HostLoop::SeekRecording(size_t batch, std::string* error) {
    if (const zvStatus status = replay_->Seek(batch); status <= 0) {
        *error = "the recording cannot be read again (status " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

bool HostLoop::RestartForSeek(const std::string& mode, std::string* error) {
    quiet_ = true;  // its start and stop were told when the run began
    StopRun();
    StartRun(mode);
    quiet_ = false;
    if (!Running()) {
        *error = refusal_.empty() ? HandlerFailure("start", mode, run_.startStatus, run_.startReason) : refusal_;
        return false;
    }
    return true;
}

// The batches up to `batch` through the mode, silently.
bool HostLoop::StepQuietly(size_t batch, std::string* error) {
    quiet_ = true;
    while (replay_->Position() < batch && Step()) {
    }
    quiet_ = false;
    if (replay_->Position() < batch) {
        *error = deliveryError_.empty() ? "the recording ended before batch " + std::to_string(batch) : deliveryError_;
        return false;
    }
    return true;
}

bool HostLoop::ReplayCapture(const std::string& folder, std::string* error) {
    // One name under Capture/, of the letters a capture's folder has: never
    // a path of the caller's making.
    const std::string prefix = "Capture/";
    const std::string name = folder.rfind(prefix, 0) == 0 ? folder.substr(prefix.size()) : "";
    const bool plain = !name.empty() && name.size() <= 128 && name != "." && name != ".." &&
                       std::all_of(name.begin(), name.end(), [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
                       });
    std::error_code ec;
    const std::filesystem::path path = options_.files / "Capture" / name;
    if (!plain || !std::filesystem::is_directory(std::filesystem::symlink_status(options_.files / "Capture", ec)) ||
        !std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) {
        *error = "no capture folder of that name in the file space's Capture folder";
        return false;
    }
    // The page closes first: a capture it records is complete then, its
    // last segment named as the replay reads it.
    ClosePage();
    SetPlaying(false);
    if (!LoadRecording({path}, error)) return false;
    options_.input = {path};
    return true;
}

bool HostLoop::LoadRecording(const std::vector<std::filesystem::path>& input, std::string* error) {
    auto replay = std::make_unique<zv::station::Replay>();
    // A recording is read whole once (a capture's first replay, which
    // indexes it): minutes for gigabytes, so the host says how far it is.
    int told = 0;
    const auto progress = [&](uint64_t done, uint64_t total) {
        const int tenths = total >= (uint64_t{256} << 20) ? static_cast<int>(done * 10 / total) : 0;
        if (tenths <= told) return;
        told = tenths;
        char size[32];
        std::snprintf(size, sizeof size, "%.1f", static_cast<double>(total) / (1 << 30));
        Emit(events::Report(false, "reading the recording once, to index it: " + std::to_string(tenths * 10) +
                                       " % of " + size + " GB"));
    };
    if (!zv::station::LoadReplay(input, replay.get(), error, progress)) return false;
    replay_ = std::move(replay);
    firstStamped_ = FirstStamped(replay_->Index().batches);
    for (const std::string& note : replay_->Notes()) Emit(events::Error("replay: " + note));
    return true;
}

// ---- Capture ---------------------------------------------------------------------------------

void HostLoop::StartCapture() {
    if (Capturing()) return;  // switched on again: the same capture goes on
    std::string error;
    captureSpaceFolder_ = zv::station::NewCaptureFolder(std::time(nullptr), &error);
    captureFolder_ = options_.files / captureSpaceFolder_;
    capture_ = std::make_unique<zv::station::CaptureWriter>();
    if (captureSpaceFolder_.empty() || !capture_->Open(captureSpaceFolder_, segmentBytes_, &error)) {
        Emit(events::Error("no capture: " + error));
        capture_.reset();
        captureFolder_.clear();
        captureSpaceFolder_.clear();
        return;
    }
    recordingState_ = {
        {"folder", captureSpaceFolder_}, {"on", true}, {"batches", 0}, {"bytes", 0}, {"segments", json::array()}};
    // The first server's station pipe delivers to the capture even when no
    // mode of the client reads it.
    if (!servers_.empty() && !replay_) station_.StartDelivery(servers_.front());
}

void HostLoop::StopCapture() {
    if (!capture_) return;
    std::string error;
    if (!capture_->Close(&error)) Emit(events::Error("the capture's last segment is lost: " + error));
    ReportSegments();
    if (recordingState_.is_object()) {
        recordingState_["on"] = false;
        recordingState_["batches"] = capture_->Batches();
    }
    capture_.reset();
}

void HostLoop::Record(const std::vector<zvHandle>& payloads) {
    std::string error;
    if (!capture_->WriteBatch(payloads, &error)) {
        Emit(events::Error("the capture stopped: " + error));
    } else if (!error.empty()) {
        Emit(events::Error("capture: " + error));
    }
    ReportSegments();
}

void HostLoop::ReportSegments() {
    constexpr size_t kSegmentsShown = 20;
    for (const zv::station::CaptureWriter::Segment& segment : capture_->TakeCompleted()) {
        Emit(events::File(segment.path, events::FileChange::Created, segment.bytes));
        if (!recordingState_.is_object()) continue;
        recordingState_["bytes"] = recordingState_["bytes"].get<int64_t>() + segment.bytes;
        json& segments = recordingState_["segments"];
        segments.push_back(segment.path);
        if (segments.size() > kSegmentsShown) segments.erase(segments.begin());
    }
}

void HostLoop::RecoverFileSpace() {
    for (const zv::station::Recovered& r : zv::station::RecoverCaptures()) Emit(events::Recovered(r));
    // What other writes interrupted before this start left behind goes now.
    zvFileSpaceSweep("\\");
}

json HostLoop::RecordingJson() const {
    json recording = recordingState_;
    if (capture_ && recording.is_object()) recording["batches"] = capture_->Batches();
    return recording;
}

}  // namespace zvhost
