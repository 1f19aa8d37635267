// The run state and the mode lifecycle.
#include "modes/run_state.h"

#include <algorithm>

#include "plugin/pipe_modes.h"
#include "plugin/server_path.h"
#include "plugin/settings.h"
#include "plugin/statuses.h"

int32_t ParameterAt(zvHandle parameters, int32_t index) {
    if (zvArrayListItemSize(parameters) != static_cast<int32_t>(sizeof(int32_t))) return 0;
    const auto* item = static_cast<const int32_t*>(zvArrayListAt(parameters, index));
    return item ? *item : 0;
}

namespace {

zvStatus MakePointList(zvHandle* list) {
    zvStatus status = zvArrayListCreate(list, nullptr);
    if (status <= 0) return status;
    return zvArrayListInit(*list, ZV_TYPE_POINT32, kViewCapacity, 1);
}

const SensorSettings* SensorAt(const SystemSettings* settings, uint32_t index) {
    return static_cast<const SensorSettings*>(zvArrayListAt(settings->Sensors, static_cast<int32_t>(index)));
}

// Walks the sensors: the largest vertex view of an enabled sensor (views
// outside the 48 slots are left out), and the duplicate-view warning, once.
zvStatus ScanViews(RunState* state, uint32_t* largest) {
    *largest = 0;
    if (state->sensorCount == 0) return ZV_OK;
    // Every sensor's view, sorted, so that a shared one shows as two equal
    // neighbours: the work stays proportional to the number of sensors.
    auto* views = static_cast<int32_t*>(zvMalloc(sizeof(int32_t) * state->sensorCount));
    if (views == nullptr) return kTorvaneNoMemory;
    uint32_t known = 0;
    for (uint32_t i = 0; i < state->sensorCount; ++i) {
        const SensorSettings* sensor = SensorAt(state->settings, i);
        if (sensor == nullptr) continue;
        const auto view = static_cast<uint32_t>(sensor->VertexView);
        if (sensor->Enabled != 0 && view < kViewSlots && view > *largest) *largest = view;
        views[known++] = sensor->VertexView;
    }
    std::sort(views, views + known);
    const bool shared = std::adjacent_find(views, views + known) != views + known;
    zvFree(views);
    if (!shared) return ZV_OK;
    zvStatus status = zvPipeEnginePrint(state->engine, "One or more sensors share the same vertex view!\n");
    if (status <= 0) return status;
    return zvPipeEnginePrint(state->engine, "Each sensor has to be assigned a unique vertex view!!\n");
}

}  // namespace

zvStatus StationFirstServerId(zvHandle engine, uint32_t* serverId) {
    if (serverId == nullptr) return ZV_E_ARGUMENT;
    *serverId = 0;
    zvHandle list = nullptr;
    zvStatus status = zvArrayListCreate(&list, nullptr);
    if (status <= 0) return status;
    status = zvArrayListInit(list, zvTypeBlock(4), 0, 1);
    zvHandle client = nullptr;
    if (status > 0) status = zvPipeEngineOwner(engine, &client);
    if (status > 0) status = zvClientServers(client, list);
    if (status > 0) {
        const auto* first = static_cast<const uint32_t*>(zvArrayListAt(list, 0));
        if (first == nullptr) {
            status = ZV_E_NOTFOUND;  // a client without servers
        } else {
            *serverId = *first;
        }
    }
    zvArrayListDestroy(list);
    return status <= 0 ? status : ZV_OK;
}

zvStatus RunStateCreate(zvHandle engine, RunState** out) {
    if (out == nullptr) return ZV_E_ARGUMENT;
    *out = nullptr;
    // An uncleared record holds no members, only garbage: a failed clearing
    // hands back no record rather than one that no release can walk.
    RunState* state = nullptr;
    zvStatus status = AllocateRecord(&state);
    if (status <= 0) return status;
    *out = state;
    state->engine = engine;

    status = MakePointList(&state->polarPoints);
    if (status <= 0) return status;
    status = zvArray1Create(&state->radii, nullptr, ZV_TYPE_INT32, 360);
    if (status <= 0) return status;
    for (zvHandle& mask : state->masks) {
        status = zvImageCreate(&mask, nullptr);
        if (status <= 0) return status;
        status = zvImageInit(mask, ZV_TYPE_IMAGE8, kMaskWidth, kMaskHeight, kMaskWidth);
        if (status <= 0) return status;
    }

    uint32_t server = 0;
    status = StationFirstServerId(engine, &server);
    if (status <= 0) return status;
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, server);
    status = SettingsLoad(path, nullptr, &state->settings);
    if (status <= 0) return status;
    if (state->settings == nullptr) return ZV_E_FAIL;

    const int32_t sensors = zvArrayListCount(state->settings->Sensors);
    state->sensorCount = sensors > 0 ? static_cast<uint32_t>(sensors) : 0;
    uint32_t largest = 0;
    status = ScanViews(state, &largest);
    if (status <= 0) return status;
    state->viewCount = largest + 1;
    for (uint32_t v = 0; v < state->viewCount; ++v) {
        status = MakePointList(&state->viewPoints[v]);
        if (status <= 0) return status;
    }

    state->targetMinX = kTargetExtentStart;
    state->targetMinY = kTargetExtentStart;
    state->targetMaxX = -kTargetExtentStart;
    state->targetMaxY = -kTargetExtentStart;
    const zvHandle target = state->settings->TargetVertices;
    if (zvArrayListItemSize(target) == static_cast<int32_t>(sizeof(zvPoint32s))) {
        const int32_t n = zvArrayListCount(target);
        const auto* vertices = static_cast<const zvPoint32s*>(zvArrayListData(target));
        for (int32_t i = 0; i < n; ++i) {
            const auto x = static_cast<float>(vertices[i].x);
            const auto y = static_cast<float>(vertices[i].y);
            if (x < state->targetMinX) state->targetMinX = x;
            if (y < state->targetMinY) state->targetMinY = y;
            if (x > state->targetMaxX) state->targetMaxX = x;
            if (y > state->targetMaxY) state->targetMaxY = y;
        }
    }

    status = zvPipeEngineRead(engine, server, 8, 0);
    if (status <= 0) return status;
    return ZV_OK;
}

zvStatus RunStateDestroy(RunState* state) {
    if (state == nullptr) return ZV_OK;
    // Each member is cleared once released, so that a destroy that failed
    // part-way can be repeated without releasing anything twice.
    zvStatus status = ZV_OK;
    if (state->radii != nullptr) {
        status = zvArrayDestroy(state->radii);
        if (status <= 0) return status;
        state->radii = nullptr;
    }
    if (state->polarPoints != nullptr) {
        status = zvArrayListDestroy(state->polarPoints);
        if (status <= 0) return status;
        state->polarPoints = nullptr;
    }
    if (state->polarModel != nullptr) {
        status = zvPolarModelDestroy(state->polarModel);
        if (status <= 0) return status;
        state->polarModel = nullptr;
    }
    if (state->settings != nullptr) {
        status = SettingsFree(state->settings);
        if (status <= 0) return status;
        state->settings = nullptr;
    }
    const uint32_t views = state->viewCount < kViewSlots ? state->viewCount : kViewSlots;
    for (uint32_t v = 0; v < views; ++v) {
        if (state->viewPoints[v] == nullptr) continue;
        status = zvArrayListDestroy(state->viewPoints[v]);
        if (status <= 0) return status;
        state->viewPoints[v] = nullptr;
    }
    for (zvHandle& mask : state->masks) {
        if (mask == nullptr) continue;
        status = zvImageDestroy(mask);
        if (status <= 0) return status;
        mask = nullptr;
    }
    zvFree(state);
    return ZV_OK;
}

zvStatus StartCommon(void** state, zvHandle engine, zvHandle /*parameters*/) {
    if (state == nullptr) return ZV_E_ARGUMENT;
    RunState* run = nullptr;
    zvStatus status = RunStateCreate(engine, &run);
    *state = run;
    return status <= 0 ? status : ZV_OK;
}

zvStatus StartFree(void** state, zvHandle engine, zvHandle parameters) {
    zvStatus status = StartCommon(state, engine, parameters);
    if (status <= 0) return status;
    static_cast<RunState*>(*state)->selectedSensor =
        static_cast<uint32_t>(ParameterAt(parameters, kFreeSelectedSensor));
    return ZV_OK;
}

zvStatus StartVideo(void** state, zvHandle engine, zvHandle parameters) {
    zvStatus status = StartCommon(state, engine, parameters);
    if (status <= 0) return status;
    auto* run = static_cast<RunState*>(*state);
    run->selectedSensor = static_cast<uint32_t>(ParameterAt(parameters, kVideoSelectedSensor));
    run->lastThreshold = 255;
    return ZV_OK;
}

zvStatus StopCommon(void* state, zvHandle /*engine*/, zvHandle /*parameters*/) {
    zvStatus status = RunStateDestroy(static_cast<RunState*>(state));
    return status <= 0 ? status : ZV_OK;
}
