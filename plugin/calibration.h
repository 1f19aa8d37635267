// The system calibration document, Calibration.xml of each server: one
// element per sensor under the root, each with "SerialNumber", "X", "Y"
// (translation, inches) and "T" (rotation, radians). Also the calibration
// target inside a settings document: "CalibrationTarget" under the root,
// one "Vertex" per polygon corner with integer "X" and "Y" in mils.
//
// Statuses as for the settings document: greater than zero is success, the
// first platform failure is returned unchanged, a missing root or target
// gives 0, memory that cannot be had gives kTorvaneNoMemory.
#ifndef TORVANE_PLUGIN_CALIBRATION_H
#define TORVANE_PLUGIN_CALIBRATION_H

#include <cstdint>

#include "zvapi/zvapi.h"

struct CalibrationEntry {
    int32_t serialNumber;  // the sensor the entry belongs to
    double x;              // X translation, inches
    double y;              // Y translation, inches
    double t;              // rotation, radians
};

struct CalibrationSet {
    zvHandle engine;   // where a later save prints the "absent" notice; 0 prints nothing
    int32_t present;   // 1 when the document existed at load time
    zvHandle entries;  // list of CalibrationEntry in document order; 0 when not present
};

// Reads `path` into a new set (`*set`, null on failure; the caller frees it
// with FreeCalibration). An absent file gives a set with `present` 0 and no
// entries, and "SystemCalibration.xml is absent.\n" on `engine` when given.
zvStatus LoadCalibration(const char* path, zvHandle engine, CalibrationSet** set);

// Writes the set's values into the document at `path`: for each entry, the
// first sensor element with its serial number gets its "X", "Y" and "T"
// (precision 15); all other content is kept. No file at `path`: returns 1
// and writes nothing. A failure leaves the old file whole.
zvStatus SaveCalibration(const CalibrationSet* set, const char* path, int32_t flush);

// Destroys the entries list and frees the set; null is accepted (returns 1).
zvStatus FreeCalibration(CalibrationSet* set);

// Appends the target's vertices of a settings `document` to `vertices` (a
// list of zvPoint32s, not emptied first). No root or no target: 0, list
// unchanged. ZV_E_TYPE when `vertices` does not hold points.
zvStatus ReadCalibrationTarget(zvHandle document, zvHandle vertices);

// Replaces the target's vertices in `document` by `vertices` (zvPoint32s),
// in list order. No root or no target: 0, nothing changed. ZV_E_TYPE when
// `vertices` does not hold points (checked before anything changes).
zvStatus WriteCalibrationTarget(zvHandle document, zvHandle vertices);

// ---- Steps of load and save ------------------------------------------------
// `*document` is 0 when the file cannot be opened (status 1).
zvStatus LoadCalibrationDocument(zvHandle engine, const char* path, zvHandle* document);
// Replaces the file only when every step succeeded; flushes when `flush` is nonzero.
zvStatus WriteCalibrationDocument(zvHandle document, const char* path, int32_t flush);

#endif
