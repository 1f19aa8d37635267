// Torvane's own statuses, beside the platform's (zvapi/zv_base.h). Each is
// made here once; callers pass it back unchanged like any other failure.
#ifndef TORVANE_PLUGIN_STATUSES_H
#define TORVANE_PLUGIN_STATUSES_H

#include "zvapi/zv_base.h"

// Memory that zvMalloc could not give.
inline constexpr zvStatus kTorvaneNoMemory = -995;
// A page whose window could not be made (the page's Create).
inline constexpr zvStatus kPageWindowFailed = -992;

#endif
