#include "station_processes.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace zvhost {

namespace {

using Clock = std::chrono::steady_clock;

// Reaps `pid` within `ms`; false when it is still there.
bool Reaped(pid_t pid, int ms) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

std::filesystem::path StationProgram() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const std::filesystem::path beside = self.parent_path() / "zvstation";
    return std::filesystem::exists(beside, ec) ? beside : std::filesystem::path();
}

StationProcesses::~StationProcesses() { Stop(); }

bool StationProcesses::Start(const std::filesystem::path& program, const std::filesystem::path& folder, uint32_t serial,
                             uint64_t seed, std::string* error) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    // What the server logs goes to a file beside its folder, read when it
    // fails to start.
    const std::string log = folder.string() + ".log";
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err < 0) {
        *error = "cannot write " + log + ": " + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    const std::string serialText = std::to_string(serial);
    const std::string seedText = std::to_string(seed);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The server goes with this process, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execl(program.c_str(), program.c_str(), "--files", folder.c_str(), "--server", serialText.c_str(), "--seed",
                seedText.c_str(), "--bind", "tcp://127.0.0.1:*", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err);
    if (pid < 0) {
        *error = std::string("cannot start ") + program.string() + ": " + std::strerror(errno);
        ::close(out[0]);
        return false;
    }
    pids_.push_back(pid);
    // The first line names the endpoints: "... requests on tcp://127.0.0.1:N, results on ...".
    std::string line;
    const Clock::time_point until = Clock::now() + std::chrono::seconds(5);
    while (line.find('\n') == std::string::npos && Clock::now() < until) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[512];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    const size_t at = line.find("requests on ");
    const size_t end = at == std::string::npos ? at : line.find_first_of(", \n", at + 12);
    if (at == std::string::npos || end == std::string::npos) {
        Reaped(pid, 500);  // a server that could not start has said why by its end
        std::string said;
        if (FILE* f = std::fopen(log.c_str(), "r")) {
            char buffer[1024];
            said.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
            std::fclose(f);
        }
        while (!said.empty() && said.back() == '\n') said.pop_back();
        *error = "server " + serialText + " (" + program.string() + ") did not start" +
                 (said.empty() ? std::string() : ": " + said);
        return false;
    }
    endpoints_.push_back(line.substr(at + 12, end - at - 12));
    return true;
}

void StationProcesses::Stop() {
    for (pid_t pid : pids_) ::kill(pid, SIGTERM);
    for (pid_t pid : pids_) {
        if (Reaped(pid, 3000)) continue;
        ::kill(pid, SIGKILL);
        Reaped(pid, 3000);
    }
    pids_.clear();
    endpoints_.clear();
}

}  // namespace zvhost
