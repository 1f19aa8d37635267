#include "loop_thread.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <future>
#include <vector>

#include "render.hpp"
#include "zvstation/station.hpp"

namespace zvhost {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// A loop that falls further behind than this skips the batches it missed
// rather than running them in a burst.
constexpr std::chrono::milliseconds kMostBehind{250};
constexpr std::chrono::milliseconds kWatchPeriod{200};  // how often the servers on the network are looked at when idle
constexpr std::chrono::milliseconds kNetworkLook{1};    // ... and for their batches while a mode runs
// Live pictures of plots and polar models are drawn at the size the page
// shows them: the encoding of a picture costs the loop by its pixels.
constexpr double kLiveScale = 0.6;

json Buttons(uint32_t type) {
    if (type == wf::kMbOkCancel) return {"OK", "Cancel"};
    if (type == wf::kMbYesNo) return {"Yes", "No"};
    return {"OK"};
}

// Events that come with every batch stay out of the log: the displays and
// the pipes are published as state instead, and so are the page's controls.
bool Logged(const json& event) {
    EventKind kind{};
    if (!KindOf(event, &kind) || !LoggedKind(kind)) return false;
    return !(kind == EventKind::Handler && event.value("phase", "") == "process");
}

}  // namespace

bool LoggedKind(EventKind kind) {
    switch (kind) {
        case EventKind::Output:
        case EventKind::Read:
        case EventKind::Control:
        case EventKind::Tree: return false;
        default: return true;
    }
}

struct LoopThread::Item {
    Command command;
    bool publishes = true;
    Done done;
};

struct LoopThread::Pending {
    std::promise<std::string> opened;  // "" when the station opened
};

LoopThread::LoopThread(const Plugin& plugin, zvHandle app, const AppInfo& info)
    : plugin_(plugin), app_(app), info_(info) {}

LoopThread::~LoopThread() { Stop(); }

bool LoopThread::Start(const Options& options, std::string* error) {
    if (thread_.joinable()) {
        *error = "the host loop runs already";
        return false;
    }
    options_ = options;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
        published_ = Published{};
    }
    auto pending = std::make_shared<Pending>();
    std::future<std::string> opened = pending->opened.get_future();
    thread_ = std::thread(&LoopThread::Run, this, pending);
    *error = opened.get();
    if (!error->empty()) {
        thread_.join();
        return false;
    }
    return true;
}

void LoopThread::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    queued_.notify_all();
    changed_.notify_all();
    pictured_.notify_all();
    if (thread_.joinable()) thread_.join();
}

namespace {

// A reply handed on; whatever `done` throws stays here.
void Deliver(const LoopThread::Done& done, Reply reply) {
    try {
        done(std::move(reply));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zvhost: a reply was lost: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zvhost: a reply was lost\n");
    }
}

}  // namespace

void LoopThread::Post(Command command, Done done, bool publishes) {
    auto item = std::make_shared<Item>();
    item->command = std::move(command);
    item->publishes = publishes;
    item->done = std::move(done);
    Reply refusal;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_ || !running_) {
            refusal = Reply::Error(503, "the host loop has stopped");
        } else if (queue_.size() >= options_.maxCommands) {
            refusal = Reply::Error(
                503, "the host loop is busy: " + std::to_string(queue_.size()) + " commands wait already (queue full)");
        } else {
            queue_.push_back(item);
        }
    }
    if (refusal.status != 200) return Deliver(item->done, std::move(refusal));
    queued_.notify_one();
}

Reply LoopThread::Call(Command command, std::chrono::milliseconds wait, bool publishes) {
    auto promise = std::make_shared<std::promise<Reply>>();
    std::future<Reply> reply = promise->get_future();
    Post(
        std::move(command), [promise](Reply r) { promise->set_value(std::move(r)); }, publishes);
    if (reply.wait_for(wait) != std::future_status::ready)
        return Reply::Error(504, "the host loop did not answer in time (it is still busy with the request)");
    return reply.get();
}

Reply LoopThread::AnswerBox(uint64_t id, int32_t answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (published_.box.is_null() || id != boxId_ || boxAnswer_ != 0)
        return Reply::Error(409, "message box " + std::to_string(id) + " is not open");
    bool offered = false;
    for (const json& button : published_.box["buttons"]) offered = offered || button == ButtonName(answer);
    if (!offered) return Reply::Error(400, "message box " + std::to_string(id) + " has no such button");
    boxAnswer_ = answer;
    changed_.notify_all();
    return {200, {{"answer", ButtonName(answer)}}};
}

bool LoopThread::WaitForChange(uint64_t* seen, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool changed =
        changed_.wait_for(lock, timeout, [&] { return published_.changes != *seen || published_.stopped; });
    *seen = published_.changes;
    return changed;
}

namespace {

std::string PictureKey(PictureForm form, const std::string& mode, const std::string& name) {
    return std::to_string(static_cast<int>(form)) + "/" + mode + "/" + name;
}

}  // namespace

Reply LoopThread::Picture(const std::string& name, DisplayPicture* picture, std::chrono::milliseconds wait,
                          PictureForm form) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::string mode = published_.displays.value("mode", "");
    json entry;
    for (const json& d : published_.displays.value("displays", json::array()))
        if (d.value("name", "") == name) entry = d;
    // The name is the caller's: the messages leave it out.
    if (entry.is_null()) return Reply::Error(404, "the mode \"" + mode + "\" has no display of that name");
    if (!entry.value("has", false)) return Reply::Error(404, "the display shows nothing yet");
    const std::string key = PictureKey(form, mode, name);
    const uint64_t generation = entry.value("generation", uint64_t{0});
    const Wanted wanted{name, form};
    auto current = [&] {
        auto it = pictures_.find(key);
        return it != pictures_.end() && it->second.generation >= generation;
    };
    if (!current()) {
        // Displays are few (the entry exists), and so are forms: so are the names wanted.
        wanted_.insert(wanted);
        queued_.notify_one();
        pictured_.wait_for(lock, wait, [&] { return current() || stop_ || !wanted_.contains(wanted); });
    }
    auto it = pictures_.find(key);
    if (it == pictures_.end()) {
        if (wanted_.contains(wanted))
            return Reply::Error(503, "the display's picture is not drawn yet: the host loop is busy");
        return Reply::Error(404, "the display shows nothing");
    }
    *picture = it->second;
    return {};
}

// ---- On the loop thread ----------------------------------------------------------------

Reply LoopThread::MakePicture(HostLoop& loop, const Wanted& wanted) {
    const auto& [name, form] = wanted;
    const std::string mode = loop.Connection().ClientMode();
    HostDisplay* display = loop.Displays().Find(mode, name);
    const zvHandle showing = display != nullptr ? display->Showing() : nullptr;
    if (showing == nullptr) return Reply::Error(404, "the display \"" + name + "\" shows nothing");
    const std::string key = PictureKey(form, mode, name);
    const uint64_t generation = display->Generation();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pictures_.find(key);
        if (it != pictures_.end() && it->second.generation == generation) return {200, {{"key", key}}};
    }
    DisplayPicture made;
    made.generation = generation;
    std::string error;
    const bool png = form != PictureForm::Numbers && !zvObjectIs(showing, ZV_TYPE_ARRAYLIST);
    if (png && RenderPng(showing, &made.bytes, &error, form == PictureForm::LivePng ? kLiveScale : 1.0)) {
        made.type = "image/png";
    } else {
        made.type = "application/json";
        made.bytes =
            json{{"content", DescribeOutput(showing, true)}}.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    pictures_[key] = std::move(made);
    return {200, {{"key", key}}};
}

void LoopThread::MakeWanted(HostLoop& loop) {
    std::vector<Wanted> wanted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted.assign(wanted_.begin(), wanted_.end());
    }
    if (wanted.empty()) return;
    for (const Wanted& each : wanted) {
        try {
            MakePicture(loop, each);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zvhost: a display's picture failed: %s\n", e.what());
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Wanted& each : wanted) wanted_.erase(each);
    }
    pictured_.notify_all();
}

void LoopThread::OnEvent(const json& event) {
    const bool opened = IsEvent(event, EventKind::Page) && event.value("action", "") == "open";
    if (opened) openName_ = event.value("name", "");
    std::lock_guard<std::mutex> lock(mutex_);
    if (opened) openNode_ = event.value("node", "");
    if (IsEvent(event, EventKind::Tree)) {
        published_.tree = event;
        ++published_.treeVersion;
        ++published_.changes;
        changed_.notify_all();
    }
    if (!Logged(event)) return;
    json entry = event;
    entry["seq"] = published_.logNext++;
    // When it happened, and the node whose page it came from: the log
    // reads in the operator's terms.
    entry["time"] =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    if (!entry.contains("node") && !entry.contains("mode") && !openNode_.empty()) entry["node"] = openNode_;
    published_.log.push_back(std::move(entry));
    while (published_.log.size() > options_.logSize) published_.log.pop_front();
    ++published_.changes;
    changed_.notify_all();
}

int32_t LoopThread::WaitForAnswer(const wf::MessageBoxRequest& request) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t id = ++boxId_;
    boxAnswer_ = 0;
    published_.box = {{"id", id},
                      {"text", request.text},
                      {"caption", request.caption},
                      {"type", request.type},
                      {"buttons", Buttons(request.type)}};
    ++published_.boxVersion;
    ++published_.changes;
    changed_.notify_all();
    changed_.wait_for(lock, options_.boxTimeout, [&] { return boxAnswer_ != 0 || stop_; });
    const int32_t answer = boxAnswer_ != 0 ? boxAnswer_ : FirstButton(request.type);
    boxAnswer_ = -1;  // answered: late answers find no box
    published_.box = nullptr;
    ++published_.boxVersion;
    ++published_.changes;
    changed_.notify_all();
    return answer;
}

Reply LoopThread::TimelineCommand(HostLoop& loop, const TimelineRequest& request) {
    return timeline_.Do(loop, info_, request);
}

void LoopThread::Publish(HostLoop& loop, bool withPage) {
    json pipes = loop.PipesJson();
    pipes["timeline"] = timeline_.State(loop, info_);
    const std::string mode = loop.Connection().ClientMode();
    json list = json::array();
    for (HostDisplay* d : loop.Displays().Of(mode))
        list.push_back({{"name", d->Name()},
                        {"kind", KindName(d->Kind())},
                        {"generation", d->Generation()},
                        {"has", d->Showing() != nullptr}});
    json displays = {{"mode", mode}, {"displays", list}};
    json page;
    if (withPage) {
        if (loop.PageOpen()) {
            page = loop.PageStateJson();
            page["open"] = true;
            page["name"] = openName_;
            page["modified"] = loop.PageModified() != 0;
            if (!loop.PageOutcome().is_null()) page["outcome"] = loop.PageOutcome();
        } else {
            page = {{"open", false}};
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bool changed = false;
    auto update = [&](json& slot, uint64_t& version, json value) {
        if (slot == value) return;
        slot = std::move(value);
        ++version;
        changed = true;
    };
    update(published_.pipes, published_.pipesVersion, std::move(pipes));
    update(published_.displays, published_.displaysVersion, std::move(displays));
    if (withPage) {
        if (!page.value("open", false)) openNode_.clear();
        update(published_.page, published_.pageVersion, std::move(page));
    }
    if (changed) {
        ++published_.changes;
        changed_.notify_all();
    }
}

void LoopThread::RunCommands(HostLoop& loop, size_t commands) {
    MakeWanted(loop);
    // The commands that wait now, one at a time: those behind stay in the
    // queue, which is what its bound counts. Pictures asked for meanwhile
    // go ahead of the next.
    for (size_t i = 0; i < commands; ++i) {
        if (i > 0) MakeWanted(loop);
        std::shared_ptr<Item> item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_ || queue_.empty()) break;
            item = queue_.front();
            queue_.pop_front();
        }
        Reply reply;
        try {
            reply = item->command(loop);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zvhost: a command failed: %s\n", e.what());
            reply = Reply::Error(500, "the host failed on this request (its output says why)");
        } catch (...) {
            std::fprintf(stderr, "zvhost: a command failed\n");
            reply = Reply::Error(500, "the host failed on this request (its output says why)");
        }
        // What a command did is published before its reply goes out.
        if (item->publishes) Publish(loop, true);
        Deliver(item->done, std::move(reply));
    }
}

void LoopThread::Run(std::shared_ptr<Pending> opened) {
    {
        HostLoop loop(plugin_, app_, info_);
        loop.SetEventSink([this](const json& event) { OnEvent(event); });
        loop.SetMessageBoxAnswerer([this](const wf::MessageBoxRequest& request) { return WaitForAnswer(request); });
        std::string error;
        if (!loop.Open(options_.loop, &error)) {
            opened->opened.set_value(error.empty() ? "the station could not be opened" : error);
            return;
        }
        OnEvent(loop.TreeJson());
        Publish(loop, true);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = true;
        }
        opened->opened.set_value("");

        Clock::time_point next = Clock::now();
        for (;;) {
            size_t commands = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                auto ready = [&] { return stop_ || !queue_.empty() || !wanted_.empty(); };
                if (loop.Delivering() && !timeline_.Paused()) {
                    // Servers on the network send when they will: a batch is
                    // looked for every millisecond, not only once a period.
                    const Clock::time_point until =
                        loop.HasNetworkServers() ? std::min(next, Clock::now() + kNetworkLook) : next;
                    queued_.wait_until(lock, until, ready);
                } else if (loop.HasNetworkServers()) {
                    // A server on the network may be lost or come back at any time.
                    queued_.wait_for(lock, kWatchPeriod, ready);
                } else {
                    queued_.wait(lock, ready);
                }
                if (stop_) break;
                commands = queue_.size();
            }
            RunCommands(loop, commands);
            loop.Watch();
            bool stepped = false;
            const Clock::time_point now = Clock::now();
            if (loop.Delivering() && !timeline_.Paused()) {
                if (now >= next) {
                    const double period = loop.BatchPeriod() / timeline_.Speed();
                    loop.Step();
                    timeline_.Stepped(loop);
                    stepped = true;
                    next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(period));
                    if (next + kMostBehind < now) next = now;
                } else if (loop.BatchesWaiting()) {
                    loop.Step();
                    stepped = true;
                }
            } else {
                next = now;
            }
            if (stepped) Publish(loop, false);
        }
        // The page closes and the run stops as the loop ends (a box raised
        // now is answered at once: stop_ is set).
        std::deque<std::shared_ptr<Item>> left;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
            left.swap(queue_);
        }
        for (const auto& item : left) Deliver(item->done, Reply::Error(503, "the host loop has stopped"));
        loop.SetEventSink(nullptr);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    published_.stopped = true;
    ++published_.changes;
    changed_.notify_all();
    pictured_.notify_all();
}

}  // namespace zvhost

namespace zvhost {

std::string LoopThread::JoinBrowser(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(browsers_.begin(), browsers_.end(), [&](const Browser& b) { return b.id == id; });
    if (it == browsers_.end()) {
        browsers_.push_back({id, "browser " + std::to_string(++browsersJoined_), 0});
        it = browsers_.end() - 1;
    }
    ++it->streams;
    if (holder_.empty()) holder_ = id;
    ++published_.controlVersion;
    ++published_.changes;
    changed_.notify_all();
    return it->name;
}

void LoopThread::LeaveBrowser(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(browsers_.begin(), browsers_.end(), [&](const Browser& b) { return b.id == id; });
    if (it == browsers_.end() || --it->streams > 0) return;
    browsers_.erase(it);
    if (holder_ == id) holder_ = browsers_.empty() ? "" : browsers_.front().id;
    ++published_.controlVersion;
    ++published_.changes;
    changed_.notify_all();
}

bool LoopThread::TakeControl(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::none_of(browsers_.begin(), browsers_.end(), [&](const Browser& b) { return b.id == id; })) return false;
    if (holder_ != id) {
        holder_ = id;
        ++published_.controlVersion;
        ++published_.changes;
        changed_.notify_all();
    }
    return true;
}

bool LoopThread::MayAct(const std::string& id, std::string* holder) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holder_.empty() || holder_ == id) return true;
    for (const Browser& b : browsers_)
        if (b.id == holder_) *holder = b.name;
    return false;
}

json LoopThread::ControlView(const std::string& id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    json view = {
        {"you", ""}, {"holding", holder_.empty() || holder_ == id}, {"holder", ""}, {"watchers", json::array()}};
    for (const Browser& b : browsers_) {
        if (b.id == id) view["you"] = b.name;
        if (b.id == holder_) {
            view["holder"] = b.name;
        } else {
            view["watchers"].push_back(b.name);
        }
    }
    return view;
}

}  // namespace zvhost
