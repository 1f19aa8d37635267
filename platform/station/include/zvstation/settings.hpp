// What the station's servers keep in their folders of the file space: the
// parts of Settings.xml the simulator needs (sensors, encoder resolution,
// calibration target), and writers for a fresh station's Settings.xml and
// Calibration.xml.
//
// The station reads the same elements as the plug-in's settings document
// but shares no code with it: platform code never depends on the product.
#ifndef ZVSTATION_SETTINGS_HPP
#define ZVSTATION_SETTINGS_HPP

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zv::station {

struct SensorInfo {
    std::string name;
    uint32_t serial = 0;
    int32_t enabled = 1;      // nonzero: the sensor measures
    uint32_t vertexView = 0;  // the view (plot series) it feeds
    int32_t orientation = 0;
};

struct Vertex {
    int32_t x = 0;
    int32_t y = 0;
};

struct ServerSettings {
    double encoderResolution = 0.0;  // mils per tick; 0 when not set
    int32_t maxSlices = 0;
    std::vector<Vertex> target;      // calibration target, mils
    std::vector<SensorInfo> sensors; // document order
};

// Reads `file` (a Settings.xml on this machine). Integers are read
// leniently, as the plug-in does ("7500.000000" is 7500). Returns false with
// `*error` set when the file cannot be read or is not well-formed XML, or
// the sensor group is missing; `*out` is then left empty.
bool ReadServerSettings(const std::filesystem::path& file, ServerSettings* out, std::string* error);

// Writes a complete Settings.xml with the elements the plug-in reads, in
// the order of its default document, for `settings`. The file is written
// beside its target and renamed over it, so a failed write leaves the old
// file. Returns false with `*error` set on failure.
bool WriteServerSettings(const std::filesystem::path& file, const ServerSettings& settings,
                         std::string* error);

// Writes a Calibration.xml with one entry per sensor (SerialNumber, X, Y in
// inches, T in radians), all zero: a station calibrated to its own frame.
bool WriteCalibration(const std::filesystem::path& file, const std::vector<SensorInfo>& sensors,
                      std::string* error);

// The settings of a demonstration server: `count` sensors (1 to 48) named
// "A", "B", ... with serial numbers `firstSerial` + i and unique vertex
// views 0 .. count - 1, encoder resolution 1 mil per tick and the
// default calibration target.
ServerSettings DemoSettings(int count, uint32_t firstSerial);

}  // namespace zv::station

#endif
