// The pipe-app description of the plug-in.
#include "torvane/describe_pipe_app.h"

#include "modes/calibration_mode.h"
#include "modes/detection_mode.h"
#include "modes/free_mode.h"
#include "modes/run_state.h"
#include "modes/video_mode.h"
#include "modes/web_mode.h"
#include "plugin/pipe_modes.h"

namespace {

struct DisplaySpec {
    const char* name;
    int32_t kind;  // 0 polar model, 1 image, 2 plot, 3 table
};

struct ModeEntry {
    const char* name;
    zvPipeStartHandler start;
    zvPipeProcessHandler process;
    zvPipeStopHandler stop;
    DisplaySpec displays[3];
    int32_t displayCount;
    std::span<const ModeParameter> parameters;  // in position order
};

const ModeEntry kModes[] = {
    {kModeFree,
     StartFree,
     ProcessFree,
     StopCommon,
     {{"Free", 2}, {"Intensity", 1}, {"Encoder", 3}},
     3,
     kFreeParameters},
    {kModeCalibration, StartCommon, ProcessCalibration, StopCommon, {{"Calibration", 2}, {"Status", 3}}, 2, {}},
    {kModeDetection, StartCommon, ProcessDetection, StopCommon, {{"Detection", 0}, {"Statistics", 3}}, 2, {}},
    {kModeWeb, StartCommon, ProcessWeb, StopCommon, {{"Web", 2}, {"Statistics", 3}}, 2, {}},
    {kModeVideo, StartVideo, ProcessVideo, StopVideo, {{"Video 0", 1}, {"Video 1", 1}}, 2, kVideoParameters},
};

constexpr int32_t kInputStyle = 2;

// Describes one mode into `mode`; the first failing status.
zvStatus DescribeMode(zvHandle mode, const ModeEntry& entry) {
    zvStatus status = zvPipeModeInit(mode, entry.name);
    if (status <= 0) return status;
    status = zvPipeModeSetStartHandler(mode, entry.start);
    if (status <= 0) return status;
    status = zvPipeModeSetProcessHandler(mode, entry.process);
    if (status <= 0) return status;
    status = zvPipeModeSetStopHandler(mode, entry.stop);
    if (status <= 0) return status;
    for (int32_t i = 0; i < entry.displayCount; ++i) {
        status = zvPipeModeAddDisplay(mode, entry.displays[i].name, entry.displays[i].kind);
        if (status <= 0) return status;
    }
    for (const ModeParameter& parameter : entry.parameters) {
        status = zvPipeModeAddParameter(mode, parameter.name, parameter.initial);
        if (status <= 0) return status;
    }
    return zvPipeModeSetInputStyle(mode, kInputStyle);
}

}  // namespace

zvStatus DescribePipeApp(zvHandle* app) {
    if (app == nullptr) return ZV_E_ARGUMENT;
    *app = nullptr;  // a failed create leaves no stale handle with the host
    zvStatus status = zvPipeAppCreate(app, nullptr);
    if (status <= 0) return status;
    status = zvPipeAppInit(*app, "client");
    if (status <= 0) return status;
    status = zvPipeAppSetVersion(*app, 6, 2);
    if (status <= 0) return status;
    for (const ModeEntry& entry : kModes) {
        zvHandle mode = nullptr;
        status = zvPipeModeCreate(&mode, nullptr);
        if (status <= 0) return status;
        status = DescribeMode(mode, entry);
        if (status > 0) status = zvPipeAppAddMode(*app, mode);
        if (status <= 0) {
            zvPipeModeDestroy(mode);
            return status;
        }
    }
    return ZV_OK;
}
