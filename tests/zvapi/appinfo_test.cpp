// Application information: a server's settings seen as groups and sensors,
// read and written back whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using TempFolder = zvtest::TempFileSpace;

constexpr zvStatus kInjected = -321;

// A server's settings in the default layout (abridged), with a group "Left"
// nested in group "0", a comment and an element the system does not know.
const std::string kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- written by the station -->
<SensorGroup>
  <Name>System</Name>
  <OutputBatchCount>1</OutputBatchCount>
  <Vendor note="unknown">kept</Vendor>
  <Members>
    <SensorGroup>
      <Name>0</Name>
      <Members>
        <Sensor><Name>A</Name><SerialNumber>1000</SerialNumber><VertexView>0</VertexView></Sensor>
        <Sensor><Name>B</Name><SerialNumber>1001</SerialNumber><VertexView>1</VertexView></Sensor>
        <SensorGroup><Name>Left</Name><Members><Sensor><Name>L</Name><SerialNumber> 42 </SerialNumber></Sensor></Members></SensorGroup>
      </Members>
    </SensorGroup>
  </Members>
</SensorGroup>
)";

// Opens `path` of the file space; the caller destroys the file.
zvHandle Open(const char* path, int32_t mode) {
    zvHandle file = nullptr;
    EXPECT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
    EXPECT_EQ(zvFileInit(file, path, mode), ZV_OK) << path;
    return file;
}

// An application-information object read from `path`, destroyed with the test.
class Info {
public:
    Info() {
        EXPECT_EQ(zvAppInfoCreate(&handle_, nullptr), ZV_OK);
        EXPECT_EQ(zvAppInfoInit(handle_), ZV_OK);
    }
    explicit Info(const char* path) : Info() {
        zvHandle file = Open(path, ZV_FILE_READ);
        EXPECT_EQ(zvAppInfoRead(handle_, file), ZV_OK);
        zvFileDestroy(file);
    }
    ~Info() { EXPECT_EQ(zvAppInfoDestroy(handle_), ZV_OK); }
    operator zvHandle() const { return handle_; }
    zvStatus Write(const char* path) const {
        zvHandle file = Open(path, ZV_FILE_WRITE);
        const zvStatus status = zvAppInfoWrite(handle_, file);
        const zvStatus closed = zvFileDestroy(file);
        return status > 0 ? closed : status;
    }
    std::string NameOf(zvXmlItem item) const {
        char name[32] = "";
        if (item != 0) zvXMLGetChildString(zvAppInfoXml(handle_), item, "Name", name, sizeof name);
        return name;
    }

private:
    zvHandle handle_ = nullptr;
};

TEST(AppInfo, GroupPathsAndSensorNamesAddressTheSettings) {
    TempFolder space;
    space.Write("SN7/Settings.xml", kSettings);
    Info info("\\SN7\\Settings.xml");
    EXPECT_EQ(info.NameOf(zvAppInfoRootGroup(info)), "System");
    struct Case {
        const char* path;
        const char* group;  // "" when there is none
    };
    for (const Case& c : {Case{"", "System"}, Case{"\\", "System"}, Case{"0", "0"}, Case{"/0/", "0"},
                          Case{"0/Left", "Left"}, Case{"\\\\0\\Left", "Left"}, Case{"1", ""}, Case{"Left", ""},
                          Case{"0/left", ""}, Case{"0/A", ""}, Case{"0/Left/X", ""}}) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(info.NameOf(zvAppInfoGroupFromPath(info, c.path)), c.group);
    }
    EXPECT_EQ(zvAppInfoGroupFromPath(info, nullptr), 0u);

    const zvXmlItem root = zvAppInfoRootGroup(info);
    const zvXmlItem zero = zvAppInfoGroupFromPath(info, "0");
    const zvXmlItem left = zvAppInfoGroupFromPath(info, "0/Left");
    struct Lookup {
        zvXmlItem group;
        const char* name;
        uint32_t serial;  // ZV_SERIAL_NONE: no such sensor
    };
    for (const Lookup& l : {Lookup{zero, "B", 1001}, Lookup{left, "L", 42}, Lookup{zero, "L", ZV_SERIAL_NONE},
                            Lookup{zero, "Left", ZV_SERIAL_NONE}, Lookup{zero, "b", ZV_SERIAL_NONE},
                            Lookup{root, "A", ZV_SERIAL_NONE}, Lookup{0, "A", ZV_SERIAL_NONE}}) {
        SCOPED_TRACE(l.name);
        const zvXmlItem sensor = zvAppInfoSensorFromParent(info, l.group, l.name);
        EXPECT_EQ(sensor != 0, l.serial != ZV_SERIAL_NONE);
        EXPECT_EQ(zvAppInfoSensorSerial(info, sensor), l.serial);
    }
    // The items are the document's: the sensor pages read and write through them.
    const zvXmlItem b = zvAppInfoSensorFromParent(info, zero, "B");
    int32_t view = -1;
    EXPECT_EQ(zvXMLGetChildInt(zvAppInfoXml(info), b, "VertexView", &view), ZV_OK);
    EXPECT_EQ(view, 1);

    zv::testing::JournalStart();
    zvAppInfoSensorFromParent(info, zvAppInfoGroupFromPath(info, "0"), "A");
    zv::testing::JournalStop();
    EXPECT_EQ(zv::testing::Journal(),
              (std::vector<std::string>{"zvAppInfoGroupFromPath 0", "zvAppInfoSensorFromParent A"}));
    zv::testing::JournalClear();
}

TEST(AppInfo, SerialNumbersAreUnsigned32BitOrNone) {
    Info info;
    struct Case {
        const char* element;
        uint32_t serial;
    };
    for (const Case& c :
         {Case{"<SerialNumber>1000</SerialNumber>", 1000}, Case{"<SerialNumber>7500.000</SerialNumber>", 7500},
          Case{"<SerialNumber>4294967294</SerialNumber>", 4294967294u},
          Case{"<SerialNumber>4294967296</SerialNumber>", ZV_SERIAL_NONE},
          Case{"<SerialNumber>-5</SerialNumber>", ZV_SERIAL_NONE},
          Case{"<SerialNumber>abc</SerialNumber>", ZV_SERIAL_NONE}, Case{"<SerialNumber/>", ZV_SERIAL_NONE},
          Case{"", ZV_SERIAL_NONE}}) {
        SCOPED_TRACE(c.element);
        const std::string text = std::string("<SensorGroup><Members><Sensor><Name>S</Name>") + c.element +
                                 "</Sensor></Members></SensorGroup>";
        ASSERT_EQ(zvXMLUnflatten(zvAppInfoXml(info), text.c_str()), ZV_OK);
        EXPECT_EQ(zvAppInfoSensorSerial(info, zvAppInfoSensorFromParent(info, zvAppInfoRootGroup(info), "S")),
                  c.serial);
    }
    // An item of an earlier reading is stale, not a sensor.
    const zvXmlItem sensor = zvAppInfoSensorFromParent(info, zvAppInfoRootGroup(info), "S");
    ASSERT_EQ(zvXMLUnflatten(zvAppInfoXml(info), "<SensorGroup/>"), ZV_OK);
    EXPECT_EQ(zvAppInfoSensorSerial(info, sensor), ZV_SERIAL_NONE);
    EXPECT_EQ(zvAppInfoSensorFromParent(info, sensor, "S"), 0u);
}

TEST(AppInfo, WritingBackKeepsWhatNobodyChangedUnderEitherName) {
    TempFolder space;
    space.Write("SN7/Settings.xml", kSettings);
    {
        Info info("\\SN7\\Settings.xml");
        const zvXmlItem b = zvAppInfoSensorFromParent(info, zvAppInfoGroupFromPath(info, "0"), "B");
        ASSERT_EQ(zvXMLSetChildInt(zvAppInfoXml(info), b, "VertexView", 5), ZV_OK);
        ASSERT_EQ(info.Write("\\SN7\\settings.xml"), ZV_OK);
    }
    const std::string written = space.Read("SN7/Settings.xml");
    for (const char* kept : {"<!-- written by the station -->", "<Vendor note=\"unknown\">kept</Vendor>",
                             "<SerialNumber> 42 </SerialNumber>", "<VertexView>5</VertexView>"})
        EXPECT_NE(written.find(kept), std::string::npos) << kept << "\n" << written;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(space.Path() / "SN7"), {}), 1);
    // Read and written again unchanged, the file stays byte for byte.
    Info again("\\SN7\\Settings.xml");
    EXPECT_EQ(
        zvAppInfoSensorSerial(again, zvAppInfoSensorFromParent(again, zvAppInfoGroupFromPath(again, "0/Left"), "L")),
        42u);
    ASSERT_EQ(again.Write("\\SN7\\settings.xml"), ZV_OK);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), written);
}

TEST(AppInfo, SettingsThatCannotBeReadAreNeverWrittenOverAFile) {
    TempFolder space;
    space.Write("SN7/Settings.xml", kSettings);
    for (const std::string& bad : {kSettings.substr(0, kSettings.size() / 2), std::string("<a><b></a>"),
                                   std::string("no markup"), std::string()}) {
        SCOPED_TRACE(bad);
        space.Write("SN7/Bad.xml", bad);
        Info info;
        zvHandle file = Open("\\SN7\\Bad.xml", ZV_FILE_READ);
        EXPECT_EQ(zvAppInfoRead(info, file), ZV_E_PARSE);
        zvFileDestroy(file);
        EXPECT_EQ(zvAppInfoRootGroup(info), 0u);
        EXPECT_EQ(zvAppInfoGroupFromPath(info, ""), 0u);
        EXPECT_EQ(info.Write("\\SN7\\Settings.xml"), ZV_E_STATE);
        EXPECT_EQ(space.Read("SN7/Settings.xml"), kSettings);
    }
    // Never initialised: nothing to read into, no document to give.
    zvHandle bare = nullptr;
    ASSERT_EQ(zvAppInfoCreate(&bare, nullptr), ZV_OK);
    zvHandle file = Open("\\SN7\\Settings.xml", ZV_FILE_READ);
    EXPECT_EQ(zvAppInfoRead(bare, file), ZV_E_STATE);
    EXPECT_EQ(zvAppInfoXml(bare), nullptr);
    EXPECT_EQ(zvAppInfoSensorSerial(bare, 1), ZV_SERIAL_NONE);
    zvFileDestroy(file);
    EXPECT_EQ(zvObjectDestroy(bare), ZV_OK);
}

TEST(AppInfo, OwnsItsDocumentAndFailsCleanlyUnderInjection) {
    TempFolder space;
    space.Write("SN7/Settings.xml", kSettings);
    const int64_t baseline = zv::testing::LiveObjects();
    {
        Info info("\\SN7\\Settings.xml");
        const zvHandle document = zvAppInfoXml(info);
        EXPECT_EQ(zvXMLDestroy(document), ZV_E_STATE);
        EXPECT_EQ(zvObjectDestroy(document), ZV_E_STATE);

        struct Case {
            const char* call;
            std::function<bool()> failedAsExpected;
        };
        zvHandle out = info;
        const Case cases[] = {
            {"zvAppInfoCreate", [&] { return zvAppInfoCreate(&out, nullptr) == kInjected && out == nullptr; }},
            {"zvAppInfoInit", [&] { return zvAppInfoInit(info) == kInjected; }},
            {"zvAppInfoRead",
             [&] {
                 zvHandle file = Open("\\SN7\\Settings.xml", ZV_FILE_READ);
                 const zvStatus status = zvAppInfoRead(info, file);
                 zvFileDestroy(file);
                 return status == kInjected;
             }},
            {"zvAppInfoWrite", [&] { return info.Write("\\SN7\\settings.xml") == kInjected; }},
            {"zvAppInfoDestroy", [&] { return zvAppInfoDestroy(info) == kInjected; }},
            {"zvAppInfoXml", [&] { return zvAppInfoXml(info) == nullptr; }},
            {"zvAppInfoRootGroup", [&] { return zvAppInfoRootGroup(info) == 0; }},
            {"zvAppInfoGroupFromPath", [&] { return zvAppInfoGroupFromPath(info, "0") == 0; }},
            {"zvAppInfoSensorFromParent",
             [&] { return zvAppInfoSensorFromParent(info, zvAppInfoRootGroup(info), "A") == 0; }},
            {"zvAppInfoSensorSerial", [&] {
                 const zvXmlItem a = zvAppInfoSensorFromParent(info, zvAppInfoGroupFromPath(info, "0"), "A");
                 return a != 0 && zvAppInfoSensorSerial(info, a) == ZV_SERIAL_NONE;
             }}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.call);
            zv::testing::FailCall(c.call, 1, kInjected);
            EXPECT_TRUE(c.failedAsExpected());
            zv::testing::ClearFaults();
            // Still the settings it read, the same document, the file whole.
            EXPECT_EQ(zvAppInfoXml(info), document);
            EXPECT_EQ(info.NameOf(zvAppInfoGroupFromPath(info, "0/Left")), "Left");
            EXPECT_EQ(space.Read("SN7/Settings.xml"), kSettings);
        }
        // Initialised again: the same document, emptied.
        ASSERT_EQ(zvAppInfoInit(info), ZV_OK);
        EXPECT_EQ(zvAppInfoXml(info), document);
        EXPECT_EQ(zvAppInfoRootGroup(info), 0u);
    }
    EXPECT_EQ(zv::testing::LiveObjects(), baseline);

    // Every allocation of a read, look-up and write failing in turn: a
    // failure status, nothing left behind, the file old or new and whole.
    bool succeeded = false;
    for (int k = 1; k < 500 && !succeeded; ++k) {
        SCOPED_TRACE(k);
        zv::testing::FailAllocation(k);
        zvHandle info = nullptr, file = nullptr;
        zvStatus status = zvAppInfoCreate(&info, nullptr);
        if (status > 0) status = zvAppInfoInit(info);
        if (status > 0) status = zvFileCreate(&file, nullptr);
        if (status > 0) status = zvFileInit(file, "\\SN7\\Settings.xml", ZV_FILE_READ);
        if (status > 0) status = zvAppInfoRead(info, file);
        zvFileDestroy(file);
        file = nullptr;
        const zvXmlItem sensor = zvAppInfoSensorFromParent(info, zvAppInfoGroupFromPath(info, "0/Left"), "L");
        if (status > 0 && sensor == 0) status = ZV_E_NOMEM;
        if (status > 0) status = zvFileCreate(&file, nullptr);
        if (status > 0) status = zvFileInit(file, "\\SN7\\settings.xml", ZV_FILE_WRITE);
        if (status > 0) status = zvAppInfoWrite(info, file);
        const zvStatus closed = zvFileDestroy(file);
        if (status > 0) status = closed;
        zvAppInfoDestroy(info);
        const bool fired = !zv::testing::FaultPending();
        zv::testing::ClearFaults();
        EXPECT_EQ(zv::testing::LiveObjects(), baseline);
        Info check("\\SN7\\Settings.xml");
        EXPECT_EQ(
            zvAppInfoSensorSerial(check, zvAppInfoSensorFromParent(check, zvAppInfoGroupFromPath(check, "0"), "B")),
            1001u);
        succeeded = !fired;
        if (fired) {
            EXPECT_LE(status, 0);
        } else {
            EXPECT_GT(status, 0);
        }
    }
    EXPECT_TRUE(succeeded);
}

}  // namespace
