// The "Calibration" mode.
#include "modes/calibration_mode.h"

#include <cstdio>

#include "modes/drawing.h"
#include "modes/result_access.h"
#include "modes/run_state.h"
#include "modes/statistics_table.h"

namespace {

// The text of a sensor's calibration error code.
void ErrorText(int64_t code, char* text, size_t size) {
    switch (code) {
        case -10: std::snprintf(text, size, "Nonconvergence!"); break;
        case -7: std::snprintf(text, size, "Invalid View!"); break;
        case -4: std::snprintf(text, size, "Insufficient Data!"); break;
        default: std::snprintf(text, size, "Error Code: %d", static_cast<int32_t>(static_cast<uint32_t>(code))); break;
    }
}

}  // namespace

zvStatus ProcessCalibration(void* state, zvHandle /*engine*/, zvHandle /*parameters*/, zvHandle messages) {
    auto* run = static_cast<RunState*>(state);
    if (run == nullptr) return ZV_E_ARGUMENT;
    zvHandle result = nullptr;
    zvStatus status = MessageResult(messages, 0, &result);
    if (status <= 0) return status;
    if (result == nullptr) return ZV_E_FAIL;
    int64_t id = 0;
    status = zvResultId(result, &id);
    if (status <= 0) return status;
    if (id != kResultCalibration) return ZV_E_FAIL;

    zvHandle table = StatisticsTableCreate(run->engine);
    status = zvDataSetLabel(table, "Status");
    if (status <= 0) return status;

    int32_t count = 0;
    status = zvResultAttributeCount(result, &count);
    if (status <= 0) return status;
    if (count == 0) {
        status = SendCalibrationMark(run, 1);
        if (status <= 0) return status;
        StatisticsTableAddRow(table, "Calibration completed successfully!", "Press the Stop button");
    } else {
        status = SendCalibrationMark(run, 0);
        if (status <= 0) return status;
        StatisticsTableAddRow(table, "Calibration completed with errors!", "Press the Stop button");
        StatisticsTableAddRow(table, "----------------------------------", "---------------------");
        const int64_t* attributes = nullptr;
        status = zvResultAttributes(result, &attributes);
        if (status <= 0) return status;
        // An odd last attribute has no code and is left out.
        for (int32_t k = 0; k < count / 2; ++k) {
            char name[32];
            char value[32];
            std::snprintf(name, sizeof name, "Sensor: %d",
                          static_cast<int32_t>(static_cast<uint32_t>(attributes[2 * k])));
            ErrorText(attributes[2 * k + 1], value, sizeof value);
            StatisticsTableAddRow(table, name, value);
        }
    }
    status = zvPipeEngineSend(run->engine, table);
    if (status <= 0) return status;
    return ZV_OK;
}
