// The modes of the pipe app "client" and their parameters, defined once:
// the pipe-app description declares them from here, the run state and the
// modes read their parameters at these positions, and the pages switch the
// pipes by these names and write the parameters at these positions.
// "Calibration", "Detection" and "Web" have no parameters.
//
// Parameters are 32-bit integers that the host keeps and passes to every
// handler as a list in declaration order; a page reads the list, changes
// items by position and writes it back. A parameter's position is its
// enumerator below, and each mode's list declares its parameters in that
// order (checked here when compiling).
#ifndef TORVANE_PLUGIN_PIPE_MODES_H
#define TORVANE_PLUGIN_PIPE_MODES_H

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr char kModeFree[] = "Free";
inline constexpr char kModeCalibration[] = "Calibration";
inline constexpr char kModeDetection[] = "Detection";
inline constexpr char kModeWeb[] = "Web";
inline constexpr char kModeVideo[] = "Video";

struct ModeParameter {
    int32_t position;  // the item of the parameter list
    const char* name;
    int32_t initial;  // the value the host holds until a page sets one
};

// "Free": the sensor shown alone (its serial number; 0 for all sensors)
// and the number of enabled sensors.
enum FreeParameter : int32_t { kFreeSelectedSensor, kFreeNumSensors };
inline constexpr ModeParameter kFreeParameters[] = {
    {kFreeSelectedSensor, "SelectedSensor", 0},
    {kFreeNumSensors, "NumSensors", 0},
};

// "Video": the sensor whose camera is shown (its serial number), the
// deadzone threshold, the centroid overlay, and the deadzone calibration
// (nonzero: pixels above the threshold are painted and marked in the masks,
// which the run saves at its stop).
enum VideoParameter : int32_t { kVideoSelectedSensor, kVideoIdzThreshold, kVideoCgEnabled, kVideoThreshEnabled };
inline constexpr ModeParameter kVideoParameters[] = {
    {kVideoSelectedSensor, "SelectedSensor", 0},
    {kVideoIdzThreshold, "idzThreshold", 0},
    {kVideoCgEnabled, "cgEnabled", 0},
    {kVideoThreshEnabled, "threshEnabled", 0},
};

// Whether every parameter of the list stands at its own position.
constexpr bool DeclaredInPositionOrder(std::span<const ModeParameter> parameters) {
    for (size_t i = 0; i < parameters.size(); ++i)
        if (parameters[i].position != static_cast<int32_t>(i)) return false;
    return true;
}
static_assert(DeclaredInPositionOrder(kFreeParameters));
static_assert(DeclaredInPositionOrder(kVideoParameters));

#endif
