// The "Free" mode: the sensors' live range profiles, the selected sensor's
// intensities and the encoder state.
#ifndef TORVANE_MODES_FREE_MODE_H
#define TORVANE_MODES_FREE_MODE_H

#include "modes/run_state.h"
#include "zvapi/zvapi.h"

// The process handler: every profile result (id 0) of every message, in
// order, goes to ProcessFreeProfile; messages without payload, other
// payloads and other ids are skipped. Returns 1, or the first failing
// status of ProcessFreeProfile (messages after it are not processed). The
// parameters are not read: the selection is the one made at start.
zvStatus ProcessFree(void* state, zvHandle engine, zvHandle parameters, zvHandle messages);

// One profile: sends an "Encoder" table, refills the sensor's view list in
// mils, and for the selected sensor sends an "Intensity" image and a "Free"
// plot of its view; with no sensor selected, a "Free" plot of all views.
// Returns 1; 0 for an object that is not a result; ZV_E_RANGE / ZV_E_TYPE
// for a result whose attributes or data arrays are missing, too small or of
// the wrong type (nothing is read beyond them); else the first failing
// platform status. A profile whose view has no list keeps its points out of
// the views but still sends its table and plots.
zvStatus ProcessFreeProfile(zvHandle result, RunState* state);

#endif
