// The servers of a demonstration on the network: one zvstation process per
// server, each on its own copy of the server's folder, bound to a free port
// of the loopback and stopped when this goes (and when zvhost dies), so that
// no process is left behind.
#ifndef ZVHOST_STATION_PROCESSES_HPP
#define ZVHOST_STATION_PROCESSES_HPP

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zvhost {

// The zvstation program beside this one ("" when there is none).
std::filesystem::path StationProgram();

class StationProcesses {
public:
    StationProcesses() = default;
    ~StationProcesses();  // Stop
    StationProcesses(const StationProcesses&) = delete;
    StationProcesses& operator=(const StationProcesses&) = delete;

    // Runs `program` as server `serial` of folder `folder` with `seed`, and
    // waits (5 s at most) for the line naming its endpoint. False with
    // `*error` saying why (what the server wrote).
    bool Start(const std::filesystem::path& program, const std::filesystem::path& folder, uint32_t serial,
               uint64_t seed, std::string* error);
    // The request endpoint of each server started, in order.
    const std::vector<std::string>& Endpoints() const { return endpoints_; }
    // SIGTERM to each, SIGKILL to one still there after 3 s; all reaped.
    void Stop();

private:
    std::vector<pid_t> pids_;
    std::vector<std::string> endpoints_;
};

}  // namespace zvhost

#endif
