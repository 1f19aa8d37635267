// The "Web" mode: the station's transverse scanning output.
#ifndef TORVANE_MODES_WEB_MODE_H
#define TORVANE_MODES_WEB_MODE_H

#include "zvapi/zvapi.h"

// The process handler. For a web output batch (result id 5) of message 0,
// each profile (row) in order sends a "Statistics" table of the output's
// geometry and a "Web" plot of the profile fitted to the calibration
// target. Returns 1 (also for another id or no result, showing nothing);
// ZV_E_RANGE / ZV_E_TYPE for a batch whose attributes or data are missing,
// too small or of the wrong type; else the first failing status (rows after
// it are not shown). A profile wider than the view list's room grows it.
zvStatus ProcessWeb(void* state, zvHandle engine, zvHandle parameters, zvHandle messages);

#endif
