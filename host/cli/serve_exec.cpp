// zvhost's side of `zvhost serve`: finding the subcommand and handing the
// process over to zvhost-serve.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "exit_codes.hpp"
#include "serve.hpp"

namespace zvhost {

bool ServeRequested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin") {
            ++i;
        } else if (arg.rfind("--plugin=", 0) == 0) {
            continue;
        } else {
            return arg == "serve";
        }
    }
    return false;
}

int ExecServe(char** argv) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string program = ((ec ? std::filesystem::path(".") : self.parent_path()) / "zvhost-serve").string();
    execv(program.c_str(), argv);
    std::fprintf(stderr, "zvhost: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    return kExitFailed;
}

}  // namespace zvhost
