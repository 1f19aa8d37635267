// The "Video" mode: the two camera images of the selected sensor, with the
// pixels brighter than a threshold painted red and gathered into one
// deadzone mask per camera, saved at stop as "\SN<serial>\mask<camera>.bin".
#ifndef TORVANE_MODES_VIDEO_MODE_H
#define TORVANE_MODES_VIDEO_MODE_H

#include <cstdint>

#include "zvapi/zvapi.h"

// Bytes of one saved mask: 448 x 176 pixels, row by row, each 0 or 1.
constexpr int32_t kMaskBytes = 448 * 176;

// The process handler; its parameters are the Video mode's of
// plugin/pipe_modes.h (missing items read as 0).
// Reads the result of message 0: attribute 0 the sensor, attribute 1 the
// camera, data 0 the frame as (rows, columns, 4) bytes, blue green red and
// a fourth byte per pixel.
// A threshold other than the previous message's clears both masks, also for
// a frame of another sensor, which is then not shown. The selected sensor's
// frame is sent as a plot labelled "Video 0" (camera 0) or "Video 1" holding
// a copy of the frame; with "threshEnabled" non-zero every pixel whose blue
// byte exceeds the threshold, or whose mask byte is set, is painted red and
// marked in the mask. Mask byte p belongs to pixel p in the frame's order;
// pixels past the mask's 78848 bytes, and frames of a camera other than 0
// and 1, are painted by the threshold alone and mark nothing.
// Returns 1 (also with no result in message 0); ZV_E_RANGE / ZV_E_TYPE for a
// result without the attributes or with a frame of the wrong shape; else the
// first failing platform status (the previous threshold is then kept, so
// the next message clears the masks again).
zvStatus ProcessVideo(void* state, zvHandle engine, zvHandle parameters, zvHandle messages);

// The stop handler. With "threshEnabled" non-zero, writes mask 0 and then
// mask 1 of the run to "\SN<selected sensor>\mask<camera>.bin". Frees the
// run state in every case. Returns 1, the first failing file status (the
// later mask is then not written), or the status of freeing the state.
zvStatus StopVideo(void* state, zvHandle engine, zvHandle parameters);

#endif
