// Internal records of the pipe family: descriptions, engines, the client,
// messages and results. Other families of the platform (the station's
// pipes and servers) may extend the client through this header.
#ifndef ZVAPI_SRC_PIPE_HPP
#define ZVAPI_SRC_PIPE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "object.hpp"
#include "zvapi/zv_pipe.h"
#include "zvapi/zv_station.h"

namespace zv {

struct PipeMode final : Object {
    PipeMode() : Object(ZV_TYPE_PIPEMODE) {}
    struct Display {
        std::string name;
        int32_t kind;
    };
    struct Parameter {
        std::string name;
        int32_t initial;
    };
    bool initialised = false;
    std::string name;
    zvPipeStartHandler start = nullptr;
    zvPipeProcessHandler process = nullptr;
    zvPipeStopHandler stop = nullptr;
    std::vector<Display> displays;
    std::vector<Parameter> parameters;
    int32_t inputStyle = 0;
};

struct PipeApp final : Object {
    PipeApp() : Object(ZV_TYPE_PIPEAPP) {}
    ~PipeApp() override;
    bool initialised = false;
    std::string name;
    int32_t major = 0;
    int32_t minor = 0;
    std::vector<PipeMode*> modes;  // owned
};

struct Pipe;
struct Server;

struct Client final : Object {
    Client() : Object(ZV_TYPE_CLIENT) {}
    ~Client() override;
    std::vector<uint32_t> servers;  // serial numbers, first server first
    // The station behind the client, when the host installed one.
    bool hasBackend = false;
    zvStationBackend backend{};
    // Objects the client hands out and owns (their container is the
    // client), each made on first request: its own pipe and one server
    // object per serial number asked for.
    Pipe* pipe = nullptr;
    std::vector<Server*> serverObjects;
};

// A pipe: the client's own (server ZV_CLIENT_PIPE) or a server's station
// pipe. Its state lives in the station backend; this names it.
struct Pipe final : Object {
    Pipe(Client* client, uint32_t server) : Object(ZV_TYPE_PIPE), client(client), server(server) {}
    Client* client;  // the owner
    const uint32_t server;
};

// A server's storage: its folder "\SN<serial>\" of the file space.
struct Storage final : Object {
    explicit Storage(uint32_t serial) : Object(ZV_TYPE_STORAGE), serial(serial) {}
    const uint32_t serial;
};

struct Server final : Object {
    Server(Client* client, uint32_t serial) : Object(ZV_TYPE_SERVER), client(client), serial(serial) {}
    ~Server() override;
    Client* client;  // the owner
    const uint32_t serial;
    Pipe* pipe = nullptr;        // owned, made on first request
    Storage* storage = nullptr;  // owned, made on first request
};

struct Engine final : Object {
    Engine() : Object(ZV_TYPE_ENGINE) {}
    ~Engine() override;
    Client* client = nullptr;     // not owned
    Allocator* output = nullptr;  // owned: releases what it made
    zvPipeSink sink = nullptr;
    void* sinkContext = nullptr;
    zvPipeConsole console = nullptr;
    void* consoleContext = nullptr;
    zvPipeReadHook readHook = nullptr;
    void* readContext = nullptr;
    std::vector<uint32_t> reads;  // servers whose reads were started
};

struct Message final : Object {
    Message() : Object(ZV_TYPE_MESSAGE) {}
    ~Message() override;
    Object* payload = nullptr;  // owned
};

struct Result final : Object {
    Result() : Object(ZV_TYPE_RESULT) {}
    ~Result() override;
    Object* Clone(Allocator* allocator) const override;
    int64_t StorageBytes() const override;
    int64_t id = 0;
    std::vector<int64_t> attributes;
    std::vector<Object*> data;  // owned arrays
};

}  // namespace zv

#endif
