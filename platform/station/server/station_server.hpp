// One station server as a process on the network: its folder, its station
// pipe, and the results it makes (simulated, or replayed from a capture)
// and delivers to its clients, paced in real time or pulled one batch at a
// time.
#ifndef ZVSTATION_SERVER_STATION_SERVER_HPP
#define ZVSTATION_SERVER_STATION_SERVER_HPP

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "zvstation/net/keys.hpp"
#include "zvstation/station.hpp"

namespace zv::station {

// Exit codes of zvstation.
constexpr int kExitStopped = 0;   // stopped by SIGINT or SIGTERM
constexpr int kExitFailed = 1;    // failed while serving
constexpr int kExitBadInput = 2;  // folder, settings, capture, keys or endpoint unusable
constexpr int kExitNoBind = 3;    // the endpoint is in use or not this machine's

struct ServerOptions {
    std::filesystem::path folder;  // the server's folder: Settings.xml, Calibration.xml, storage
    uint32_t serial = 0;
    std::string bind = "tcp://127.0.0.1:5601";
    std::string stream;                         // "": the request port + 1
    Options station;                            // seed, points, sensor errors
    std::vector<std::filesystem::path> inputs;  // a capture to replay instead of simulating
    double pace = 1.0;                          // simulated seconds per second of real time
    int streamQueue = 64;                       // batches queued for a client
};

class StationServer {
public:
    StationServer();
    ~StationServer();
    StationServer(const StationServer&) = delete;
    StationServer& operator=(const StationServer&) = delete;

    // Opens the folder, the station or the capture and binds. Returns an
    // exit code: kExitStopped when ready, else `*error` says why.
    int Open(const ServerOptions& options, std::string* error);
    const std::string& RequestEndpoint() const;
    const std::string& StreamEndpoint() const;
    bool Encrypted() const;

    // Serves until `*stop` is set; log lines go to `log`.
    int Run(const volatile std::sig_atomic_t* stop, std::ostream& log);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zv::station

#endif
