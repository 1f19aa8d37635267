#include "timeline.hpp"

#include <algorithm>
#include <cmath>

#include "loop_thread.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr double kSlowest = 0.25;
constexpr double kFastest = 8;
constexpr size_t kMaxName = 256;

struct ActionName {
    const char* name;
    TimelineRequest::Action action;
};
constexpr ActionName kActions[] = {
    {"replay", TimelineRequest::Action::Replay}, {"play", TimelineRequest::Action::Play},
    {"pause", TimelineRequest::Action::Pause},   {"step", TimelineRequest::Action::Step},
    {"back", TimelineRequest::Action::Back},     {"seek", TimelineRequest::Action::Seek},
    {"speed", TimelineRequest::Action::Speed},
};

bool Refuse(Reply* refusal, const std::string& text) {
    *refusal = Reply::Error(400, text);
    return false;
}

bool Name(const json& body, const char* key, std::string* out, Reply* refusal) {
    auto it = body.find(key);
    if (it == body.end()) return true;
    if (!it->is_string() || it->get_ref<const std::string&>().size() > kMaxName)
        return Refuse(refusal, std::string("\"") + key + "\" must be a text of at most " + std::to_string(kMaxName) +
                                   " characters");
    *out = it->get<std::string>();
    return true;
}

}  // namespace

bool ParseTimeline(const json& body, TimelineRequest* request, Reply* refusal) {
    auto action = body.find("action");
    if (action == body.end() || !action->is_string()) return Refuse(refusal, "name the timeline's \"action\"");
    bool known = false;
    for (const ActionName& a : kActions) {
        if (*action != a.name) continue;
        request->action = a.action;
        known = true;
    }
    if (!known)
        return Refuse(refusal,
                      "no timeline action of that name (the actions: replay, play, pause, step, back, seek, "
                      "speed)");
    if (!Name(body, "capture", &request->capture, refusal) || !Name(body, "mode", &request->mode, refusal))
        return false;
    if (request->action == TimelineRequest::Action::Replay && request->capture.empty())
        return Refuse(refusal, "name the \"capture\" to replay (Capture/<name>)");
    if (request->action == TimelineRequest::Action::Seek) {
        auto batch = body.find("batch");
        auto time = body.find("time");
        if (batch != body.end()) {
            if (!batch->is_number_integer() || batch->get<int64_t>() < 0)
                return Refuse(refusal, "\"batch\" must be a batch number (0, 1, 2, ...)");
            request->batch = batch->get<int64_t>();
        } else if (time != body.end()) {
            if (!time->is_number() || !std::isfinite(time->get<double>()) || time->get<double>() < 0)
                return Refuse(refusal, "\"time\" must be seconds from the start, 0 or more");
            request->time = time->get<double>();
        } else {
            return Refuse(refusal, "a seek names its \"batch\" or its \"time\"");
        }
    }
    if (request->action == TimelineRequest::Action::Speed) {
        auto speed = body.find("speed");
        if (speed == body.end() || !speed->is_number() || !(speed->get<double>() >= kSlowest) ||
            !(speed->get<double>() <= kFastest))
            return Refuse(refusal, "\"speed\" must be from 0.25 to 8");
        request->speed = speed->get<double>();
    }
    return true;
}

void Timeline::Stepped(const HostLoop& loop) {
    const zv::station::Replay* replay = loop.Replaying();
    if (replay != nullptr && replay->Position() >= replay->BatchCount()) paused_ = true;
}

bool Timeline::Run(HostLoop& loop, const AppInfo& info, const std::string& mode, std::string* error) {
    if (!mode.empty() && (!loop.Running() || loop.Connection().ClientMode() != mode)) {
        if (info.Find(mode) == nullptr) {
            *error = "the plug-in has no mode of that name";
            return false;
        }
        loop.SetPlaying(false);
        loop.SwitchMode(mode);
    }
    if (!loop.Running()) {
        loop.SetPlaying(true);
        // A run that starts anew starts at the recording's first batch.
        if (loop.Running()) return loop.SeekReplay(0, error);
    }
    if (loop.Running()) return true;
    *error = !loop.RunRefusal().empty() ? loop.RunRefusal()
             : loop.Connection().ClientMode().empty()
                 ? std::string("choose the mode to replay in")
                 : "the mode \"" + loop.Connection().ClientMode() + "\" does not run (the log says why)";
    return false;
}

Reply Timeline::Do(HostLoop& loop, const AppInfo& info, const TimelineRequest& request) {
    using Action = TimelineRequest::Action;
    std::string error;
    if (request.action == Action::Replay) {
        if (!loop.ReplayCapture(request.capture, &error)) return Reply::Error(409, error);
        paused_ = true;
    }
    const zv::station::Replay* replay = loop.Replaying();
    if (replay == nullptr)
        return Reply::Error(409,
                            "no recording is replayed: serve --input CAPTURE, or replay a capture of the "
                            "Capture page");
    if (request.action == Action::Speed) {
        speed_ = request.speed;
        return {200, State(loop, info)};
    }
    if (request.action == Action::Pause) {
        paused_ = true;
        return {200, State(loop, info)};
    }
    const bool wasRunning = loop.Running();
    if (!Run(loop, info, request.mode, &error)) return Reply::Error(409, error);
    // A run the timeline starts plays only when asked to.
    if (!wasRunning || !loop.Running()) paused_ = true;
    const size_t count = replay->BatchCount();
    const size_t next = replay->Position();
    bool sought = true;
    switch (request.action) {
        case Action::Replay: break;
        case Action::Play:
            // From the start again once at the end.
            if (next >= count) sought = loop.SeekReplay(0, &error);
            paused_ = false;
            break;
        case Action::Step:
            paused_ = true;
            if (next < count) loop.Step();
            break;
        case Action::Back:
            // The batch shown is the one before `next`: the one before it is shown then.
            paused_ = true;
            sought = loop.SeekReplay(next >= 1 ? next - 1 : 0, &error);
            break;
        case Action::Seek: {
            size_t batch = request.batch >= 0 ? static_cast<size_t>(request.batch) : loop.ReplayBatchAt(request.time);
            if (request.batch >= 0 && batch >= count)
                return Reply::Error(400, "batch " + std::to_string(request.batch) +
                                             " is beyond the recording: it holds " + std::to_string(count) +
                                             " batches");
            if (count == 0) break;
            batch = std::min(batch, count - 1);
            sought = loop.SeekReplay(batch + 1, &error);
            break;
        }
        default: break;
    }
    if (!sought) return Reply::Error(409, error);
    Stepped(loop);
    return {200, State(loop, info)};
}

json Timeline::State(HostLoop& loop, const AppInfo& info) const {
    json modes = json::array();
    for (const ModeInfo& m : info.modes) modes.push_back(m.name);
    const zv::station::Replay* replay = loop.Replaying();
    if (replay == nullptr) return {{"replaying", false}, {"modes", modes}};
    json inputs = json::array();
    for (const auto& input : loop.ReplayInputs()) inputs.push_back(input.filename().string());
    const size_t count = replay->BatchCount();
    const int64_t shown = static_cast<int64_t>(replay->Position()) - 1;
    return {{"replaying", true},
            {"inputs", inputs},
            {"batches", count},
            {"shown", shown},
            {"time", shown >= 0 ? loop.ReplayTime(static_cast<size_t>(shown)) : 0.0},
            {"end", count > 0 ? loop.ReplayTime(count - 1) : 0.0},
            {"playing", loop.Running() && !paused_ && replay->Position() < count},
            {"running", loop.Running()},
            {"speed", speed_},
            {"mode", loop.Connection().ClientMode()},
            {"modes", modes}};
}

}  // namespace zvhost
