// The timeline of a replay in the browser: play and pause, a step forward
// or back, a seek to a batch or a time, the speed; and a capture of the
// file space replayed on request. It lives on the loop thread, which asks
// it whether and how fast to step the run.
//
// A seek is exact: after a seek to batch N the displays show what a whole
// run showed after batch N (HostLoop::SeekReplay replays the batches before
// through the mode silently).
#ifndef ZVHOST_TIMELINE_HPP
#define ZVHOST_TIMELINE_HPP

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "host_loop.hpp"

namespace zvhost {

struct Reply;  // loop_thread.hpp

struct TimelineRequest {
    enum class Action { Replay, Play, Pause, Step, Back, Seek, Speed };
    Action action = Action::Pause;
    std::string capture;  // Replay: "Capture/<name>"
    std::string mode;     // Replay, Play: the mode to run it in ("": the client pipe's)
    int64_t batch = -1;   // Seek: the batch to show
    double time = -1;     // Seek: ... or the first at this time, in seconds
    double speed = 1;     // Speed: 0.25 to 8
};

// The body of POST /api/timeline: {"action": "replay" | "play" | "pause" |
// "step" | "back" | "seek" | "speed", "capture", "mode", "batch", "time",
// "speed"}. False with the refusal (400) set.
bool ParseTimeline(const nlohmann::json& body, TimelineRequest* request, Reply* refusal);

class Timeline {
public:
    // What the loop thread does between commands: step the run while the
    // replay plays, once per batch period divided by the speed.
    bool Paused() const { return paused_; }
    double Speed() const { return speed_; }
    // After each step: a replay that reached its end pauses.
    void Stepped(const HostLoop& loop);

    // Carries out `request` on the loop (on the loop thread).
    Reply Do(HostLoop& loop, const AppInfo& info, const TimelineRequest& request);
    // {"replaying", "inputs", "batches", "shown" (-1: none yet), "time",
    // "end", "playing", "speed", "mode", "modes"}.
    nlohmann::json State(HostLoop& loop, const AppInfo& info) const;

private:
    // Starts the replay's run in `mode` (or the client pipe's) when none runs.
    bool Run(HostLoop& loop, const AppInfo& info, const std::string& mode, std::string* error);
    bool paused_ = false;  // the header's Play plays a replay too
    double speed_ = 1;
};

}  // namespace zvhost

#endif
