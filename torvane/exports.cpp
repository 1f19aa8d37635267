// The plug-in's exports: plain C functions under undecorated names, which
// the client host binds by name. No C++ exception crosses them.
#include <new>

#include "torvane/describe_pipe_app.h"
#include "zvapi/zvapi.h"

#define TORVANE_EXPORT extern "C" __attribute__((visibility("default")))

// Builds the description of the pipe app "client" 6.2 and stores its handle
// in `*app`; the host keeps it. Returns 1 or the first failing status.
TORVANE_EXPORT zvStatus TorvaneDescribePipeApp(zvHandle* app) {
    try {
        return DescribePipeApp(app);
    } catch (const std::bad_alloc&) {
        return -995;
    } catch (...) {
        return ZV_E_FAIL;
    }
}
