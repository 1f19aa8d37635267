// The mode runner: one run at a time over a client, its handlers called in
// order, its outputs routed by label and recorded.
#include "zvrunner/mode_runner.hpp"

#include <map>
#include <utility>

namespace zv::runner {

zvHandle FindMode(zvHandle app, const std::string& name) {
    const int32_t count = zvPipeAppModeCount(app);
    for (int32_t i = 0; i < count; ++i) {
        zvHandle mode = zvPipeAppModeAt(app, i);
        const char* modeName = zvPipeModeName(mode);
        if (modeName != nullptr && name == modeName) return mode;
    }
    return nullptr;
}

namespace {

std::vector<int32_t> InitialValues(zvHandle mode) {
    std::vector<int32_t> values;
    const int32_t count = zvPipeModeParameterCount(mode);
    for (int32_t i = 0; i < count; ++i) values.push_back(zvPipeModeParameterInitial(mode, i));
    return values;
}

void DestroyFrom(const std::vector<zvHandle>& objects, size_t first) {
    for (size_t i = first; i < objects.size(); ++i) zvObjectDestroy(objects[i]);
}

// Clears `*list` and makes an empty list of `type` with room for `items`.
// On failure every item is destroyed (the caller handed them over).
zvStatus OpenList(const std::vector<zvHandle>& items, int32_t type, zvHandle* list, zvHandle* made) {
    if (list == nullptr) {
        DestroyFrom(items, 0);
        return ZV_E_ARGUMENT;
    }
    *list = nullptr;
    zvStatus status = zvArrayListCreate(made, nullptr);
    if (status > 0) status = zvArrayListInit(*made, type, static_cast<int32_t>(items.size()), 0);
    if (status <= 0) {
        zvArrayListDestroy(*made);
        *made = nullptr;
        DestroyFrom(items, 0);
    }
    return status;
}

}  // namespace

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Start: return "start";
        case Phase::Process: return "process";
        case Phase::Stop: return "stop";
    }
    return "";
}

struct ModeRunner::Impl {
    zvHandle app = nullptr;
    zvHandle client = nullptr;
    bool ownsClient = false;
    ReadHook readHook;
    BatchSource source;
    OutputObserver observer;
    size_t limit = 0;

    // Parameter values per mode name; filled from the declaration on first use.
    std::map<std::string, std::vector<int32_t>> parameters;

    // The run.
    bool running = false;
    std::string modeName;
    zvHandle mode = nullptr;
    zvHandle engine = nullptr;
    void* state = nullptr;
    std::vector<zvHandle> engines;  // every run's engine until Reset

    std::vector<Output> outputs;
    std::vector<zvHandle> outputEngines;  // the engine of each output
    size_t firstKept = 0;                 // outputs before it were released
    std::vector<std::string> prints;
    std::vector<HandlerCall> calls;
    std::vector<ReadRequest> reads;

    std::vector<int32_t>* ValuesOf(const std::string& name) {
        auto it = parameters.find(name);
        if (it != parameters.end()) return &it->second;
        zvHandle m = FindMode(app, name);
        if (m == nullptr) return nullptr;
        return &parameters.emplace(name, InitialValues(m)).first->second;
    }

    // The current values of the running mode as an int32 list (item type
    // 151) for one handler call; the caller destroys it.
    zvStatus ParameterList(zvHandle* list) {
        *list = nullptr;
        std::vector<int32_t>* values = ValuesOf(modeName);
        const int32_t count = values ? static_cast<int32_t>(values->size()) : 0;
        zvHandle l = nullptr;
        zvStatus status = zvArrayListCreate(&l, nullptr);
        if (status <= 0) return status;
        status = zvArrayListInit(l, ZV_TYPE_UINT32, count, 1);
        for (int32_t i = 0; status > 0 && i < count; ++i)
            status = zvArrayListAdd(l, &(*values)[static_cast<size_t>(i)]);
        if (status <= 0) {
            zvArrayListDestroy(l);
            return status;
        }
        *list = l;
        return ZV_OK;
    }

    void Record(Phase phase, zvStatus status) { calls.push_back({modeName, phase, status}); }

    zvStatus CallStop() {
        zvHandle params = nullptr;
        // Without a parameter list (no memory) the stop handler still runs, so
        // that the run's record is freed.
        ParameterList(&params);
        zvStatus status = ZV_OK;
        zvPipeStopHandler stop = zvPipeModeStopHandler(mode);
        if (stop != nullptr) status = stop(state, engine, params);
        if (params != nullptr) zvArrayListDestroy(params);
        Record(Phase::Stop, status);
        return status;
    }

    void EndRun() {
        running = false;
        modeName.clear();
        mode = nullptr;
        engine = nullptr;
        state = nullptr;
    }

    void OnOutput(zvHandle output, const char* label) {
        Output o;
        o.mode = modeName;
        o.label = label ? label : "";
        o.type = zvObjectType(output);
        o.object = output;
        o.routed = false;
        o.displayKind = -1;
        const int32_t count = zvPipeModeDisplayCount(mode);
        for (int32_t i = 0; i < count; ++i) {
            const char* name = zvPipeModeDisplayName(mode, i);
            if (name != nullptr && o.label == name) {
                o.display = name;
                o.displayKind = zvPipeModeDisplayKind(mode, i);
                o.routed = true;
                break;
            }
        }
        outputs.push_back(std::move(o));
        outputEngines.push_back(engine);
        if (observer) observer(outputs.back());
        while (limit > 0 && outputs.size() - firstKept > limit) {
            Output& old = outputs[firstKept];
            if (old.object != nullptr) zvPipeEngineRelease(outputEngines[firstKept], old.object);
            old.object = nullptr;
            ++firstKept;
        }
    }

    static void Sink(void* context, zvHandle output, const char* label) {
        static_cast<Impl*>(context)->OnOutput(output, label);
    }

    static void Console(void* context, const char* text) {
        static_cast<Impl*>(context)->prints.emplace_back(text ? text : "");
    }

    static zvStatus Read(void* context, uint32_t serverId, int32_t a, int32_t b) {
        Impl* impl = static_cast<Impl*>(context);
        ReadRequest request{impl->modeName, serverId, a, b};
        impl->reads.push_back(request);
        return impl->readHook ? impl->readHook(request) : ZV_OK;
    }
};

ModeRunner::ModeRunner(zvHandle app, zvHandle client) : impl_(std::make_unique<Impl>()) {
    impl_->app = app;
    if (client != nullptr) {
        impl_->client = client;
    } else if (zvClientCreate(&impl_->client) > 0) {
        impl_->ownsClient = true;
    }
}

ModeRunner::~ModeRunner() {
    Reset();
    if (impl_->ownsClient) zvClientDestroy(impl_->client);
}

zvStatus ModeRunner::SetApp(zvHandle app) {
    if (impl_->running) return ZV_E_STATE;
    impl_->app = app;
    impl_->parameters.clear();
    return ZV_OK;
}

zvHandle ModeRunner::App() const { return impl_->app; }
zvHandle ModeRunner::Client() const { return impl_->client; }

zvStatus ModeRunner::AddServer(uint32_t serverId) {
    if (impl_->client == nullptr) return ZV_E_STATE;
    return zvClientAddServer(impl_->client, serverId);
}

void ModeRunner::SetReadHook(ReadHook hook) { impl_->readHook = std::move(hook); }
void ModeRunner::SetBatchSource(BatchSource source) { impl_->source = std::move(source); }
void ModeRunner::SetOutputObserver(OutputObserver observer) { impl_->observer = std::move(observer); }
void ModeRunner::SetOutputLimit(size_t limit) { impl_->limit = limit; }

zvStatus ModeRunner::SetParameter(const std::string& mode, const std::string& name, int32_t value) {
    std::vector<int32_t>* values = impl_->ValuesOf(mode);
    if (values == nullptr) return ZV_E_NOTFOUND;
    zvHandle m = FindMode(impl_->app, mode);
    const int32_t count = zvPipeModeParameterCount(m);
    for (int32_t i = 0; i < count && static_cast<size_t>(i) < values->size(); ++i) {
        const char* n = zvPipeModeParameterName(m, i);
        if (n != nullptr && name == n) {
            (*values)[static_cast<size_t>(i)] = value;
            return ZV_OK;
        }
    }
    return ZV_E_NOTFOUND;
}

zvStatus ModeRunner::SetParameter(const std::string& name, int32_t value) {
    if (!impl_->running) return ZV_E_STATE;
    return SetParameter(impl_->modeName, name, value);
}

zvStatus ModeRunner::SetParameters(const std::string& mode, const std::vector<int32_t>& values) {
    std::vector<int32_t>* current = impl_->ValuesOf(mode);
    if (current == nullptr) return ZV_E_NOTFOUND;
    if (current->size() != values.size()) return ZV_E_ARGUMENT;
    *current = values;
    return ZV_OK;
}

std::vector<int32_t> ModeRunner::Parameters(const std::string& mode) const {
    std::vector<int32_t>* values = impl_->ValuesOf(mode);
    return values ? *values : std::vector<int32_t>{};
}

zvStatus ModeRunner::Start(const std::string& mode) {
    Impl& r = *impl_;
    if (r.running) return ZV_E_STATE;
    zvHandle m = FindMode(r.app, mode);
    if (m == nullptr) return ZV_E_NOTFOUND;
    if (r.client == nullptr) return ZV_E_STATE;

    zvHandle engine = nullptr;
    zvStatus status = zvPipeEngineCreate(&engine, r.client);
    if (status <= 0) return status;
    r.engines.push_back(engine);
    zvPipeEngineSetSink(engine, &Impl::Sink, &r);
    zvPipeEngineSetConsole(engine, &Impl::Console, &r);
    zvPipeEngineSetReadHook(engine, &Impl::Read, &r);

    r.modeName = mode;
    r.mode = m;
    r.engine = engine;
    r.state = nullptr;

    zvHandle params = nullptr;
    status = r.ParameterList(&params);
    if (status <= 0) {
        r.EndRun();
        return status;
    }
    zvPipeStartHandler start = zvPipeModeStartHandler(m);
    if (start != nullptr) status = start(&r.state, engine, params);
    zvArrayListDestroy(params);
    r.Record(Phase::Start, status);
    if (status <= 0) {
        // The start may have left a partly built record: its stop handler
        // releases what exists. Nothing else of the mode is called.
        if (r.state != nullptr) r.CallStop();
        r.EndRun();
        return status;
    }
    r.running = true;
    return status;
}

zvStatus ModeRunner::Process(zvHandle messages) {
    Impl& r = *impl_;
    if (!r.running) return ZV_E_STATE;
    zvHandle params = nullptr;
    zvStatus status = r.ParameterList(&params);
    if (status <= 0) return status;
    zvPipeProcessHandler process = zvPipeModeProcessHandler(r.mode);
    status = ZV_OK;
    if (process != nullptr) status = process(r.state, r.engine, params, messages);
    zvArrayListDestroy(params);
    r.Record(Phase::Process, status);
    return status;
}

zvStatus ModeRunner::ProcessPayloads(const std::vector<zvHandle>& payloads) {
    if (!impl_->running) {
        DestroyFrom(payloads, 0);
        return ZV_E_STATE;
    }
    zvHandle list = nullptr;
    zvStatus status = MakeMessageList(payloads, &list);
    if (status <= 0) return status;
    status = Process(list);
    zvArrayListDestroy(list);
    return status;
}

zvStatus ModeRunner::Pump(int maxBatches) {
    Impl& r = *impl_;
    if (!r.running || r.reads.empty() || !r.source) return ZV_E_STATE;
    for (int i = 0; i < maxBatches; ++i) {
        std::vector<zvHandle> payloads;
        zvStatus status = r.source(payloads);
        if (status <= 0) {
            DestroyFrom(payloads, 0);
            return status;
        }
        if (payloads.empty()) return ZV_OK;
        status = ProcessPayloads(payloads);
        if (status <= 0) return status;
        if (!r.running) break;
    }
    return ZV_OK;
}

zvStatus ModeRunner::Stop() {
    Impl& r = *impl_;
    if (!r.running) return ZV_E_STATE;
    zvStatus status = r.CallStop();
    r.EndRun();
    return status;
}

void ModeRunner::Reset() {
    Impl& r = *impl_;
    if (r.running) Stop();
    for (zvHandle engine : r.engines) zvPipeEngineDestroy(engine);
    r.engines.clear();
    ClearRecords();
}

bool ModeRunner::Running() const { return impl_->running; }
std::string ModeRunner::RunningMode() const { return impl_->running ? impl_->modeName : std::string(); }
zvHandle ModeRunner::Engine() const { return impl_->running ? impl_->engine : nullptr; }
void* ModeRunner::State() const { return impl_->running ? impl_->state : nullptr; }

const std::vector<Output>& ModeRunner::Outputs() const { return impl_->outputs; }

std::vector<Output> ModeRunner::OutputsTo(const std::string& display) const {
    std::vector<Output> out;
    for (const Output& o : impl_->outputs) {
        if (display.empty() ? !o.routed : (o.routed && o.display == display)) out.push_back(o);
    }
    return out;
}

const std::vector<std::string>& ModeRunner::Prints() const { return impl_->prints; }

std::string ModeRunner::Console() const {
    std::string text;
    for (const std::string& p : impl_->prints) text += p;
    return text;
}

const std::vector<HandlerCall>& ModeRunner::Calls() const { return impl_->calls; }
const std::vector<ReadRequest>& ModeRunner::Reads() const { return impl_->reads; }

void ModeRunner::ClearRecords() {
    Impl& r = *impl_;
    // Objects of forgotten outputs stay alive with their engines until Reset.
    r.outputs.clear();
    r.outputEngines.clear();
    r.firstKept = 0;
    r.prints.clear();
    r.calls.clear();
    r.reads.clear();
}

zvStatus ModeRunner::MakeMessageList(const std::vector<zvHandle>& payloads, zvHandle* list) {
    zvHandle l = nullptr;
    zvStatus status = OpenList(payloads, ZV_TYPE_MESSAGE, list, &l);
    if (status <= 0) return status;
    for (size_t i = 0; i < payloads.size(); ++i) {
        zvHandle payload = payloads[i];
        zvHandle message = nullptr;
        status = zvPipeMsgCreate(&message, nullptr);
        if (status > 0 && payload != nullptr) {
            status = zvPipeMsgSetData(message, payload);
            if (status > 0) payload = nullptr;  // the message's now
        }
        if (status > 0) {
            status = zvArrayListAdd(l, &message);
            if (status > 0) message = nullptr;  // the list's now
        }
        if (status <= 0) {
            zvObjectDestroy(message);
            zvObjectDestroy(payload);
            DestroyFrom(payloads, i + 1);
            zvArrayListDestroy(l);
            return status;
        }
    }
    *list = l;
    return ZV_OK;
}

zvStatus ModeRunner::MakeResultList(const std::vector<zvHandle>& results, zvHandle* list) {
    zvHandle l = nullptr;
    zvStatus status = OpenList(results, ZV_TYPE_RESULT, list, &l);
    if (status <= 0) return status;
    for (size_t i = 0; i < results.size(); ++i) {
        status = zvArrayListAdd(l, &results[i]);
        if (status <= 0) {
            DestroyFrom(results, i);
            zvArrayListDestroy(l);
            return status;
        }
    }
    *list = l;
    return ZV_OK;
}

}  // namespace zv::runner
