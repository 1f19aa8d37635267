// The host's side of a mode run.
//
// A ModeRunner holds a client (its servers' serial numbers; the servers'
// files lie in zvApi's global file space, which the caller sets up) and a
// described pipe app (as TorvaneDescribePipeApp returns it, or a mode
// described by hand with the zvPipe* calls). It starts a mode by name,
// calls the mode's start handler, then its process handler once per batch
// of messages, then its stop handler, one call at a time. Every output a
// handler sends is routed by its label to the display of that name in the
// running mode and recorded in order, with the object itself, so tests and
// the host can read plots, tables, images and polar models back through the
// zv read-back calls. Console prints, read requests and handler statuses are
// recorded as well.
//
// Ownership: the runner never destroys the app. It owns the client it
// creates (not one given to it), the engines of its runs and, through
// them, every recorded output: those stay alive until Reset() or the
// runner's destruction, also after Stop(). The runner is not thread-safe;
// use it from one thread.
#ifndef ZVRUNNER_MODE_RUNNER_HPP
#define ZVRUNNER_MODE_RUNNER_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"

namespace zv::runner {

// One sent output, in the order the engine received it.
struct Output {
    std::string mode;     // the mode that was running
    std::string display;  // the display it was routed to; "" when unrouted
    int32_t displayKind;  // that display's kind (0..3); -1 when unrouted
    bool routed;          // false: the label names no display of the mode
    std::string label;    // the label it carried
    int32_t type;         // zvObjectType of the object when sent
    zvHandle object;      // the object (engine-owned); 0 once released
};

// The mode of `app` named `name`, or 0.
zvHandle FindMode(zvHandle app, const std::string& name);

enum class Phase { Start, Process, Stop };

// One handler call and what it returned.
struct HandlerCall {
    std::string mode;
    Phase phase;
    zvStatus status;
};

// A zvPipeEngineRead of a handler.
struct ReadRequest {
    std::string mode;
    uint32_t serverId;
    int32_t a;
    int32_t b;
};

// Answers a handler's zvPipeEngineRead; its status is what the handler gets.
using ReadHook = std::function<zvStatus(const ReadRequest& request)>;
// Supplies the next batch for Pump(): appends payloads (results, or array
// lists of results; 0 for a message without payload) whose ownership passes
// to the runner. Returns 1 with payloads, 1 with none when the source has
// nothing more, or a failure status.
using BatchSource = std::function<zvStatus(std::vector<zvHandle>& payloads)>;
// Told of every output as it is recorded (the host's displays).
using OutputObserver = std::function<void(const Output& output)>;

class ModeRunner {
public:
    // `app` is a pipe-app handle (not owned; may be 0 and set later).
    // `client` 0: the runner creates and owns a client of its own; else it
    // runs over the given client, which it never destroys.
    explicit ModeRunner(zvHandle app = nullptr, zvHandle client = nullptr);
    ~ModeRunner();
    ModeRunner(const ModeRunner&) = delete;
    ModeRunner& operator=(const ModeRunner&) = delete;

    // ---- Setup -------------------------------------------------------------
    // ZV_E_STATE while a mode runs.
    zvStatus SetApp(zvHandle app);
    zvHandle App() const;
    zvHandle Client() const;
    // Adds a server to the client (the first added is the first server).
    zvStatus AddServer(uint32_t serverId);
    void SetReadHook(ReadHook hook);
    void SetBatchSource(BatchSource source);
    void SetOutputObserver(OutputObserver observer);
    // Keeps the objects of at most `limit` most recent outputs (0: all, the
    // default); older ones are released and their records keep object 0.
    void SetOutputLimit(size_t limit);

    // ---- Parameters ----------------------------------------------------------
    // Each mode's values start at their declared initial values; they live
    // as long as the runner and survive runs. ZV_E_NOTFOUND for an unknown
    // mode or parameter. A change while the mode runs reaches its next
    // handler call.
    zvStatus SetParameter(const std::string& mode, const std::string& name, int32_t value);
    // The same for the running mode; ZV_E_STATE when none runs.
    zvStatus SetParameter(const std::string& name, int32_t value);
    // All values by position (what a page's zvPipeSetModeParameters does);
    // ZV_E_ARGUMENT when the count differs from the declared one.
    zvStatus SetParameters(const std::string& mode, const std::vector<int32_t>& values);
    // Current values in declaration order; empty for an unknown mode.
    std::vector<int32_t> Parameters(const std::string& mode) const;

    // ---- Running -------------------------------------------------------------
    // Creates the run's engine and calls the mode's start handler.
    // ZV_E_STATE when a mode already runs, ZV_E_NOTFOUND for an unknown
    // mode. A failing start handler's status is returned unchanged and the
    // run ends: if the handler left a record in its state slot, the mode's
    // stop handler is called once with it to release what exists (recorded
    // as a Stop call), and nothing else is called.
    zvStatus Start(const std::string& mode);
    // Calls the process handler with `messages` (an array list of message
    // handles, still owned by the caller). Returns the handler's status;
    // ZV_E_STATE when no mode runs. A failing status does not end the run.
    zvStatus Process(zvHandle messages);
    // Wraps each payload in a message (a null payload gives a message
    // without one), calls the process handler with the list and then
    // destroys list, messages and payloads. Ownership of the payloads
    // passes to the runner whatever happens.
    zvStatus ProcessPayloads(const std::vector<zvHandle>& payloads);
    // Asks the batch source for up to `maxBatches` batches and processes
    // each; stops early when it has nothing more or a call fails. Returns 1,
    // or the first failing status. ZV_E_STATE when no mode runs or no read
    // was started.
    zvStatus Pump(int maxBatches);
    // Calls the stop handler and ends the run; its status is returned. The
    // run's engine and outputs are kept until Reset(). ZV_E_STATE when no
    // mode runs.
    zvStatus Stop();
    // Stops a running mode (ignoring its status), then releases every
    // recorded output and finished engine and clears all records.
    // Parameters and servers stay.
    void Reset();

    bool Running() const;
    // The running mode's name, "" when none.
    std::string RunningMode() const;
    // The running engine, 0 when none.
    zvHandle Engine() const;
    // The running state record (what the start handler stored), or null.
    void* State() const;

    // ---- Records -------------------------------------------------------------
    const std::vector<Output>& Outputs() const;
    // Outputs routed to `display` (or, for "", the unrouted ones), in order.
    std::vector<Output> OutputsTo(const std::string& display) const;
    // Every zvPipeEnginePrint text, in order, and their concatenation.
    const std::vector<std::string>& Prints() const;
    std::string Console() const;
    const std::vector<HandlerCall>& Calls() const;
    const std::vector<ReadRequest>& Reads() const;
    // Forgets the records of outputs, prints, calls and reads without
    // releasing objects (they stay alive until Reset()).
    void ClearRecords();

    // ---- Message builders ----------------------------------------------------
    // An array list (item type 36, owning) of messages, one per payload, each
    // owning its payload. On failure `*list` is 0 and the payloads are
    // destroyed.
    static zvStatus MakeMessageList(const std::vector<zvHandle>& payloads, zvHandle* list);
    // An array list (item type 44, owning) of results.
    static zvStatus MakeResultList(const std::vector<zvHandle>& results, zvHandle* list);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Text of a phase for logs: "start", "process", "stop".
const char* PhaseName(Phase phase);

}  // namespace zv::runner

#endif
