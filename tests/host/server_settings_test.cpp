// The host's reading of a server's Settings.xml for the tree: the sensors the
// plug-in's lookup reaches, and the paths of their nodes.
#include "server_settings.hpp"

#include <gtest/gtest.h>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"

namespace {

using zvhost::SensorEntry;

std::string Sensor(const std::string& name, int serial) {
    return "<Sensor><Name>" + name + "</Name><SerialNumber>" + std::to_string(serial) + "</SerialNumber></Sensor>";
}

std::string Group(const std::string& name, const std::string& members) {
    return "<SensorGroup><Name>" + name + "</Name><Members>" + members + "</Members></SensorGroup>";
}

// The serial of the sensor the plug-in's own lookup finds for (group, name);
// -1 when it finds none.
int64_t LookUp(uint32_t server, const std::string& group, const std::string& name) {
    const std::string path = "\\SN" + std::to_string(server) + "\\Settings.xml";
    zvHandle file = nullptr;
    zvHandle info = nullptr;
    int64_t serial = -1;
    if (zvFileCreate(&file, nullptr) > 0 && zvFileInit(file, path.c_str(), ZV_FILE_READ) > 0 &&
        zvAppInfoCreate(&info, nullptr) > 0 && zvAppInfoInit(info) > 0 && zvAppInfoRead(info, file) > 0) {
        const zvXmlItem g = zvAppInfoGroupFromPath(info, group.c_str());
        const zvXmlItem s = g != 0 ? zvAppInfoSensorFromParent(info, g, name.c_str()) : 0;
        if (s != 0) serial = zvAppInfoSensorSerial(info, s);
    }
    if (file != nullptr) zvFileDestroy(file);
    if (info != nullptr) zvAppInfoDestroy(info);
    return serial;
}

// Every sensor of a document with names the lookup confuses: each one the
// view calls reachable is the one the lookup finds, and the lookup finds
// another one (or none) for each it calls unreachable.
TEST(ServerSettingsView, ASensorIsReachableExactlyWhenThePluginsLookupFindsIt) {
    zvtest::TempFileSpace space;
    space.Write("SN1/Settings.xml",
                "<SensorGroup><Name>System</Name><Members>" +
                    Group("0", Sensor("A", 1000) + Sensor("a", 1001) + Sensor("B", 1002) + Sensor("A", 1003)) +
                    Group("1", Sensor("A", 1004) + Group("inner", Sensor("C", 1005))) + Group("0", Sensor("D", 1006)) +
                    Group("", Sensor("E", 1007)) + Group("x/y", Sensor("F", 1008)) + Sensor("A", 1009) +
                    "<Sensor><SerialNumber>1010</SerialNumber></Sensor>" + "</Members></SensorGroup>");
    const zvhost::ServerSettingsView view = zvhost::ReadServerSettingsView(1);
    ASSERT_TRUE(view.present);
    ASSERT_TRUE(view.problem.empty()) << view.problem;
    struct Expected {
        const char* group;
        const char* name;
        uint32_t serial;
        const char* why;  // part of the reason, "" for a reachable sensor
    };
    const Expected expected[] = {
        {"0", "A", 1000, ""},
        {"0", "a", 1001, ""},
        {"0", "B", 1002, ""},
        {"0", "A", 1003, "an earlier sensor of group \"0\" (S/N 1000) is also named \"A\""},
        {"1", "A", 1004, ""},
        {"1/inner", "C", 1005, ""},
        {"0", "D", 1006, "an earlier group of the root group is also named \"0\""},
        {"", "E", 1007, "its group has no name"},
        {"x/y", "F", 1008, "holds a path separator"},
        {"", "A", 1009, ""},
    };
    ASSERT_EQ(view.sensors.size(), std::size(expected));  // the sensor without a name is none
    for (size_t i = 0; i < view.sensors.size(); ++i) {
        const SensorEntry& s = view.sensors[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(std::string(e.group) + " / " + e.name);
        EXPECT_EQ(s.group, e.group);
        EXPECT_EQ(s.name, e.name);
        EXPECT_EQ(s.serial, e.serial);
        EXPECT_NE(s.unreachable.find(e.why), std::string::npos) << s.unreachable;
        EXPECT_EQ(s.unreachable.empty(), std::string(e.why).empty());
        const int64_t found = LookUp(1, s.group, s.name);
        if (s.unreachable.empty()) {
            EXPECT_EQ(found, s.serial);
        } else {
            EXPECT_NE(found, s.serial);
        }
    }

    const std::vector<std::string> paths = zvhost::SensorPaths("SN1", view.sensors);
    EXPECT_EQ(paths, (std::vector<std::string>{"SN1/0/A", "SN1/a", "SN1/B", "SN1/A#2", "SN1/1/A", "SN1/C", "SN1/D#2",
                                               "SN1/E#2", "SN1/F#2", "SN1/A"}));
}

TEST(ServerSettingsView, PathsAreUniqueWhateverTheNames) {
    auto entry = [](const char* group, const char* name, const char* unreachable = "") {
        SensorEntry e;
        e.group = group;
        e.name = name;
        e.unreachable = unreachable;
        return e;
    };
    // Sensors named like the numbered or grouped paths of others keep
    // theirs, and the others move on.
    const std::vector<SensorEntry> sensors = {
        entry("0", "A"), entry("0", "A", "twice"), entry("0", "A#2"),          entry("", "0/B"),
        entry("0", "B"), entry("1", "B"),          entry("0", "", "too long"), entry("0", "", "too long")};
    EXPECT_EQ(zvhost::SensorPaths("SN4", sensors),
              (std::vector<std::string>{"SN4/A", "SN4/A#3", "SN4/A#2", "SN4/0/B", "SN4/0/B#2", "SN4/1/B", "SN4/#2",
                                        "SN4/#3"}));
    // A station made by System Config for 48 sensors: "A" to "Z", six
    // signs, then "a" to "p", each its own path.
    std::vector<SensorEntry> made;
    for (int i = 0; i < 48; ++i) made.push_back(entry("0", std::string(1, static_cast<char>('A' + i)).c_str()));
    const std::vector<std::string> paths = zvhost::SensorPaths("SN1", made);
    for (int i = 0; i < 48; ++i) EXPECT_EQ(paths[static_cast<size_t>(i)], "SN1/" + made[static_cast<size_t>(i)].name);
}

TEST(ServerSettingsView, AFileThatCannotBeReadGivesTheFileAndTheLine) {
    zvtest::TempFileSpace space;
    EXPECT_FALSE(zvhost::ReadServerSettingsView(2).present);
    space.Write("SN2/Settings.xml", "<SensorGroup>\n  <Members>\n    <Broken>\n  </Members>\n</SensorGroup>\n");
    const zvhost::ServerSettingsView view = zvhost::ReadServerSettingsView(2);
    EXPECT_TRUE(view.present);
    EXPECT_TRUE(view.sensors.empty());
    EXPECT_NE(view.problem.find("\\SN2\\Settings.xml"), std::string::npos) << view.problem;
    EXPECT_NE(view.problem.find("line 4"), std::string::npos) << view.problem;

    // More sensors than the tree shows: the first ones, and the count left out.
    std::string many;
    for (size_t i = 0; i < zvhost::kMaxSensorsShown + 5; ++i) many += Sensor("S" + std::to_string(i), 1);
    space.Write("SN2/Settings.xml", "<SensorGroup><Members>" + Group("0", many) + "</Members></SensorGroup>");
    const zvhost::ServerSettingsView large = zvhost::ReadServerSettingsView(2);
    EXPECT_EQ(large.sensors.size(), zvhost::kMaxSensorsShown);
    EXPECT_EQ(large.omitted, 5u);
}

}  // namespace
