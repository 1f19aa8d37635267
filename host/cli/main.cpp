// zvhost: the client host. Loads the plug-in, describes its pipe app, runs
// its modes on the simulated station or on recorded results, and writes
// what each display receives as pictures and tables.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include <fstream>

#include "event_text.hpp"
#include "events.hpp"
#include "exit_codes.hpp"
#include "host_loop.hpp"
#include "page_script.hpp"
#include "plugin.hpp"
#include "render.hpp"
#include "run.hpp"
#include "serve.hpp"
#include "station_file.hpp"
#include "zvapi/zv_handle.hpp"

namespace {

// "NAME=VALUE" with a 32-bit integer value.
bool ParseParameter(const std::string& text, std::pair<std::string, int32_t>* out, std::string* error) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) {
        *error = "--param needs NAME=VALUE, not \"" + text + "\"";
        return false;
    }
    const std::string value = text.substr(eq + 1);
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(value, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != value.size() || v < INT32_MIN || v > UINT32_MAX) {
        *error = "--param " + text.substr(0, eq) + ": \"" + value + "\" is not a 32-bit integer";
        return false;
    }
    // Serial numbers above 2^31 are given as unsigned; they travel as int32.
    *out = {text.substr(0, eq), static_cast<int32_t>(static_cast<uint32_t>(v))};
    return true;
}

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "zvhost: %s\n", message.c_str());
    return code;
}

// Events as JSON lines, or as readable lines.
zvhost::EventSink Printer(bool json) {
    return [json](const nlohmann::json& event) {
        if (json) {
            std::cout << event.dump() << "\n";
        } else {
            std::cout << zvhost::EventText(event);
        }
    };
}

struct PageOptions {
    std::string files = ".";
    std::string node;
    std::string page;
    std::string script;
    bool json = false;
    std::string input;
    uint64_t seed = 1;
};

// `zvhost tree` and `zvhost page`: the host loop on the file space.
int RunPage(const zvhost::Plugin& library, zvHandle app, const zvhost::AppInfo& info, const PageOptions& options,
            bool treeOnly, std::string* error) {
    zvhost::HostLoop loop(library, app, info);
    std::vector<zvhost::ScriptLine> lines;
    if (!treeOnly && !options.script.empty()) {
        std::ifstream file;
        std::istream* in = &std::cin;
        if (options.script != "-") {
            file.open(options.script);
            if (!file) {
                *error = "cannot read the script " + options.script;
                return zvhost::kExitBadInput;
            }
            in = &file;
        }
        if (!zvhost::ParseScript(*in, &lines, error)) {
            *error = options.script + ": " + *error;
            return zvhost::kExitBadInput;
        }
    }
    loop.SetEventSink(Printer(options.json));
    zvhost::HostLoop::Options open;
    open.files = options.files;
    if (!options.input.empty()) open.input = {options.input};
    open.station.seed = options.seed;
    open.describeOutputs = options.json;
    if (!loop.Open(open, error)) return zvhost::kExitBadInput;
    if (treeOnly) {
        loop.Emit(loop.TreeJson());
        return zvhost::kExitOk;
    }
    if (!loop.OpenPage(options.node, options.page, error)) return zvhost::kExitBadInput;
    if (!zvhost::RunScript(loop, lines, error)) {
        *error = options.script + ": " + *error;
        loop.ClosePage();
        return zvhost::kExitBadInput;
    }
    loop.ClosePage();
    return zvhost::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{"zvhost: runs the plug-in's modes on a simulated station and shows what its displays receive"};
    cli.require_subcommand(1);
    std::string plugin = zvhost::DefaultPluginPath();
    cli.add_option("--plugin", plugin, "the plug-in library (default: libtorvane.so beside zvhost)");

    bool describeJson = false;
    CLI::App* describe = cli.add_subcommand("describe", "the pipe app: modes, displays, parameters, input style");
    describe->add_flag("--json", describeJson, "as one JSON object");

    zvhost::RunOptions run;
    std::vector<std::string> params;
    std::string files = ".";
    std::vector<std::string> inputs;
    std::string out;
    uint64_t seed = 1;
    int points = 0;
    CLI::App* runCommand = cli.add_subcommand("run", "run one mode and write the latest output of every display");
    runCommand->add_option("MODE", run.mode, "the mode: Free, Calibration, Detection, Web or Video")->required();
    runCommand->add_option("--files", files, "the client's file space, holding the servers' SN<serial> folders")
        ->capture_default_str();
    runCommand->add_option("--param", params, "a mode parameter, NAME=VALUE (repeatable)");
    CLI::Option* batches = runCommand->add_option("--batches", run.batches, "run this many batches")
        ->check(CLI::NonNegativeNumber);
    runCommand->add_option("--seconds", run.seconds, "run this much simulated time (default 2)")
        ->check(CLI::Range(0.0, 86400.0))
        ->excludes(batches);
    runCommand->add_option("--input", inputs,
                           "replay recorded results instead of the simulator: JSON-lines files and capture folders "
                           "(Capture/<date-time>), one recording in the order given");
    runCommand->add_option("--seed", seed, "the simulated station's seed")->capture_default_str();
    runCommand->add_option("--points", points, "points per profile (1024 to 2048; default: by sensor)")
        ->check(CLI::Range(1, 4096));
    runCommand->add_flag("--sensor-errors", run.station.calibrationErrors,
                         "the calibration report names failing sensors");
    runCommand->add_option("--out", out, "write pictures (PNG, SVG) and tables (JSON, text) here");
    runCommand->add_flag("--json", run.json, "one JSON object per event, one per line");
    runCommand->add_flag("--full", run.full, "with --json: every output with every number it holds (points, radii, "
                                             "table cells, pixels in base64)");

    zvhost::DemoOptions demo;
    std::string demoOut = "out/demo";
    std::string demoFiles;
    CLI::App* demoCommand = cli.add_subcommand("demo", "make a station if needed and run every mode with pictures");
    demoCommand->add_option("--out", demoOut, "where the pictures and tables go")->capture_default_str();
    demoCommand->add_option("--files", demoFiles, "the file space (default: a temporary one)");
    demoCommand->add_option("--seconds", demo.seconds, "simulated time per mode")
        ->check(CLI::Range(0.0, 600.0))
        ->capture_default_str();
    demoCommand->add_option("--seed", demo.seed, "the simulated station's seed")->capture_default_str();
    demoCommand->add_flag("--json", demo.json, "one JSON object per event, one per line");

    std::string initFiles;
    std::string initServers;
    CLI::App* initCommand = cli.add_subcommand("init", "declare a station's servers in a file space (station.json)");
    initCommand->add_option("--files", initFiles, "the client's file space (made when missing)")->required();
    initCommand->add_option("--servers", initServers, "the servers' serial numbers, such as 1,2")->required();

    PageOptions tree;
    bool treeJson = false;
    CLI::App* treeCommand = cli.add_subcommand("tree", "the station tree as the host builds it, with each node's pages");
    treeCommand->add_option("--files", tree.files, "the client's file space")->capture_default_str();
    treeCommand->add_flag("--json", treeJson, "as JSON");

    PageOptions page;
    CLI::App* pageCommand = cli.add_subcommand(
        "page", "open a page of a node as the host does and run a script of user actions on it");
    pageCommand->add_option("--files", page.files, "the client's file space")->capture_default_str();
    pageCommand->add_option("--node", page.node, "the node: Capture, SN<serial> or SN<serial>/<sensor>")->required();
    pageCommand->add_option("--page", page.page, "the page: its identifier or its name")->required();
    pageCommand->add_option("--script", page.script,
                            "user actions, one a line (- reads standard input): type CONTROL TEXT, blur CONTROL, "
                            "click CONTROL, select CONTROL ITEM, slide CONTROL POS, apply, reload, activate, "
                            "deactivate, show, play SECONDS, out DIR");
    pageCommand->add_option("--input", page.input,
                            "recorded results (a JSON-lines file or a capture folder) instead of the simulator, for play");
    pageCommand->add_option("--seed", page.seed, "the simulated station's seed")->capture_default_str();
    pageCommand->add_flag("--json", page.json, "one JSON object per event, one per line");

    // The browser UI is a program of its own beside zvhost (its web server
    // stays out of the other commands): `serve` runs it in this process.
    zvhost::ServeArgs serveArgs;
    zvhost::AddServeCommand(&cli, &serveArgs);
    if (zvhost::ServeRequested(argc, argv)) return zvhost::ExecServe(argv);

    CLI11_PARSE(cli, argc, argv);

    if (initCommand->parsed()) {
        std::vector<uint32_t> serials;
        std::string why;
        if (!zvhost::ParseServerList(initServers, &serials, &why)) return Fail(zvhost::kExitBadInput, why);
        if (!zvhost::DeclareStationServers(initFiles, serials, &why)) return Fail(zvhost::kExitBadInput, why);
        std::cout << "declared " << serials.size() << " server(s) in " << initFiles << "\n";
        return zvhost::kExitOk;
    }

    if (zvInitialize() <= 0) return Fail(zvhost::kExitFailed, "the platform library did not start");
    std::string error;
    zvhost::Plugin library;
    if (!library.Load(plugin, &error)) return Fail(zvhost::kExitBadInput, error);
    const bool json = (describe->parsed() && describeJson) || (runCommand->parsed() && run.json) ||
                      (demoCommand->parsed() && demo.json) || (treeCommand->parsed() && treeJson) ||
                      (pageCommand->parsed() && page.json);
    for (const std::string& missing : library.Missing()) {
        if (json) {
            std::cout << zvhost::events::Plugin(missing).dump() << "\n";
        } else {
            std::fprintf(stderr, "zvhost: note: the plug-in has no %s\n", missing.c_str());
        }
    }
    // The description goes before the platform ends (app.Reset below).
    zv::OwnedPipeApp app;
    const zvStatus described = library.Describe(app.Out());
    if (described <= 0) {
        zvObjectDestroy(app.Release());  // whatever the export left
        return Fail(zvhost::kExitFailed, "TorvaneDescribePipeApp returned " + std::to_string(described));
    }
    const zvhost::AppInfo info = zvhost::ReadApp(app);

    int code = zvhost::kExitOk;
    if (describe->parsed()) {
        if (describeJson) {
            std::cout << zvhost::AppJson(info).dump() << "\n";
        } else {
            std::cout << zvhost::AppText(info);
        }
    } else if (runCommand->parsed()) {
        for (const std::string& p : params) {
            std::pair<std::string, int32_t> parsed;
            if (!ParseParameter(p, &parsed, &error)) return Fail(zvhost::kExitBadInput, error);
            run.parameters.push_back(parsed);
        }
        run.files = files;
        run.input.assign(inputs.begin(), inputs.end());
        run.out = out;
        run.station.seed = seed;
        run.station.profilePoints = points;
        run.progress = !run.json && isatty(STDERR_FILENO);
        zvhost::RunSummary summary;
        code = zvhost::RunMode(library, app, info, run, std::cout, &summary, &error);
        // A run that started has its summary, also when a handler failed.
        if (summary.startStatus > 0 && !run.json) std::cout << zvhost::SummaryText(summary);
    } else if (treeCommand->parsed()) {
        tree.json = treeJson;
        code = RunPage(library, app, info, tree, true, &error);
    } else if (pageCommand->parsed()) {
        code = RunPage(library, app, info, page, false, &error);
    } else if (demoCommand->parsed()) {
        demo.out = demoOut;
        demo.files = demoFiles;
        demo.progress = !demo.json && isatty(STDERR_FILENO);
        code = zvhost::RunDemo(library, app, info, demo, std::cout, &error);
    }
    std::cout.flush();
    app.Reset();
    zvTerminate();
    zvhost::ShutdownRendering();
    if (code != zvhost::kExitOk) return Fail(code, error);
    return code;
}
