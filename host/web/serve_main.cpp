// zvhost-serve: `zvhost serve`, the browser UI, as a program of its own
// (zvhost runs it in its place). Loads the plug-in as zvhost does and serves
// until SIGINT or SIGTERM.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "exit_codes.hpp"
#include "plugin.hpp"
#include "render.hpp"
#include "serve.hpp"
#include "zvapi/zv_handle.hpp"

int main(int argc, char** argv) {
    CLI::App cli{"zvhost serve: the browser UI of the station"};
    cli.require_subcommand(1);
    std::string plugin = zvhost::DefaultPluginPath();
    cli.add_option("--plugin", plugin, "the plug-in library (default: libtorvane.so beside zvhost)");
    zvhost::ServeArgs args;
    zvhost::AddServeCommand(&cli, &args);
    CLI11_PARSE(cli, argc, argv);

    auto fail = [](int code, const std::string& message) {
        std::fprintf(stderr, "zvhost: %s\n", message.c_str());
        return code;
    };
    if (zvInitialize() <= 0) return fail(zvhost::kExitFailed, "the platform library did not start");
    std::string error;
    zvhost::Plugin library;
    if (!library.Load(plugin, &error)) return fail(zvhost::kExitBadInput, error);
    for (const std::string& missing : library.Missing())
        std::fprintf(stderr, "zvhost: note: the plug-in has no %s\n", missing.c_str());
    zv::OwnedPipeApp app;
    const zvStatus described = library.Describe(app.Out());
    if (described <= 0) {
        zvObjectDestroy(app.Release());  // whatever the export left
        return fail(zvhost::kExitFailed, "TorvaneDescribePipeApp returned " + std::to_string(described));
    }
    const zvhost::AppInfo info = zvhost::ReadApp(app);
    const int code = zvhost::RunServe(library, app, info, args, &error);
    app.Reset();  // before the platform ends
    zvTerminate();
    zvhost::ShutdownRendering();
    if (code != zvhost::kExitOk) return fail(code, error);
    return code;
}
