// Settings.xml and Calibration.xml of the simulated servers.
#include "zvstation/settings.hpp"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <pugixml.hpp>

#include "zvapi/zv_file_space.hpp"
#include "zvapi/zvapi.h"

namespace zv::station {

namespace {

// The leading integer of `text`, as the plug-in reads element text: "12.7"
// is 12, text without digits is 0, values beyond 32 bits are clamped.
int64_t LeadingInteger(const char* text) {
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text) return 0;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return value;
}

int64_t ChildInt(const pugi::xml_node& node, const char* name) { return LeadingInteger(node.child(name).text().get()); }

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

void Add(pugi::xml_node parent, const char* name, const std::string& text) {
    parent.append_child(name).text().set(text.c_str());
}

void Add(pugi::xml_node parent, const char* name, int64_t value) { Add(parent, name, std::to_string(value)); }

std::string Flatten(const pugi::xml_document& document) {
    std::ostringstream text;
    document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    return text.str();
}

}  // namespace

bool ReadStationFile(const std::string& path, std::string* text, std::string* error, bool* absent) {
    if (absent != nullptr) *absent = false;
    const zvStatus status = zv::files::ReadFile(path, kMaxDocumentBytes, text);
    if (status > 0) return true;
    if (absent != nullptr) *absent = status == ZV_E_NOTFOUND;
    *error = zvLastErrorText();
    return false;
}

bool WriteStationFile(const std::string& path, const std::string& text, std::string* error) {
    if (zv::files::WriteFile(path, text) > 0) return true;
    *error = zvLastErrorText();
    return false;
}

bool ReadServerSettings(const std::string& path, ServerSettings* out, std::string* error) {
    *out = ServerSettings{};
    std::string text;
    if (!ReadStationFile(path, &text, error)) return false;
    return ParseServerSettings(text, path, out, error);
}

bool ParseServerSettings(const std::string& text, const std::string& path, ServerSettings* out, std::string* error) {
    *out = ServerSettings{};
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) {
        *error = path + ": " + parsed.description();
        return false;
    }
    pugi::xml_node root = document.document_element();
    ServerSettings settings;
    settings.encoderResolution = root.child("EncoderResolution").text().as_double(0.0);
    settings.maxSlices = static_cast<int32_t>(ChildInt(root, "MaxSlices"));
    for (pugi::xml_node vertex : root.child("CalibrationTarget").children()) {
        if (vertex.type() != pugi::node_element) continue;
        settings.target.push_back(
            {static_cast<int32_t>(ChildInt(vertex, "X")), static_cast<int32_t>(ChildInt(vertex, "Y"))});
    }
    pugi::xml_node members = root.child("Members").child("SensorGroup").child("Members");
    if (!members) {
        *error = path + ": no sensor group (Members/SensorGroup/Members)";
        return false;
    }
    for (pugi::xml_node entry : members.children()) {
        if (entry.type() != pugi::node_element) continue;
        SensorInfo sensor;
        sensor.name = entry.child("Name").text().get();
        sensor.serial = static_cast<uint32_t>(ChildInt(entry, "SerialNumber"));
        sensor.enabled = static_cast<int32_t>(ChildInt(entry, "Enabled"));
        sensor.vertexView = static_cast<uint32_t>(ChildInt(entry, "VertexView"));
        sensor.orientation = static_cast<int32_t>(ChildInt(entry, "Orientation"));
        settings.sensors.push_back(sensor);
    }
    *out = std::move(settings);
    return true;
}

bool WriteServerSettings(const std::string& path, const ServerSettings& settings, std::string* error) {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("SensorGroup");
    Add(root, "Name", "System");
    Add(root, "OutputBatchCount", 1);
    Add(root, "EncoderResolution", Fixed(settings.encoderResolution, 1));
    Add(root, "OutputInterval", 0);
    Add(root, "DetectionThreshold", 20);
    Add(root, "OverlapFilterEnable", 1);
    Add(root, "IoStateOutputEnable", 1);
    Add(root, "ObstructionY", 0);
    Add(root, "VideoStyle", 0);
    Add(root, "VideoExposure", 0);
    Add(root, "MaxSlices", settings.maxSlices);
    pugi::xml_node target = root.append_child("CalibrationTarget");
    for (const Vertex& v : settings.target) {
        pugi::xml_node vertex = target.append_child("Vertex");
        Add(vertex, "X", Fixed(v.x, 6));
        Add(vertex, "Y", Fixed(v.y, 6));
    }
    pugi::xml_node capture = root.append_child("Capture");
    Add(capture, "Enabled", 0);
    Add(capture, "Source", 0);
    Add(capture, "Divisor", 1);
    pugi::xml_node group = root.append_child("Members").append_child("SensorGroup");
    Add(group, "Name", "0");
    pugi::xml_node members = group.append_child("Members");
    for (const SensorInfo& s : settings.sensors) {
        pugi::xml_node sensor = members.append_child("Sensor");
        Add(sensor, "Name", s.name);
        Add(sensor, "SerialNumber", s.serial);
        Add(sensor, "Enabled", s.enabled);
        Add(sensor, "VertexView", s.vertexView);
        Add(sensor, "Orientation", s.orientation);
        Add(sensor, "Multiplex", 0);
        Add(sensor, "DetectionThreshold", 15);
        Add(sensor, "Exposure", 0);
    }
    return WriteStationFile(path, Flatten(document), error);
}

bool WriteCalibration(const std::string& path, const std::vector<SensorInfo>& sensors, std::string* error) {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("Calibration");
    for (const SensorInfo& s : sensors) {
        pugi::xml_node sensor = root.append_child("Sensor");
        Add(sensor, "SerialNumber", s.serial);
        Add(sensor, "X", Fixed(0.0, 8));
        Add(sensor, "Y", Fixed(0.0, 8));
        Add(sensor, "T", Fixed(0.0, 8));
    }
    return WriteStationFile(path, Flatten(document), error);
}

ServerSettings DemoSettings(int count, uint32_t firstSerial) {
    ServerSettings settings;
    settings.encoderResolution = 1.0;
    settings.target = {{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}};
    if (count < 1) count = 1;
    if (count > 48) count = 48;
    for (int i = 0; i < count; ++i) {
        SensorInfo sensor;
        sensor.name = std::string(1, static_cast<char>('A' + i % 26));
        sensor.serial = firstSerial + static_cast<uint32_t>(i);
        sensor.vertexView = static_cast<uint32_t>(i);
        sensor.orientation = i;
        settings.sensors.push_back(sensor);
    }
    return settings;
}

}  // namespace zv::station
