// Thin owners of ZeroMQ contexts, sockets and messages, and the endpoint
// and key helpers the server and the client share.
#ifndef ZVSTATION_NET_SOCKET_HPP
#define ZVSTATION_NET_SOCKET_HPP

#include <zmq.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zv::station::net {

// Keeps the memory of frames the process has freed for the next ones,
// rather than handing it back to the system after each and touching fresh
// pages for the next (a batch frame is megabytes; faulting its pages in
// again cost a fifth of a client's time). The process keeps up to 256 MiB
// it freed. Called by the links and the server as they start; once is
// enough.
void KeepFrameMemory();

// A context of its own for each endpoint or link, so that closing one ends
// its I/O thread and nothing outlives it.
class Context {
public:
    Context() : context_(zmq_ctx_new()) {
        // One I/O thread moves every byte of one server or link: enough
        // for a loopback link of several hundred megabytes a second.
        if (context_ != nullptr) zmq_ctx_set(context_, ZMQ_IO_THREADS, 1);
    }
    ~Context() {
        if (context_ != nullptr) zmq_ctx_term(context_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    void* get() const { return context_; }

private:
    void* context_;
};

class Socket {
public:
    Socket() = default;
    Socket(const Context& context, int type) : socket_(zmq_socket(context.get(), type)) {}
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : socket_(other.socket_) { other.socket_ = nullptr; }
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            Close();
            socket_ = other.socket_;
            other.socket_ = nullptr;
        }
        return *this;
    }
    void* get() const { return socket_; }
    explicit operator bool() const { return socket_ != nullptr; }
    // Sockets are closed with linger 0 (set where they are made): nothing
    // waits for a peer that is gone.
    void Close() {
        if (socket_ != nullptr) zmq_close(socket_);
        socket_ = nullptr;
    }
    bool Set(int option, int value, std::string* error) const;
    bool Set(int option, int64_t value, std::string* error) const;
    bool Set(int option, const std::string& value, std::string* error) const;
    // The endpoint last bound or connected (with the port a "*" chose).
    std::string LastEndpoint() const;

private:
    void* socket_ = nullptr;
};

// A message received or to be sent; its bytes stay where they are while it
// lives (it is kept by pointer when queued).
class Message {
public:
    Message() { zmq_msg_init(&message_); }
    explicit Message(size_t size) {
        if (zmq_msg_init_size(&message_, size) != 0) zmq_msg_init(&message_);
    }
    ~Message() { zmq_msg_close(&message_); }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    zmq_msg_t* get() { return &message_; }
    uint8_t* data() { return static_cast<uint8_t*>(zmq_msg_data(&message_)); }
    const uint8_t* data() const { return static_cast<const uint8_t*>(zmq_msg_data(const_cast<zmq_msg_t*>(&message_))); }
    size_t size() const { return zmq_msg_size(const_cast<zmq_msg_t*>(&message_)); }
    bool more() const { return zmq_msg_more(const_cast<zmq_msg_t*>(&message_)) != 0; }

private:
    zmq_msg_t message_;
};

// "what: the error's text" for the last ZeroMQ failure.
std::string ZmqError(const std::string& what);

// The parts of "tcp://host:port": false for another transport or form.
bool SplitTcp(const std::string& endpoint, std::string* host, std::string* port);
// Whether an endpoint to bind stays on this machine: tcp on a loopback
// address (127.x.x.x, ::1, localhost) or ipc.
bool IsLoopback(const std::string& endpoint);

}  // namespace zv::station::net

#endif
