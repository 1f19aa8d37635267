// The "Detection" mode: objects passing the scanner frame, assembled slice
// by slice into polar models, with the object statistics.
#ifndef TORVANE_MODES_DETECTION_MODE_H
#define TORVANE_MODES_DETECTION_MODE_H

#include <cstdint>

#include "zvapi/zvapi.h"

// Slices of one object shown on the "Detection" display; larger objects
// are counted and reported but not drawn.
constexpr int32_t kMaxRenderedSlices = 1500;

// The process handler. Reads the result of message 0 only:
// - a slice batch (id 1): each slice's points, mirrored and scaled to mils,
//   go into viewPoints[0]; a slice of more than 10 points (with MaxSlices 0)
//   adds a 360-radius outline around its centre to the object's polar
//   model, created with the object's first such slice. Returns 1.
// - an end of object (id 9): counts the object, sends a "Statistics" table
//   and (MaxSlices 0, fewer than 1500 slices) a copy of the model to
//   "Detection", discards the model and closes the object. An object that
//   added no outline reports a slice count of 0 and sends nothing to
//   "Detection". Returns 1.
// - another id: returns 0, changing nothing. No result in message 0: 1.
// A batch of the wrong shape (stamp rows of fewer than 2 cells, points not
// (slice, point, 2) int16 values, a point count that is negative, above
// 21504 or above the points its row holds) is refused with ZV_E_TYPE or
// ZV_E_RANGE before anything changes. Any failing platform status ends the
// handler at once and is returned; the object state reached so far stays.
zvStatus ProcessDetection(void* state, zvHandle engine, zvHandle parameters, zvHandle messages);

#endif
