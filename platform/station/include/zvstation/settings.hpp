// What the station's servers keep in their folders of the file space: the
// parts of Settings.xml the simulator needs (sensors, encoder resolution,
// calibration target), and writers for a fresh station's Settings.xml and
// Calibration.xml.
//
// The station reads the same elements as the plug-in's settings document
// but shares no code with it: platform code never depends on the product.
//
// Files are named by their paths in the client's file space ("SN7/
// Settings.xml") and read and written only through it
// (zvapi/zv_file_space.hpp): nothing outside the space is reached through a
// link, a FIFO or device is refused without blocking, a file's size is
// looked at before it is read, and a write goes through a temporary file
// beside its target, made exclusively under a name no other write uses.
#ifndef ZVSTATION_SETTINGS_HPP
#define ZVSTATION_SETTINGS_HPP

#include <cstdint>
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
    std::vector<Vertex> target;       // calibration target, mils
    std::vector<SensorInfo> sensors;  // document order
};

// The largest document the station reads: the limit of every XML document
// of the platform.
inline constexpr int64_t kMaxDocumentBytes = int64_t{64} << 20;

// Reads the document `path` of the file space whole, for the station's own
// use: a file past kMaxDocumentBytes is refused before it is read. False
// with `*error` naming the file and what is wrong: absent (`*absent` then
// true, when given), a folder, a FIFO or device, outside the space, too
// large, unreadable.
bool ReadStationFile(const std::string& path, std::string* text, std::string* error, bool* absent = nullptr);
// Replaces (or creates) the file `path` of the file space with `text`,
// through a temporary file beside it, so that a failed write leaves the old
// file and nothing else. False with `*error` naming the file and why.
bool WriteStationFile(const std::string& path, const std::string& text, std::string* error);

// The settings in `text`, the Settings.xml at `path` (named in messages);
// as ReadServerSettings.
bool ParseServerSettings(const std::string& text, const std::string& path, ServerSettings* out, std::string* error);

// Reads the Settings.xml at file-space path `path`. Integers are read
// leniently, as the plug-in does ("7500.000000" is 7500). Returns false with
// `*error` set when the file cannot be read or is not well-formed XML, or
// the sensor group is missing; `*out` is then left empty.
bool ReadServerSettings(const std::string& path, ServerSettings* out, std::string* error);

// Writes a complete Settings.xml with the elements the plug-in reads, in
// the order of its default document, for `settings`, to file-space path
// `path` (WriteStationFile). Returns false with `*error` set on failure.
bool WriteServerSettings(const std::string& path, const ServerSettings& settings, std::string* error);

// Writes a Calibration.xml with one entry per sensor (SerialNumber, X, Y in
// inches, T in radians), all zero: a station calibrated to its own frame.
bool WriteCalibration(const std::string& path, const std::vector<SensorInfo>& sensors, std::string* error);

// The settings of a demonstration server: `count` sensors (1 to 48) named
// "A", "B", ... with serial numbers `firstSerial` + i and unique vertex
// views 0 .. count - 1, encoder resolution 1 mil per tick and the
// default calibration target.
ServerSettings DemoSettings(int count, uint32_t firstSerial);

}  // namespace zv::station

#endif
