// The run state shared by the handlers of one mode run, and the mode
// lifecycle: the start handlers, the common stop handler and the routines
// they share.
//
// A start handler builds a RunState in the slot the host gives it; every
// process call of the run receives it; the stop handler frees it. The host
// calls a run's handlers one at a time, so the record has no lock.
#ifndef TORVANE_MODES_RUN_STATE_H
#define TORVANE_MODES_RUN_STATE_H

#include <cstdint>

#include "zvapi/zvapi.h"

struct SystemSettings;  // plugin/settings.h

// Vertex views a run can hold, and the points each view list has room for
// as created (a whole profile or web line).
constexpr uint32_t kViewSlots = 48;
constexpr int32_t kViewCapacity = 21504;
// The Video masks: one byte per camera pixel, 1 marked, 0 not.
constexpr int32_t kMaskWidth = 448;
constexpr int32_t kMaskHeight = 176;
// Largest finite 32-bit float: the target extent before any vertex.
constexpr float kTargetExtentStart = 3.4028235e38f;

// Allocated with zvMalloc and zero-filled; the fields keep this order.
// The record exclusively owns settings, every list, array, image and the
// polar model; outputs sent to the engine are not part of it.
struct RunState {
    SystemSettings* settings;         // the first server's Settings.xml (owned)
    uint32_t sensorCount;             // entries of settings->Sensors
    uint32_t viewCount;               // entries of viewPoints that exist, 1..48
    zvHandle engine;                  // the run's pipe engine (not owned)
    zvHandle polarModel;              // Detection: the object being assembled, or none
    zvHandle polarPoints;             // Detection: (angle, radius) points, item type 162
    zvHandle radii;                   // Detection: 360 int32 radii (element type 150)
    zvHandle viewPoints[kViewSlots];  // latest points per view, mils, item type 162
    int32_t viewSerial[kViewSlots];   // sensor whose points fill each view
    zvHandle masks[2];                // Video: one 448 x 176 type-146 image per camera
    uint32_t selectedSensor;          // serial in focus (Free, Video); 0 all sensors
    uint64_t objectCount;             // Detection: objects completed
    int64_t firstStamp;               // Detection: stamp of the open object's first slice
    int64_t lastStamp;                // Detection: stamp of the latest slice
    int32_t objectOpen;               // Detection: 1 while an object is assembled
    int32_t lastThreshold;            // Video: previous "idzThreshold"; 255 at start
    float targetMinX;                 // calibration target extent, mils
    float targetMinY;
    float targetMaxX;
    float targetMaxY;
};

// The common start: builds a RunState for `engine` and stores it in `*out`
// as soon as it is allocated (so a failed start leaves the partly built
// record there for RunStateDestroy; a record that could not be zeroed is
// freed at once and *out reset to null). Reads "\SN<first server>\Settings.xml"
// afresh (an absent file gives no sensors and one view), prints the
// duplicate-view warning once, and starts reading the first server.
// Returns 1, kTorvaneNoMemory when the record cannot be allocated, or the
// first failing platform status. Sensors whose VertexView lies outside
// 0..47 never raise viewCount beyond the 48 slots (they are left out of the
// count).
zvStatus RunStateCreate(zvHandle engine, RunState** out);
// Releases, in order, each member that exists (radii, polarPoints,
// polarModel, settings, viewPoints, masks), then the record. A null record
// returns 1. The first failing release returns its status and leaves the
// rest allocated.
zvStatus RunStateDestroy(RunState* state);

// The ID of the first server of the client that owns `engine`. A client
// without servers gives ZV_E_NOTFOUND and leaves *serverId 0.
zvStatus StationFirstServerId(zvHandle engine, uint32_t* serverId);

// Item `index` of the host's parameter list (int32 values in the mode's
// declaration order), 0 when the list has no such item.
int32_t ParameterAt(zvHandle parameters, int32_t index);

// Start handlers (the zvPipeStartHandler shape); `*state` receives the
// RunState. Free and Video take their "SelectedSensor" parameter; Video
// also sets lastThreshold 255. A parameter list without that item is read
// as 0.
zvStatus StartFree(void** state, zvHandle engine, zvHandle parameters);
zvStatus StartVideo(void** state, zvHandle engine, zvHandle parameters);
zvStatus StartCommon(void** state, zvHandle engine, zvHandle parameters);
// The stop handler of every mode but Video: RunStateDestroy; 1 or its
// failing status.
zvStatus StopCommon(void* state, zvHandle engine, zvHandle parameters);

#endif
