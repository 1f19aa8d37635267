// The description of the pipe app "client" 6.2 that Torvane contributes to
// the host: its five modes with their handlers, displays and parameters.
#ifndef TORVANE_TORVANE_DESCRIBE_PIPE_APP_H
#define TORVANE_TORVANE_DESCRIBE_PIPE_APP_H

#include "zvapi/zvapi.h"

// Builds the app and stores its handle in `*app` as soon as it exists:
// modes "Free", "Calibration", "Detection", "Web", "Video" in this order,
// each with its start, process and stop handlers, its displays (name and
// kind), its int32 parameters (plugin/pipe_modes.h: names, positions and
// initial values) and input style 2. The app and the modes added to it are the caller's
// (release with zvPipeAppDestroy). Returns 1, or the first failing status;
// what was added to the app so far stays in it, and a mode that failed
// before being added is destroyed again (no one else could reach it).
zvStatus DescribePipeApp(zvHandle* app);

#endif
