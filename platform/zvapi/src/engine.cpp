// Pipe engines: one per run; the output allocator, sending, the console and
// read requests.
#include <algorithm>

#include "accessors.hpp"
#include "pipe.hpp"

namespace zv {

Engine::~Engine() {
    // Releases every object of the output allocator, sent or not.
    Delete(output);
}

}  // namespace zv

namespace {

zv::Engine* EngineOf(zvHandle engine, zvStatus* status) { return zv::Get<zv::Engine>(engine, ZV_TYPE_ENGINE, status); }

// Answers through `out` from a live engine (see zv::ReadOut).
template <class Out, class Read>
zvStatus ReadEngine(zvHandle engine, Out* out, std::type_identity_t<Out> cleared, Read&& read) {
    return zv::ReadOut<zv::Engine>(engine, ZV_TYPE_ENGINE, out, cleared, read);
}

// Installs one of the engine's callbacks together with its context.
template <class Hook>
zvStatus SetHook(zvHandle engine, Hook zv::Engine::*field, Hook hook, void* zv::Engine::*contextField, void* context) {
    zvStatus status = ZV_OK;
    zv::Engine* e = EngineOf(engine, &status);
    if (e == nullptr) return status;
    e->*field = hook;
    e->*contextField = context;
    return ZV_OK;
}

}  // namespace

extern "C" {

zvStatus zvPipeEngineCreate(zvHandle* out, zvHandle client) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] {
        if (out == nullptr) return ZV_E_ARGUMENT;
        *out = nullptr;
        zvStatus status = ZV_OK;
        zv::Client* c = zv::Get<zv::Client>(client, ZV_TYPE_CLIENT, &status);
        if (c == nullptr) return status;
        zvHandle allocator = nullptr;
        status = zv::Create<zv::Allocator>(&allocator, nullptr);
        if (status <= 0) return status;
        zvHandle engine = nullptr;
        status = zv::Create<zv::Engine>(&engine, nullptr);
        if (status <= 0) {
            zv::Delete(zv::FromHandle(allocator));
            return status;
        }
        zv::Engine* e = static_cast<zv::Engine*>(zv::FromHandle(engine));
        e->client = c;
        e->output = static_cast<zv::Allocator*>(zv::FromHandle(allocator));
        zv::Adopt(e, e->output);  // only the engine destroys its allocator
        *out = engine;
        return ZV_OK;
    });
}

zvStatus zvPipeEngineSetSink(zvHandle engine, zvPipeSink sink, void* context) {
    ZV_ENTER();
    return SetHook(engine, &zv::Engine::sink, sink, &zv::Engine::sinkContext, context);
}

zvStatus zvPipeEngineSetConsole(zvHandle engine, zvPipeConsole console, void* context) {
    ZV_ENTER();
    return SetHook(engine, &zv::Engine::console, console, &zv::Engine::consoleContext, context);
}

zvStatus zvPipeEngineSetReadHook(zvHandle engine, zvPipeReadHook hook, void* context) {
    ZV_ENTER();
    return SetHook(engine, &zv::Engine::readHook, hook, &zv::Engine::readContext, context);
}

zvStatus zvPipeEngineDestroy(zvHandle engine) {
    ZV_ENTER();
    return zv::DestroyChecked(engine, ZV_TYPE_ENGINE);
}

zvStatus zvPipeEngineRead(zvHandle engine, uint32_t serverId, int32_t a, int32_t b) {
    ZV_ENTER(serverId, a, b);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Engine* e = EngineOf(engine, &status);
        if (e == nullptr) return status;
        if (!zv::IsLive(e->client)) return ZV_E_STATE;
        const auto& servers = e->client->servers;
        if (std::find(servers.begin(), servers.end(), serverId) == servers.end()) return ZV_E_NOTFOUND;
        if (e->readHook != nullptr) {
            status = e->readHook(e->readContext, serverId, a, b);
            if (status <= 0) return status;
        }
        if (!zv::AllocationAllowed()) return ZV_E_NOMEM;
        e->reads.push_back(serverId);
        return ZV_OK;
    });
}

zvStatus zvPipeEngineOwner(zvHandle engine, zvHandle* client) {
    ZV_ENTER();
    return ReadEngine(engine, client, nullptr, [](const zv::Engine& e, zvHandle& out) {
        if (!zv::IsLive(e.client)) return ZV_E_STATE;  // the client ended before its engine
        out = zv::ToHandle(e.client);
        return ZV_OK;
    });
}

zvStatus zvPipeEngineOutputAlloc(zvHandle engine, zvAllocator* allocator) {
    ZV_ENTER();
    return ReadEngine(engine, allocator, nullptr, [](const zv::Engine& e, zvAllocator& out) {
        out = zv::ToHandle(e.output);
        return ZV_OK;
    });
}

zvStatus zvPipeEngineSend(zvHandle engine, zvHandle output) {
    ZV_ENTER(zvDataLabel(output));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Engine* e = EngineOf(engine, &status);
        if (e == nullptr) return status;
        zv::Object* o = zv::Lookup(output, 0, &status);
        if (o == nullptr) return status;
        // An object already sent, part of another object, or made by another
        // engine cannot be taken.
        if (o->sent || o->container != nullptr) return ZV_E_STATE;
        if (o->allocator != nullptr && o->allocator != e->output) return ZV_E_STATE;
        zv::AssignAllocator(o, e->output);
        o->sent = true;
        if (e->sink != nullptr) e->sink(e->sinkContext, output, o->label.c_str());
        return ZV_OK;
    });
}

zvStatus zvPipeEnginePrint(zvHandle engine, const char* text) {
    ZV_ENTER(text);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::Engine* e = EngineOf(engine, &status);
        if (e == nullptr) return status;
        if (text == nullptr) return ZV_E_ARGUMENT;
        if (e->console != nullptr) {
            e->console(e->consoleContext, text);
        } else {
            zvPrintf("%s", text);
        }
        return ZV_OK;
    });
}

int32_t zvPipeEngineReadCount(zvHandle engine) {
    zv::Engine* e = EngineOf(engine, nullptr);
    return e ? static_cast<int32_t>(e->reads.size()) : 0;
}

uint32_t zvPipeEngineReadAt(zvHandle engine, int32_t index) {
    zv::Engine* e = EngineOf(engine, nullptr);
    if (e == nullptr || index < 0 || index >= static_cast<int32_t>(e->reads.size())) return 0;
    return e->reads[static_cast<size_t>(index)];
}

zvStatus zvPipeEngineRelease(zvHandle engine, zvHandle output) {
    ZV_ENTER();
    zvStatus status = ZV_OK;
    zv::Engine* e = EngineOf(engine, &status);
    if (e == nullptr) return status;
    zv::Object* o = zv::Lookup(output, 0, &status);
    if (o == nullptr) return status;
    if (!o->sent || o->allocator != e->output || o->container != nullptr) return ZV_E_STATE;
    zv::Delete(o);
    return ZV_OK;
}

}  // extern "C"
