// The host loop on a thread of its own, for front ends that live on other
// threads (the web server's handlers).
//
// The loop thread owns the HostLoop: it makes it, opens the station, takes
// commands from a bounded queue one at a time and, while the user plays,
// steps the running mode in real time (one batch per period of the mode).
// Other threads never touch the loop or the plug-in: they queue commands
// (Post, Call) and read what the loop thread publishes after each command and
// batch: the tree, the open page's controls, the pipes, the current mode's
// displays with their generations, the open message box, and a bounded log
// of the loop's events. Pictures of displays are made on the loop thread,
// ahead of waiting commands, when someone asks for a newer one than the
// last made, and each display
// keeps only its latest: no browser, slow or gone, makes anything grow or
// holds the loop up.
//
// A page's message box blocks the loop thread (the page's call is waiting
// for the answer) until AnswerBox or the time-out, which answers with the
// box's first button. Answering a box, reading what is published and
// taking a kept picture never wait for the loop thread.
#ifndef ZVHOST_LOOP_THREAD_HPP
#define ZVHOST_LOOP_THREAD_HPP

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "host_loop.hpp"
#include "timeline.hpp"

namespace zvhost {

// Whether the log that browsers read keeps events of `kind`. Those that
// come with every batch or every keystroke stay out: the displays and the
// pipes are published as state instead, and so are the page's controls and
// the tree. (Of handler calls, the batches' are left out too.)
bool LoggedKind(EventKind kind);

// What a command answers: an HTTP status and a JSON body ({"error": text}
// for a refusal).
struct Reply {
    int status = 200;
    nlohmann::json body = nlohmann::json::object();
    static Reply Error(int status, const std::string& text) { return {status, {{"error", text}}}; }
};

// What the loop thread publishes. Each part has a version that grows when
// the part changes; `changes` grows with any of them.
struct Published {
    nlohmann::json tree;      // TreeJson
    nlohmann::json page;      // {"open": false} or the open page's state
    nlohmann::json pipes;     // PipesJson
    nlohmann::json displays;  // {"mode", "displays": [{"name", "kind", "generation", "has"}]}
    nlohmann::json box;       // the open message box, or null
    uint64_t treeVersion = 0, pageVersion = 0, pipesVersion = 0, displaysVersion = 0, boxVersion = 0;
    std::deque<nlohmann::json> log;  // the latest events, oldest first
    uint64_t logNext = 0;            // the number of the next event; log.front() is logNext - log.size()
    uint64_t changes = 0;
    uint64_t controlVersion = 0;  // who holds control, or who watches, changed
    bool stopped = false;
};

// What a display shows, in one of the forms the browser asks for: its
// numbers as JSON ({"content": DescribeOutput(..., full)}: the page draws
// them), the live PNG of earlier pages (drawn at the size they showed it,
// kept for comparison), or the full-size PNG of the files (downloads).
// Tables come as their numbers in every form.
enum class PictureForm { Numbers, LivePng, FilePng };

// A display's latest content in one form: JSON or PNG bytes.
struct DisplayPicture {
    uint64_t generation = 0;
    std::string type;  // "image/png" or "application/json"
    std::string bytes;
};

class LoopThread {
public:
    struct Options {
        HostLoop::Options loop;
        std::chrono::milliseconds boxTimeout{60000};  // a message box unanswered this long gets its first button
        size_t maxCommands = 64;                      // commands waiting beyond this are refused (queue full)
        size_t logSize = 400;                         // events kept for the log
    };
    using Command = std::function<Reply(HostLoop& loop)>;
    using Done = std::function<void(Reply)>;

    // `plugin`, `app` and `info` outlive this object.
    LoopThread(const Plugin& plugin, zvHandle app, const AppInfo& info);
    ~LoopThread();
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    // Starts the thread and opens the station on it; false with `*error`
    // set (and no thread left) when the station cannot be opened.
    bool Start(const Options& options, std::string* error);
    // Closes the open page, stops the run and ends the thread. Queued
    // commands are answered 503; an open message box gets its first button.
    void Stop();

    // Queues `command` for the loop thread. `done` gets its reply once:
    // at once with 503 when the queue is full ("queue full") or the loop has
    // stopped; else from the loop thread after the command ran (500 without
    // details when it threw: those go to the standard error), or with 503
    // when the loop stops first. The loop's state is published before the
    // reply, unless `publishes` is false (a command that changes nothing).
    void Post(Command command, Done done, bool publishes = true);
    // Post, waiting up to `wait` for the reply: 504 when it took longer (the
    // command still runs).
    Reply Call(Command command, std::chrono::milliseconds wait, bool publishes = true);

    // The user's answer (wf::kIdOk, ...) to message box `id`: 409 when that
    // box is not open, 400 for an answer it has no button for.
    Reply AnswerBox(uint64_t id, int32_t answer);

    // ---- Control: one browser acts, the others watch ----------------------------
    // Browsers are told apart by an identifier each makes for itself. The
    // first to join holds control; when it leaves (its last event stream
    // ends) control passes to the one that joined earliest of those left,
    // and any browser may take it. Joining returns the browser's name
    // ("browser 1", ...), kept while any of its streams is open.
    std::string JoinBrowser(const std::string& id);
    void LeaveBrowser(const std::string& id);
    // Gives control to browser `id`; false when it has not joined.
    bool TakeControl(const std::string& id);
    // Whether a request from `id` may act: it holds control, or no browser
    // does. Otherwise false with `*holder` naming the one that does.
    bool MayAct(const std::string& id, std::string* holder) const;
    // What browser `id` sees of control: {"you", "holding", "holder",
    // "watchers": [names]}.
    nlohmann::json ControlView(const std::string& id) const;

    // Carries out a timeline request of a replay; on the loop thread only
    // (from inside a command).
    Reply TimelineCommand(HostLoop& loop, const TimelineRequest& request);

    // Calls `read` with the published state, under its lock: be quick.
    template <class Reader>
    void Read(Reader&& read) const {
        std::lock_guard<std::mutex> lock(mutex_);
        read(published_);
    }
    // Waits until `changes` differs from `*seen` (or the loop stops), up to
    // `timeout`; sets `*seen` to it. False on time-out.
    bool WaitForChange(uint64_t* seen, std::chrono::milliseconds timeout) const;

    // The latest picture of display `name` of the client's current mode.
    // When the one kept is older than what the display shows, the loop
    // thread makes one ahead of the queued commands, and this waits for it
    // up to `wait`; when the loop is busy that long, the older picture is
    // the answer, or 503 when none was made yet. 404 when the mode has no
    // such display or it shows nothing yet.
    Reply Picture(const std::string& name, DisplayPicture* picture, std::chrono::milliseconds wait,
                  PictureForm form = PictureForm::Numbers);

private:
    struct Pending;
    void Run(std::shared_ptr<Pending> opened);
    // Runs the `commands` that wait (and the pictures asked for ahead of each).
    void RunCommands(HostLoop& loop, size_t commands);
    void OnEvent(const nlohmann::json& event);
    int32_t WaitForAnswer(const wf::MessageBoxRequest& request);
    // Publishes the loop's state; the page only after commands.
    void Publish(HostLoop& loop, bool withPage);
    using Wanted = std::pair<std::string, PictureForm>;  // a display's name and the form asked for
    Reply MakePicture(HostLoop& loop, const Wanted& wanted);
    // Makes the pictures asked for and wakes who waits for them.
    void MakeWanted(HostLoop& loop);

    const Plugin& plugin_;
    zvHandle app_;
    const AppInfo& info_;
    Options options_;
    std::thread thread_;
    std::string openName_;  // the open page's name (loop thread only)
    Timeline timeline_;     // loop thread only
    std::string openNode_;  // the open page's node (under mutex_)

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;  // published_ changed, or a box was answered
    std::condition_variable queued_;           // a command came, or stop
    struct Item;
    std::deque<std::shared_ptr<Item>> queue_;
    bool stop_ = false;
    bool running_ = false;
    Published published_;
    uint64_t boxId_ = 0;
    int32_t boxAnswer_ = 0;                           // 0 while the open box waits
    std::map<std::string, DisplayPicture> pictures_;  // by "form/mode/display"
    std::set<Wanted> wanted_;                         // displays whose picture is asked for, by form
    std::condition_variable pictured_;                // a picture was made, or stop
    struct Browser {
        std::string id;
        std::string name;
        int streams = 0;
    };
    std::vector<Browser> browsers_;  // in the order they joined
    std::string holder_;             // the identifier of the one in control
    uint64_t browsersJoined_ = 0;
};

}  // namespace zvhost

#endif
