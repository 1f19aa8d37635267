// The host's events: every kind, its name in an event's "event" field, and
// one builder per kind. The host loop and its front ends send events made
// here; the JSON printer, the text printer (event_text) and the web server
// read them by these kinds. The browser UI's script names the kinds it
// shows by the same names (a test holds the two lists together).
#ifndef ZVHOST_EVENTS_HPP
#define ZVHOST_EVENTS_HPP

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_summary.hpp"
#include "zvapi/zvapi.h"
#include "zvrunner/mode_runner.hpp"
#include "zvstation/capture.hpp"

namespace zvhost {

// Every kind once: its enumerator and its name.
#define ZVHOST_EVENT_KINDS(X)                                                      \
    X(Tree, "tree")             /* the station tree, every node */                 \
    X(Page, "page")             /* a page opened, or a page operation's status */  \
    X(Report, "report")         /* a page's report or text, or the host's */       \
    X(MessageBox, "messagebox") /* a page's message box and its answer */          \
    X(Notify, "notify")         /* a page asked for a new tree */                  \
    X(Modified, "modified")     /* a page holds changes */                         \
    X(Mode, "mode")             /* a pipe's mode was set */                        \
    X(Enabled, "enabled")       /* a pipe was enabled or disabled */               \
    X(Parameters, "parameters") /* a pipe's mode's parameters were set */          \
    X(Capture, "capture")       /* capture on or off, or its segment size */       \
    X(Layout, "layout")         /* the display layout a page chose */              \
    X(Listener, "listener")     /* a page's display listener added or removed */   \
    X(Control, "control")       /* what changed on one control of the page */      \
    X(File, "file")             /* a file of the file space made, written, gone */ \
    X(Console, "console")       /* a handler's console print */                    \
    X(Handler, "handler")       /* a handler call and its status */                \
    X(Play, "play")             /* the user's play or stop */                      \
    X(Played, "played")         /* a timed play ended */                           \
    X(Output, "output")         /* an output a handler sent */                     \
    X(Read, "read")             /* a handler asked to read a server */             \
    X(Written, "written")       /* a picture or table the host wrote */            \
    X(Refused, "refused")       /* a script's action the page did not take */      \
    X(Error, "error")           /* something failed: the text says what */         \
    X(State, "state")           /* the open page's controls, asked for */          \
    X(Summary, "summary")       /* what one run of a mode did */                   \
    X(Plugin, "plugin")         /* an export the plug-in lacks */                  \
    X(Skipped, "skipped")       /* log entries a browser missed */                 \
    X(Server, "server")         /* a server on the network lost, back, or short of batches */

enum class EventKind {
#define ZVHOST_EVENT_ENUM(kind, name) kind,
    ZVHOST_EVENT_KINDS(ZVHOST_EVENT_ENUM)
#undef ZVHOST_EVENT_ENUM
};

// The name of `kind` ("tree", ...).
const char* EventName(EventKind kind);
// Every kind, in the order of the list above.
std::span<const EventKind> EventKinds();
// The kind `event` names in its "event" field; false for none or another.
bool KindOf(const nlohmann::json& event, EventKind* kind);
bool KindByName(const std::string& name, EventKind* kind);
// Whether `event` is of `kind`.
bool IsEvent(const nlohmann::json& event, EventKind kind);

// One builder per kind. Pipes are named by `server`: ZV_CLIENT_PIPE for the
// client's own, else a server's station pipe.
namespace events {

nlohmann::json Tree(nlohmann::json nodes);
nlohmann::json PageOpened(int32_t id, const std::string& name, const std::string& node);
// `action`: "setnode", "create", "activate", "apply", ...
nlohmann::json PageCall(const std::string& action, int32_t status);
// A report as an error or as text; `node` when it is about a node.
nlohmann::json Report(bool error, const std::string& text, const std::string& node = "");
nlohmann::json MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                          const std::string& answer);
nlohmann::json Notify();
nlohmann::json Modified();
nlohmann::json Mode(uint32_t server, const std::string& mode);
nlohmann::json Enabled(uint32_t server, bool on);
// Values in declaration order, with the names the mode declares.
nlohmann::json Parameters(uint32_t server, const std::string& mode, const std::vector<int32_t>& values,
                          const std::vector<std::string>& names);
// Capture switched; `folder` (in the file space) when there is one.
nlohmann::json Capture(bool on, const std::string& folder);
nlohmann::json CaptureSegmentSize(int64_t bytes);
nlohmann::json Layout(int32_t layout);
nlohmann::json Listener(int32_t display, bool added);
// `changes`: the control's properties that changed, with their new values.
nlohmann::json Control(int32_t id, const nlohmann::json& kind, nlohmann::json changes);
enum class FileChange { Created, Written, Deleted };
// `path` in the file space; `size` for a file that is there.
nlohmann::json File(const std::string& path, FileChange change, int64_t size = -1);
// A segment an interrupted capture left, at the next start: recovered (with
// the bytes kept and those cut after its last whole batch), removed, or not
// recoverable (an error event).
nlohmann::json Recovered(const zv::station::Recovered& recovered);
nlohmann::json Console(const std::string& mode, const std::string& text);
// `reason`: what the platform said of a failing call ("" for none).
nlohmann::json Handler(const std::string& mode, zv::runner::Phase phase, zvStatus status, const std::string& reason);
nlohmann::json Play(bool on);
nlohmann::json Played(const std::string& mode, int64_t batches, double seconds);
// `content`: the output described (DescribeOutput), or null to leave it out.
nlohmann::json Output(const zv::runner::Output& output, nlohmann::json content);
nlohmann::json Read(const std::string& mode, uint32_t server);
// A file written outside the file space; the mode and display whose picture
// it is, when it is one.
nlohmann::json Written(const std::string& path, const std::string& mode = "", const std::string& display = "");
nlohmann::json Refused(int64_t line, const std::string& text);
nlohmann::json Error(const std::string& text);
// The open page's state (PageStateJson) with its modified flag and the pipes.
nlohmann::json State(nlohmann::json page, int32_t modified, nlohmann::json pipes);
nlohmann::json Summary(const RunSummary& summary);
nlohmann::json Plugin(const std::string& missing);
nlohmann::json Skipped(uint64_t count);
// What happened to server `server` on the network: `change` is "offline",
// "online" (`restarted` when it came back from a new start), "dropped" or
// "lost" (`count` batches); `text` says it in words.
nlohmann::json Server(uint32_t server, const std::string& change, bool restarted, uint64_t count,
                      const std::string& text);

}  // namespace events

}  // namespace zvhost

#endif
