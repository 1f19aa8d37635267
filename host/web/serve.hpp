// `zvhost serve`: the browser UI. It runs as a program of its own,
// zvhost-serve beside zvhost, so that the web server and the libraries it
// brings are loaded only where they are used; `zvhost serve ...` replaces
// itself with `zvhost-serve serve ...`.
#ifndef ZVHOST_SERVE_HPP
#define ZVHOST_SERVE_HPP

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "plugin.hpp"

namespace zvhost {

struct ServeArgs {
    std::string files = ".";
    std::string input;
    uint64_t seed = 1;
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string token;
    double boxTimeout = 60;
};

// The serve subcommand and its options.
inline CLI::App* AddServeCommand(CLI::App* cli, ServeArgs* args) {
    CLI::App* serve = cli->add_subcommand(
        "serve", "the browser UI: the station tree, its pages and the live displays, on http://127.0.0.1:PORT/");
    serve->add_option("--files", args->files, "the client's file space")->required();
    serve->add_option("--port", args->port, "the port (0: any free one, printed at the start)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    serve
        ->add_option("--bind", args->bind,
                     "the address to listen on. Keep the loopback default and reach it from elsewhere through an "
                     "SSH tunnel: off loopback every request needs the token, and everything travels unencrypted")
        ->capture_default_str();
    serve->add_option("--token", args->token,
                      "the token every request must carry: in the address once (?token=TOKEN, which sets a "
                      "cookie), or as the header \"Authorization: Bearer TOKEN\". Off loopback without this, a "
                      "token is made and printed with the address that carries it; on loopback none is needed "
                      "unless given");
    serve->add_option("--input", args->input, "recorded results instead of the simulator");
    serve->add_option("--seed", args->seed, "the simulated station's seed")->capture_default_str();
    serve
        ->add_option("--box-timeout", args->boxTimeout,
                     "seconds a page's message box waits for the browser's answer before taking its first button")
        ->check(CLI::Range(0.0, 86400.0))
        ->capture_default_str();
    return serve;
}

// Whether the command line's subcommand is serve (after any --plugin).
bool ServeRequested(int argc, char** argv);
// Replaces this process with zvhost-serve beside it, with the same
// arguments; returns (with a message) only when that fails.
int ExecServe(char** argv);

// Serves the browser UI until SIGINT or SIGTERM. An exit status.
int RunServe(const Plugin& library, zvHandle app, const AppInfo& info, const ServeArgs& args, std::string* error);

}  // namespace zvhost

#endif
