// zvhost: the client host. Loads the plug-in, describes its pipe app, runs
// its modes on the simulated station or on recorded results, and writes
// what each display receives as pictures and tables.
#include <unistd.h>

#include <csignal>
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

// A batch number of --from or --to: decimal digits, nothing else.
bool ParseBatch(const char* option, const std::string& text, int64_t* out, std::string* error) {
    if (text.empty()) return true;
    int64_t value = 0;
    bool ok = text.size() <= 18;
    for (const char c : text) {
        ok = ok && c >= '0' && c <= '9';
        if (ok) value = value * 10 + (c - '0');
    }
    if (!ok) {
        *error = std::string(option) + ": \"" + text.substr(0, 40) + "\" is not a batch number (0, 1, 2, ...)";
        return false;
    }
    *out = value;
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

// The commands and their options, as the command line gives them.
struct Commands {
    std::string plugin = zvhost::DefaultPluginPath();
    CLI::App* describe = nullptr;
    bool describeJson = false;

    CLI::App* run = nullptr;
    zvhost::RunOptions runOptions;
    std::vector<std::string> params;
    std::string files = ".";
    std::vector<std::string> inputs;
    std::string out;
    uint64_t seed = 1;
    int points = 0;
    std::string from;
    std::string to;

    CLI::App* demo = nullptr;
    zvhost::DemoOptions demoOptions;
    std::string demoOut = "out/demo";
    std::string demoFiles;

    CLI::App* init = nullptr;
    std::string initFiles;
    std::string initServers;
    std::string initKeys;

    CLI::App* tree = nullptr;
    PageOptions treeOptions;
    CLI::App* page = nullptr;
    PageOptions pageOptions;

    // Whether the parsed command prints JSON.
    bool Json() const {
        return (describe->parsed() && describeJson) || (run->parsed() && runOptions.json) ||
               (demo->parsed() && demoOptions.json) || (tree->parsed() && treeOptions.json) ||
               (page->parsed() && pageOptions.json);
    }
};

void AddRun(CLI::App* cli, Commands* c) {
    CLI::App* run = c->run = cli->add_subcommand("run", "run one mode and write the latest output of every display");
    run->add_option("MODE", c->runOptions.mode, "the mode: Free, Calibration, Detection, Web or Video")->required();
    run->add_option("--files", c->files, "the client's file space, holding the servers' SN<serial> folders")
        ->capture_default_str();
    run->add_option("--param", c->params, "a mode parameter, NAME=VALUE (repeatable)");
    CLI::Option* batches =
        run->add_option("--batches", c->runOptions.batches, "run this many batches")->check(CLI::NonNegativeNumber);
    run->add_option("--seconds", c->runOptions.seconds, "run this much simulated time (default 2)")
        ->check(CLI::Range(0.0, 86400.0))
        ->excludes(batches);
    run->add_option("--input", c->inputs,
                    "replay recorded results instead of the simulator: JSON-lines files and capture folders "
                    "(Capture/<date-time>), one recording in the order given");
    run->add_option("--from", c->from,
                    "of the recording, start at this batch (from 0); the mode goes through those before it "
                    "silently, so that its displays are as a whole run leaves them");
    run->add_option("--to", c->to, "of the recording, end after this batch (inclusive)");
    run->add_option("--seed", c->seed, "the simulated station's seed")->capture_default_str();
    run->add_option("--points", c->points, "points per profile (1024 to 2048; default: by sensor)")
        ->check(CLI::Range(1, 4096));
    run->add_flag("--sensor-errors", c->runOptions.station.calibrationErrors,
                  "the calibration report names failing sensors");
    run->add_option("--out", c->out, "write pictures (PNG, SVG) and tables (JSON, text) here");
    run->add_flag("--json", c->runOptions.json, "one JSON object per event, one per line");
    run->add_flag("--full", c->runOptions.full,
                  "with --json: every output with every number it holds (points, radii, table cells, pixels in "
                  "base64)");
}

void AddDemoAndInit(CLI::App* cli, Commands* c) {
    CLI::App* demo = c->demo = cli->add_subcommand("demo", "make a station if needed and run every mode with pictures");
    demo->add_option("--out", c->demoOut, "where the pictures and tables go")->capture_default_str();
    demo->add_option("--files", c->demoFiles, "the file space (default: a temporary one)");
    demo->add_option("--seconds", c->demoOptions.seconds, "simulated time per mode")
        ->check(CLI::Range(0.0, 600.0))
        ->capture_default_str();
    demo->add_option("--seed", c->demoOptions.seed, "the simulated station's seed")->capture_default_str();
    demo->add_flag("--json", c->demoOptions.json, "one JSON object per event, one per line");
    demo->add_flag("--network", c->demoOptions.network,
                   "run each server as a zvstation process on the loopback (the program beside zvhost), stopped at "
                   "the end");

    CLI::App* init = c->init =
        cli->add_subcommand("init", "declare a station's servers in a file space (station.json)");
    init->add_option("--files", c->initFiles, "the client's file space (made when missing)")->required();
    init->add_option("--servers", c->initServers,
                     "the servers: serial numbers, each in-process or on the network at an endpoint, such as "
                     "1=tcp://127.0.0.1:5601,2=tcp://127.0.0.1:5602,3 (3 in-process)")
        ->required();
    init->add_option("--keys", c->initKeys,
                     "the public keys of servers on the network (encrypted links), each the key or its server.pub "
                     "file, such as 1=/path/server.pub,2=KEY");
}

void AddTreeAndPage(CLI::App* cli, Commands* c) {
    CLI::App* tree = c->tree =
        cli->add_subcommand("tree", "the station tree as the host builds it, with each node's pages");
    tree->add_option("--files", c->treeOptions.files, "the client's file space")->capture_default_str();
    tree->add_flag("--json", c->treeOptions.json, "as JSON");

    CLI::App* page = c->page =
        cli->add_subcommand("page", "open a page of a node as the host does and run a script of user actions on it");
    PageOptions& p = c->pageOptions;
    page->add_option("--files", p.files, "the client's file space")->capture_default_str();
    page->add_option("--node", p.node, "the node: Capture, SN<serial> or SN<serial>/<sensor>")->required();
    page->add_option("--page", p.page, "the page: its identifier or its name")->required();
    page->add_option("--script", p.script,
                     "user actions, one a line (- reads standard input): type CONTROL TEXT, blur CONTROL, "
                     "click CONTROL, select CONTROL ITEM, slide CONTROL POS, apply, reload, activate, "
                     "deactivate, show, play SECONDS, out DIR");
    page->add_option("--input", p.input,
                     "recorded results (a JSON-lines file or a capture folder) instead of the simulator, for play");
    page->add_option("--seed", p.seed, "the simulated station's seed")->capture_default_str();
    page->add_flag("--json", p.json, "one JSON object per event, one per line");
}

// `zvhost init`: no plug-in needed.
int Init(const Commands& c) {
    std::vector<zvhost::ServerPlace> places;
    std::string why;
    if (!zvhost::ParseServerList(c.initServers, &places, &why) ||
        (!c.initKeys.empty() && !zvhost::ParseServerKeys(c.initKeys, &places, &why)))
        return Fail(zvhost::kExitBadInput, why);
    if (!zvhost::DeclareStationPlaces(c.initFiles, places, &why)) return Fail(zvhost::kExitBadInput, why);
    std::cout << "declared " << places.size() << " server(s) in " << c.initFiles << "\n";
    return zvhost::kExitOk;
}

// The parsed command with the plug-in loaded and its app described.
int Dispatch(Commands& c, const zvhost::Plugin& library, zvHandle app, const zvhost::AppInfo& info,
             std::string* error) {
    if (c.describe->parsed()) {
        std::cout << (c.describeJson ? zvhost::AppJson(info).dump() + "\n" : zvhost::AppText(info));
        return zvhost::kExitOk;
    }
    if (c.run->parsed()) {
        zvhost::RunOptions& run = c.runOptions;
        for (const std::string& p : c.params) {
            std::pair<std::string, int32_t> parsed;
            if (!ParseParameter(p, &parsed, error)) return zvhost::kExitBadInput;
            run.parameters.push_back(parsed);
        }
        if (!ParseBatch("--from", c.from, &run.from, error) || !ParseBatch("--to", c.to, &run.to, error))
            return zvhost::kExitBadInput;
        run.files = c.files;
        run.input.assign(c.inputs.begin(), c.inputs.end());
        run.out = c.out;
        run.station.seed = c.seed;
        run.station.profilePoints = c.points;
        run.progress = !run.json && isatty(STDERR_FILENO);
        zvhost::RunSummary summary;
        const int code = zvhost::RunMode(library, app, info, run, std::cout, &summary, error);
        // A run that started has its summary, also when a handler failed.
        if (summary.startStatus > 0 && !run.json) std::cout << zvhost::SummaryText(summary);
        return code;
    }
    if (c.tree->parsed()) return RunPage(library, app, info, c.treeOptions, true, error);
    if (c.page->parsed()) return RunPage(library, app, info, c.pageOptions, false, error);
    c.demoOptions.out = c.demoOut;
    c.demoOptions.files = c.demoFiles;
    c.demoOptions.progress = !c.demoOptions.json && isatty(STDERR_FILENO);
    return zvhost::RunDemo(library, app, info, c.demoOptions, std::cout, error);
}

}  // namespace

int main(int argc, char** argv) {
    // A file that meets the limit on file sizes fails its write, which the
    // writer handles (a capture keeps what it wrote), rather than ending the
    // process; zvhost-serve, run from here, inherits this.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App cli{"zvhost: runs the plug-in's modes on a simulated station and shows what its displays receive"};
    cli.require_subcommand(1);
    Commands c;
    cli.add_option("--plugin", c.plugin, "the plug-in library (default: libtorvane.so beside zvhost)");
    c.describe = cli.add_subcommand("describe", "the pipe app: modes, displays, parameters, input style");
    c.describe->add_flag("--json", c.describeJson, "as one JSON object");
    AddRun(&cli, &c);
    AddDemoAndInit(&cli, &c);
    AddTreeAndPage(&cli, &c);
    // The browser UI is a program of its own beside zvhost (its web server
    // stays out of the other commands): `serve` runs it in this process.
    zvhost::ServeArgs serveArgs;
    zvhost::AddServeCommand(&cli, &serveArgs);
    if (zvhost::ServeRequested(argc, argv)) return zvhost::ExecServe(argv);

    CLI11_PARSE(cli, argc, argv);
    if (c.init->parsed()) return Init(c);

    if (zvInitialize() <= 0) return Fail(zvhost::kExitFailed, "the platform library did not start");
    std::string error;
    zvhost::Plugin library;
    if (!library.Load(c.plugin, &error)) return Fail(zvhost::kExitBadInput, error);
    for (const std::string& missing : library.Missing()) {
        if (c.Json()) {
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
    const int code = Dispatch(c, library, app, zvhost::ReadApp(app), &error);
    std::cout.flush();
    app.Reset();
    zvTerminate();
    zvhost::ShutdownRendering();
    if (code != zvhost::kExitOk) return Fail(code, error);
    return code;
}
