#include "zvstation/net/socket.hpp"

#include <cerrno>
#include <cstring>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace zv::station::net {

void KeepFrameMemory() {
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        // Frames up to 32 MiB come from the heap instead of a mapping of
        // their own, and a heap keeps up to 256 MiB free before trimming.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
    });
#endif
}

std::string ZmqError(const std::string& what) { return what + ": " + zmq_strerror(zmq_errno()); }

bool Socket::Set(int option, int value, std::string* error) const {
    if (zmq_setsockopt(socket_, option, &value, sizeof value) == 0) return true;
    *error = ZmqError("socket option " + std::to_string(option));
    return false;
}

bool Socket::Set(int option, int64_t value, std::string* error) const {
    if (zmq_setsockopt(socket_, option, &value, sizeof value) == 0) return true;
    *error = ZmqError("socket option " + std::to_string(option));
    return false;
}

bool Socket::Set(int option, const std::string& value, std::string* error) const {
    if (zmq_setsockopt(socket_, option, value.data(), value.size()) == 0) return true;
    *error = ZmqError("socket option " + std::to_string(option));
    return false;
}

std::string Socket::LastEndpoint() const {
    char buffer[512] = {};
    size_t size = sizeof buffer;
    if (zmq_getsockopt(socket_, ZMQ_LAST_ENDPOINT, buffer, &size) != 0) return {};
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

bool SplitTcp(const std::string& endpoint, std::string* host, std::string* port) {
    const std::string scheme = "tcp://";
    if (endpoint.compare(0, scheme.size(), scheme) != 0) return false;
    const size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos || colon < scheme.size()) return false;
    *host = endpoint.substr(scheme.size(), colon - scheme.size());
    *port = endpoint.substr(colon + 1);
    return !host->empty() && !port->empty();
}

bool IsLoopback(const std::string& endpoint) {
    if (endpoint.compare(0, 6, "ipc://") == 0) return true;
    std::string host;
    std::string port;
    if (!SplitTcp(endpoint, &host, &port)) return false;
    if (host == "localhost" || host == "[::1]" || host == "::1") return true;
    // 127.0.0.0/8, written out as four numbers.
    if (host.compare(0, 4, "127.") != 0) return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3;
}

}  // namespace zv::station::net
