#include "serve.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "loop_thread.hpp"
#include "session.hpp"
#include "web_server.hpp"

namespace zvhost {

// `zvhost serve`: the host loop on its own thread and the browser UI's
// server, until SIGINT or SIGTERM.
int RunServe(const Plugin& library, zvHandle app, const AppInfo& info, const ServeArgs& args,
             std::string* error) {
    // One thread takes the signals that end the server; every other thread
    // (made after this) keeps them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    LoopThread loop(library, app, info);
    LoopThread::Options options;
    options.loop.files = args.files;
    options.loop.input = args.input;
    options.loop.station.seed = args.seed;
    options.boxTimeout = std::chrono::milliseconds(static_cast<int64_t>(args.boxTimeout * 1000));
    if (!loop.Start(options, error)) return kExitBadInput;
    ServeOptions serve;
    serve.bind = args.bind;
    serve.port = args.port;
    WebServer server(loop, serve);
    if (!server.Bind(error)) {
        loop.Stop();
        return kExitBadInput;
    }
    const std::string host = args.bind.find(':') != std::string::npos ? "[" + args.bind + "]" : args.bind;
    std::cout << "zvhost: serving http://" << host << ":" << server.Port() << "/ (files "
              << std::filesystem::absolute(args.files).string() << "; Ctrl-C ends)" << std::endl;

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
