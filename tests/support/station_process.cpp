#include "support/station_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace zvtest {

namespace {

using Clock = std::chrono::steady_clock;

// The text after `key` up to the next comma, space or end of line.
std::string After(const std::string& line, const std::string& key) {
    const size_t at = line.find(key);
    if (at == std::string::npos) return {};
    const size_t from = at + key.size();
    const size_t end = line.find_first_of(", \n", from);
    return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace

StationProcess::~StationProcess() {
    Kill();
    if (!logFile_.empty()) std::remove(logFile_.c_str());
}

bool StationProcess::Start(const std::string& program, std::vector<std::string> arguments, int readyMs) {
    Kill();
    startError_.clear();
    bool binds = false;
    for (const std::string& a : arguments) binds = binds || a == "--bind";
    if (!binds) {
        arguments.push_back("--bind");
        arguments.push_back("tcp://127.0.0.1:*");
    }
    if (logFile_.empty()) {
        char name[] = "/tmp/zvstation-log-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0) ::close(fd);
        logFile_ = name;
    }
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        startError_ = "no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        ::close(pipe[0]);
        pid_ = -1;
        startError_ = "cannot run " + program + ": " + std::strerror(spawned);
        return false;
    }
    out_ = pipe[0];
    // The line naming the endpoints.
    std::string line;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(readyMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{out_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            startError_ = "the server did not get ready within " + std::to_string(readyMs) + " ms";
            Kill();
            return false;
        }
        char buffer[512];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            startError_ = "the server ended before it was ready (exit code " + std::to_string(Reap(0)) + ")";
            return false;
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    requests_ = After(line, "requests on ");
    stream_ = After(line, "results on ");
    return !requests_.empty();
}

int StationProcess::Reap(int graceMs) {
    if (pid_ <= 0) return -1;
    int status = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    for (;;) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (done < 0) {
            status = -1;
            break;
        }
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int StationProcess::Stop(int graceMs) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGTERM);
    return Reap(graceMs);
}

void StationProcess::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap(10000);
}

void StationProcess::Pause() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void StationProcess::Resume() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
}

long StationProcess::ResidentKb() const {
    if (pid_ <= 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return 0;
}

std::string StationProcess::Log() const {
    std::ifstream in(logFile_);
    std::stringstream text;
    text << in.rdbuf();
    return startError_.empty() ? text.str() : startError_ + "\n" + text.str();
}

}  // namespace zvtest
