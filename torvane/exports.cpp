// The plug-in's exports: plain C functions under undecorated names, which
// the client host binds by name. No C++ exception crosses them.
#include <new>

#include "hostapi/hostapi.hpp"
#include "pages/page_factory.h"
#include "pages/torvane_app.h"
#include "plugin/station_access.h"
#include "plugin/statuses.h"
#include "torvane/describe_pipe_app.h"
#include "zvapi/zvapi.h"

#define TORVANE_EXPORT extern "C" __attribute__((visibility("default")))

// Builds the description of the pipe app "client" 6.2 and stores its handle
// in `*app`; the host keeps it. Returns 1 or the first failing status.
TORVANE_EXPORT zvStatus TorvaneDescribePipeApp(zvHandle* app) {
    try {
        return DescribePipeApp(app);
    } catch (const std::bad_alloc&) {
        return kTorvaneNoMemory;
    } catch (...) {
        return ZV_E_FAIL;
    }
}

// A new tree node of `type` (0 capture, 1 server, 2 plain, 3 sensor) into
// `*node`; none for another type or without memory. The host releases it
// with its Release. Returns 1 in every case.
TORVANE_EXPORT int32_t TorvaneNodeCreate(int32_t type, hostapi::Node** node) {
    if (node == nullptr) return 1;
    *node = nullptr;
    try {
        *node = NodeCreate(type);
    } catch (...) {
        *node = nullptr;
    }
    return 1;
}

// A new configuration page of identifier `id` into `*page`, made inside the
// library's window-framework state; none for an identifier the library does
// not know or without memory. The host ends it with its Destroy. Returns 1
// in every case.
TORVANE_EXPORT int32_t TorvanePageCreate(int32_t id, hostapi::Page** page) {
    if (page == nullptr) return 1;
    *page = nullptr;
    try {
        wf::ModuleGuard guard(TorvaneModuleState());
        *page = PageFactory(id);
    } catch (...) {
        *page = nullptr;
    }
    return 1;
}
