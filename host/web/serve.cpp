#include "serve.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "exit_codes.hpp"
#include "loop_thread.hpp"
#include "web_server.hpp"

namespace zvhost {

namespace {

// A token of 32 random bytes in hexadecimal; "" when the system gives none.
std::string MakeToken() {
    unsigned char bytes[32];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return "";
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token.push_back(kHex[b >> 4]);
        token.push_back(kHex[b & 15]);
    }
    return token;
}

// A token goes into addresses and cookies as it is.
bool TokenUsable(const std::string& token) {
    return token.size() >= 16 && token.size() <= 256 && std::all_of(token.begin(), token.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
           });
}

}  // namespace

// `zvhost serve`: the host loop on its own thread and the browser UI's
// server, until SIGINT or SIGTERM.
// Long: the steps of serving in order (address, token, loop thread,
// server, signals, shutdown), each with its own refusal.
int RunServe(const Plugin& library, zvHandle app, const AppInfo& info, const ServeArgs& args, std::string* error) {
    // One thread takes the signals that end the server; every other thread
    // (made after this) keeps them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const bool loopback = LoopbackAddress(args.bind);
    std::string token = args.token;
    if (!token.empty() && !TokenUsable(token)) {
        *error = "the token must be 16 to 256 letters, digits or '-', '_', '.', '~'";
        return kExitBadInput;
    }
    const bool madeToken = token.empty() && !loopback;
    if (madeToken) token = MakeToken();
    if (!loopback && token.empty()) {
        *error = "no token could be made for listening off loopback: give one with --token";
        return kExitBadInput;
    }

    LoopThread loop(library, app, info);
    LoopThread::Options options;
    options.loop.files = args.files;
    if (!args.input.empty()) options.loop.input = {args.input};
    options.loop.station.seed = args.seed;
    options.loop.realTime = true;  // servers on the network pace themselves
    options.boxTimeout = std::chrono::milliseconds(static_cast<int64_t>(args.boxTimeout * 1000));
    if (!loop.Start(options, error)) return kExitBadInput;
    ServeOptions serve;
    serve.bind = args.bind;
    serve.port = args.port;
    serve.token = token;
    WebServer server(loop, serve);
    if (!server.Bind(error)) {
        loop.Stop();
        return kExitBadInput;
    }
    const std::string host = args.bind.find(':') != std::string::npos ? "[" + args.bind + "]" : args.bind;
    const std::string address = "http://" + host + ":" + std::to_string(server.Port()) + "/";
    std::cout << "zvhost: serving " << address << " (files " << std::filesystem::absolute(args.files).string()
              << "; Ctrl-C ends)" << std::endl;
    if (!loopback)
        std::cerr << "zvhost: warning: listening on " << args.bind
                  << ", which other computers can reach: every request needs the token, and requests and answers "
                     "travel unencrypted (an SSH tunnel to 127.0.0.1 keeps them private)"
                  << std::endl;
    if (madeToken) {
        std::cout << "zvhost: open " << address << "?token=" << token
                  << " (every request needs this token; it is shown only here)" << std::endl;
    } else if (!token.empty()) {
        std::cout << "zvhost: every request needs the token given with --token (open " << address << "?token=TOKEN)"
                  << std::endl;
    }

    std::atomic<bool> signalled{false};
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        signalled = true;
        server.Stop();
    });
    const bool served = server.Serve();
    if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    server.Stop();
    loop.Stop();
    if (!served && !signalled) {
        *error = "the server's socket failed";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace zvhost
