// The "Calibration" mode: the outcome of the station's system calibration.
#ifndef TORVANE_MODES_CALIBRATION_MODE_H
#define TORVANE_MODES_CALIBRATION_MODE_H

#include "zvapi/zvapi.h"

// The process handler. For the calibration report (result id 8) of message
// 0 it sends the pass/fail mark to "Calibration", then a "Status" table
// with one row per failed sensor (attributes read in pairs: sensor, error
// code). Returns 1; 0 when message 0 carries no result or another id
// (nothing is shown); else the first failing status (a failed mark sends no
// table). Keeps nothing between messages.
zvStatus ProcessCalibration(void* state, zvHandle engine, zvHandle parameters, zvHandle messages);

#endif
