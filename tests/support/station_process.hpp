// A zvstation server process for a test: started on a free loopback port,
// stopped (or killed, paused, resumed) by the test, and never left running:
// the destructor kills what is still there.
//
//   zvtest::StationProcess server;
//   ASSERT_TRUE(server.Start(ZVSTATION_PROGRAM, {"--files", dir, "--server", "1"})) << server.Log();
//   link to server.RequestEndpoint() ...
#ifndef TESTS_SUPPORT_STATION_PROCESS_HPP
#define TESTS_SUPPORT_STATION_PROCESS_HPP

#include <sys/types.h>

#include <string>
#include <vector>

namespace zvtest {

class StationProcess {
public:
    StationProcess() = default;
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // Runs `program` with `arguments`, adding "--bind tcp://127.0.0.1:*"
    // unless they bind themselves, and waits at most `readyMs` for the line
    // naming its endpoints. False, with the reason in Log(), when it exited
    // or did not get ready.
    bool Start(const std::string& program, std::vector<std::string> arguments, int readyMs = 10000);
    const std::string& RequestEndpoint() const { return requests_; }
    const std::string& StreamEndpoint() const { return stream_; }
    pid_t Pid() const { return pid_; }

    // SIGTERM, then SIGKILL if it has not ended within `graceMs`. The exit
    // code (-1 after a signal).
    int Stop(int graceMs = 3000);
    void Kill();    // SIGKILL, and reaped
    void Pause();   // SIGSTOP
    void Resume();  // SIGCONT
    // Resident memory in kilobytes, 0 when it cannot be read.
    long ResidentKb() const;
    // What the server wrote to its standard error so far (and why Start
    // failed).
    std::string Log() const;

private:
    int Reap(int graceMs);
    pid_t pid_ = -1;
    int out_ = -1;  // the server's standard output
    std::string logFile_;
    std::string startError_;
    std::string requests_;
    std::string stream_;
};

}  // namespace zvtest

#endif
