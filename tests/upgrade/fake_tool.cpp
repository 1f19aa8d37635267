// Stand-in for the station's write-filter managers ("ewfmgr", "fbwfmgr")
// and the 64-bit launcher ("zvX64Launcher.exe"), one program under each
// name: it appends its name and arguments, tab-separated, as one line to
// the file named by BRENVIK_TEST_LOG. The launcher then runs the command
// it was given (found in PATH); the others exit with BRENVIK_TEST_EXIT
// (default 0).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    std::string name = argv[0];
    if (size_t slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    std::string line = name;
    for (int i = 1; i < argc; ++i) line += std::string("\t") + argv[i];
    line += "\n";
    if (const char* log = std::getenv("BRENVIK_TEST_LOG")) {
        int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ssize_t written = ::write(fd, line.data(), line.size());  // one write: lines never interleave
            ::close(fd);
            if (written != static_cast<ssize_t>(line.size())) return 99;
        }
    }
    if (name == "zvX64Launcher.exe" && argc > 1) {
        ::execvp(argv[1], argv + 1);
        return 98;
    }
    const char* code = std::getenv("BRENVIK_TEST_EXIT");
    return code != nullptr ? std::atoi(code) : 0;
}
