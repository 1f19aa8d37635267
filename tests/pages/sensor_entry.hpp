// One sensor's entry and the calibration target of a server's settings,
// read and changed beside the pages under test through the server node's
// application-information object.
#ifndef TESTS_PAGES_SENSOR_ENTRY_HPP
#define TESTS_PAGES_SENSOR_ENTRY_HPP

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "plugin/calibration.h"
#include "plugin/station_access.h"
#include "zvapi/zv_handle.hpp"

namespace pagetest {

// Runs `edit` on the sensor item `name` of group "0" and writes the file
// when `write` is set.
inline void WithSensor(hostapi::Node* server, const char* name,
                       const std::function<void(zvHandle xml, zvXmlItem sensor)>& edit, bool write) {
    ServerNode* node = FindServerNode(server);
    zv::OwnedAppInfo info;
    ASSERT_GT(node->ReadServerInfo(info.Out()), 0);
    const zvXmlItem sensor = zvAppInfoSensorFromParent(info, zvAppInfoGroupFromPath(info, "0"), name);
    ASSERT_NE(sensor, 0u) << name;
    edit(zvAppInfoXml(info), sensor);
    if (write) {
        EXPECT_GT(node->WriteServerInfo(info), 0);
    }
}

// The integer of element `element` of the sensor; INT_MIN when missing.
inline int32_t SensorValue(hostapi::Node* server, const char* name, const char* element) {
    int32_t value = INT_MIN;
    WithSensor(
        server, name,
        [&](zvHandle xml, zvXmlItem sensor) {
            zvXmlItem item = 0;
            if (zvXMLFindBranchItem(xml, sensor, element, 1, &item) > 0 && item != 0)
                zvXMLGetItemInt(xml, item, &value);
        },
        false);
    return value;
}

inline void SetSensorValue(hostapi::Node* server, const char* name, const char* element, int32_t value) {
    WithSensor(
        server, name, [&](zvHandle xml, zvXmlItem sensor) { zvXMLSetChildInt(xml, sensor, element, value); }, true);
}

inline void RemoveSensorValue(hostapi::Node* server, const char* name, const char* element) {
    WithSensor(
        server, name,
        [&](zvHandle xml, zvXmlItem sensor) {
            zvXmlItem item = 0;
            if (zvXMLFindBranchItem(xml, sensor, element, 1, &item) > 0 && item != 0) zvXMLDeleteItem(xml, item);
        },
        true);
}

// The target's vertices (X, Y), and replacing them.
using Vertices = std::vector<std::pair<int32_t, int32_t>>;

inline Vertices Target(hostapi::Node* server) {
    ServerNode* node = FindServerNode(server);
    zv::OwnedAppInfo info;
    zv::OwnedList list;
    Vertices vertices;
    EXPECT_GT(node->ReadServerInfo(info.Out()), 0);
    zvArrayListCreate(list.Out(), nullptr);
    zvArrayListInit(list, ZV_TYPE_POINT32, 0, 1);
    EXPECT_GT(ReadCalibrationTarget(zvAppInfoXml(info), list), 0);
    const auto* data = static_cast<const zvPoint32s*>(zvArrayListData(list));
    for (int32_t i = 0; i < zvArrayListCount(list); ++i) vertices.emplace_back(data[i].x, data[i].y);
    return vertices;
}

inline void SetTarget(hostapi::Node* server, const Vertices& vertices) {
    ServerNode* node = FindServerNode(server);
    zv::OwnedAppInfo info;
    zv::OwnedList list;
    ASSERT_GT(node->ReadServerInfo(info.Out()), 0);
    zvArrayListCreate(list.Out(), nullptr);
    zvArrayListInit(list, ZV_TYPE_POINT32, 0, 1);
    for (const auto& [x, y] : vertices) {
        const zvPoint32s vertex{x, y};
        zvArrayListAdd(list, &vertex);
    }
    EXPECT_GT(WriteCalibrationTarget(zvAppInfoXml(info), list), 0);
    EXPECT_GT(node->WriteServerInfo(info), 0);
}

// A settings text without its "CalibrationTarget" element.
inline std::string WithoutTarget(std::string settings) {
    const size_t start = settings.find("<CalibrationTarget>");
    const std::string close = "</CalibrationTarget>";
    const size_t end = settings.find(close);
    if (start != std::string::npos && end != std::string::npos) settings.erase(start, end + close.size() - start);
    return settings;
}

// A target of `count` vertices spread along a line.
inline Vertices Line(int32_t count) {
    Vertices vertices;
    for (int32_t i = 0; i < count; ++i) vertices.emplace_back(1000 * i, 500 * i);
    return vertices;
}

}  // namespace pagetest

#endif
