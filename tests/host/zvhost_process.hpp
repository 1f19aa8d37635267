// Running the zvhost program as a user does, for the host's tests: its exit
// code, its output (JSON events, one per line, with --json) and its errors.
#ifndef ZVHOST_TESTS_ZVHOST_PROCESS_HPP
#define ZVHOST_TESTS_ZVHOST_PROCESS_HPP

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/temp_space.hpp"

namespace zvhosttest {

struct ZvhostResult {
    int code = -1;
    std::string out;
    std::string err;
    // The JSON events of the output, one per line.
    std::vector<nlohmann::json> Events() const {
        std::vector<nlohmann::json> events;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) events.push_back(nlohmann::json::parse(line));
        return events;
    }
    // The events of one kind, of one display when `display` is given.
    std::vector<nlohmann::json> Of(const std::string& event, const std::string& display = "") const {
        std::vector<nlohmann::json> found;
        for (const nlohmann::json& e : Events())
            if (e.value("event", "") == event && (display.empty() || e.value("display", "") == display))
                found.push_back(e);
        return found;
    }
};

// Runs `shellCommand` through the shell: its exit code, output and errors.
inline ZvhostResult RunCommand(const std::string& shellCommand) {
    zvtest::TempFileSpace scratch("zvhost-run", zvtest::TempFileSpace::Root::kLeave);
    const std::string errFile = scratch / "stderr";
    const std::string command = shellCommand + " 2>'" + errFile + "'";
    ZvhostResult r;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 4096> buffer;
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    r.err.assign(std::istreambuf_iterator<char>(err), {});
    return r;
}

// Runs zvhost with `arguments` (already quoted where needed).
inline ZvhostResult RunZvhost(const std::string& arguments) {
    return RunCommand(std::string("'") + ZVHOST_PROGRAM + "' " + arguments);
}

// Whether the real plug-in was built beside the tests.
inline bool HaveTorvane() { return std::string(TORVANE_PLUGIN).size() > 0 && std::filesystem::exists(TORVANE_PLUGIN); }

}  // namespace zvhosttest

#endif
