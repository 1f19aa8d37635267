// Stand-in for the station's health monitor: shows the top-level window
// "zvHealthAnchor" (joins the window registry, the folder given as the
// first argument or the default one) and runs until it is ended.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "winsvc/posix_services.hpp"

namespace {

volatile sig_atomic_t g_stop = 0;

void Stop(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
    winsvc::WindowRegistry registry(argc > 1 ? argv[1] : winsvc::DefaultWindowRegistryFolder());
    const uint32_t self = static_cast<uint32_t>(::getpid());
    if (!registry.Register("zvHealthAnchor", self)) {
        std::fprintf(stderr, "health_anchor: cannot join the window registry in %s\n", registry.folder().c_str());
        return 1;
    }
    ::signal(SIGTERM, Stop);
    ::signal(SIGINT, Stop);
    while (g_stop == 0) ::pause();
    registry.Unregister("zvHealthAnchor", self);
    return 0;
}
