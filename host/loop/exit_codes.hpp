// The exit codes of the host's programs (zvhost and zvhost-serve).
#ifndef ZVHOST_EXIT_CODES_HPP
#define ZVHOST_EXIT_CODES_HPP

namespace zvhost {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // the run itself failed (a handler, writing pictures)
constexpr int kExitBadInput = 2;  // arguments, files or plug-in unusable

}  // namespace zvhost

#endif
