// zvstation: one server of a station as a process on the network.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "station_server.hpp"
#include "zvapi/zvapi.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "zvstation: %s\n", message.c_str());
    return code;
}

const char* const kFooter = R"(The server's folder holds its Settings.xml (its sensors), Calibration.xml and
storage; clients read and write its files through the server, never outside it.
It binds loopback unless told otherwise; off loopback it needs its key pair
(zvstation keys) and only clients holding the public key get in.

Exit codes: 0 stopped (SIGINT, SIGTERM), 1 failed while serving, 2 a folder,
settings, capture, key or endpoint that cannot be used, 3 the endpoint is in
use or not this machine's. A malformed command line gets the parser's message
and its own non-zero code.)";

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{
        "zvstation: one server of a station on the network: its sensors, station pipe, storage and "
        "files, and the results of its pipe's mode, simulated or replayed"};
    cli.footer(kFooter);
    zv::station::ServerOptions options;
    std::string folder;
    std::vector<std::string> inputs;
    cli.add_option("--files", folder, "the server's own folder (its Settings.xml, Calibration.xml, storage)");
    cli.add_option("--server", options.serial, "the server's serial number (1 or more)");
    cli.add_option("--bind", options.bind, "where requests come in; a port of * takes any free one")
        ->capture_default_str();
    cli.add_option("--stream", options.stream, "where the results stream out (default: the request port + 1)");
    cli.add_option("--seed", options.station.seed, "the simulated station's seed")->capture_default_str();
    cli.add_option("--points", options.station.profilePoints, "points per profile (default: by sensor, 1024 to 2048)");
    cli.add_option("--profiles", options.station.freeProfiles,
                   "profiles each sensor measures in a Free batch of 20 ms (200 is 10 kHz)")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    cli.add_flag("--sensor-errors", options.station.calibrationErrors, "the calibration report names failing sensors");
    cli.add_option("--input", inputs, "replay these capture files or folders instead of simulating");
    cli.add_option("--pace", options.pace, "simulated seconds per second of real time")->capture_default_str();
    cli.add_option("--stream-queue", options.streamQueue, "batches queued for a client before its next are dropped")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));

    CLI::App* keys = cli.add_subcommand("keys", "make the server's key pair in its folder (.station-keys)");
    std::string keysFolder;
    bool replace = false;
    keys->add_option("--files", keysFolder, "the server's own folder")->required();
    keys->add_flag("--replace", replace, "replace a key pair that is there (its clients are locked out)");
    cli.require_subcommand(0, 1);

    CLI11_PARSE(cli, argc, argv);

    if (keys->parsed()) {
        zv::station::net::KeyPair pair;
        std::string error;
        if (!zv::station::net::MakeKeys(keysFolder, replace, &pair, &error))
            return Fail(zv::station::kExitBadInput, error);
        std::cout << "made a key pair in " << keysFolder << "/" << zv::station::net::kKeysFolder
                  << " (server.key, mode 0600)\npublic key: " << pair.publicKey << "\n";
        return zv::station::kExitStopped;
    }
    if (folder.empty() || options.serial == 0)
        return Fail(zv::station::kExitBadInput, "--files DIR and --server N are needed (see --help)");
    options.folder = folder;
    for (const std::string& input : inputs) options.inputs.emplace_back(input);

    if (zvInitialize() <= 0) return Fail(zv::station::kExitFailed, "the platform library did not start");
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    zv::station::StationServer server;
    std::string error;
    const int code = server.Open(options, &error);
    if (code != zv::station::kExitStopped) return Fail(code, error);
    std::cout << "zvstation SN" << options.serial << ": serving " << folder << " ("
              << (options.inputs.empty() ? "simulated" : "replay") << "): requests on " << server.RequestEndpoint()
              << ", results on " << server.StreamEndpoint() << ", " << (server.Encrypted() ? "encrypted" : "plain")
              << std::endl;
    return server.Run(&g_stop, std::cerr);
}
