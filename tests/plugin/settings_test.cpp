#include "plugin/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/document_test_support.hpp"
#include "support/fault_loop.hpp"

namespace {

using zvtest::ServerFileSpace;

constexpr char kPath[] = "\\SN7\\Settings.xml";
constexpr char kFile[] = "SN7/Settings.xml";

// A station's settings with every element the reader knows, a comment and
// an element it does not know.
constexpr char kFull[] = R"(<?xml version="1.0"?>
<SensorGroup>
  <!-- commissioned 2026-03-02 -->
  <Name>System</Name>
  <OutputBatchCount>4</OutputBatchCount>
  <EncoderResolution>2.500000</EncoderResolution>
  <OutputInterval>30</OutputInterval>
  <DetectionThreshold>25</DetectionThreshold>
  <OverlapFilterEnable>7</OverlapFilterEnable>
  <IoStateOutputEnable>0</IoStateOutputEnable>
  <ObstructionY>1200</ObstructionY>
  <VideoStyle>2</VideoStyle>
  <VideoExposure>300</VideoExposure>
  <MaxSlices>500</MaxSlices>
  <Web>
    <SynchronizeMethod>3</SynchronizeMethod>
    <XResolution>125.500000</XResolution>
    <SyncResolution><Distance>10.250000</Distance><Time>40</Time></SyncResolution>
  </Web>
  <OffsetCalibrationEnable>5</OffsetCalibrationEnable>
  <CalibrationTarget>
    <Vertex><X>7500.000000</X><Y>4500.000000</Y></Vertex>
    <Vertex><X>-7500</X><Y>19500</Y></Vertex>
  </CalibrationTarget>
  <Capture><Enabled>9</Enabled><Source>2</Source><Divisor>8</Divisor></Capture>
  <Vendor>kept as it is</Vendor>
  <Members>
    <SensorGroup>
      <Name>0</Name>
      <Members>
        <Sensor><Name>Left</Name><SerialNumber>4021</SerialNumber><Enabled>2</Enabled><VertexView>1</VertexView><Orientation>1</Orientation><Multiplex>3</Multiplex><DetectionThreshold>11</DetectionThreshold><Exposure>77</Exposure></Sensor>
        <Sensor><Name>Right</Name><SerialNumber>4020</SerialNumber><Enabled>0</Enabled><VertexView>2</VertexView><Orientation>0</Orientation><Multiplex>0</Multiplex><DetectionThreshold>12</DetectionThreshold></Sensor>
      </Members>
    </SensorGroup>
  </Members>
</SensorGroup>
)";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("fixture lacks " + from);
    return text.replace(at, from.size(), to);
}

const SensorSettings& SensorAt(const SystemSettings* s, int32_t i) {
    return *static_cast<const SensorSettings*>(zvArrayListAt(s->Sensors, i));
}

zvPoint32s VertexAt(const SystemSettings* s, int32_t i) {
    return *static_cast<const zvPoint32s*>(zvArrayListAt(s->TargetVertices, i));
}

// Loads `kPath`, expecting success.
SystemSettings* Load() {
    SystemSettings* s = nullptr;
    EXPECT_EQ(SettingsLoad(kPath, 0, &s), 1);
    return s;
}

class SettingsTest : public ::testing::Test {
protected:
    ServerFileSpace files;
    zv::testing::Scope seams;
};

TEST_F(SettingsTest, LoadsEveryField) {
    files.Write(kFile, kFull);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->console, nullptr);
    EXPECT_EQ(s->present, 1);
    EXPECT_EQ(s->OutputBatchCount, 4);
    EXPECT_DOUBLE_EQ(s->EncoderResolution, 2.5);
    EXPECT_EQ(s->OutputInterval, 30);
    EXPECT_EQ(s->DetectionThreshold, 25);
    EXPECT_EQ(s->OverlapFilterEnable, 1);
    EXPECT_EQ(s->IoStateOutputEnable, 0);
    EXPECT_EQ(s->ObstructionY, 1200);
    EXPECT_EQ(s->VideoStyle, 2);
    EXPECT_EQ(s->VideoExposure, 300);
    EXPECT_EQ(s->MaxSlices, 500);
    EXPECT_EQ(s->webPresent, 1);
    EXPECT_EQ(s->SynchronizeMethod, 3);  // kept as read
    EXPECT_DOUBLE_EQ(s->XResolution, 125.5);
    EXPECT_DOUBLE_EQ(s->Distance, 10.25);
    EXPECT_EQ(s->Time, 40);
    EXPECT_EQ(s->OffsetCalibrationEnable, 1);
    EXPECT_EQ(s->CaptureEnabled, 1);
    EXPECT_EQ(s->CaptureSource, 2);
    EXPECT_EQ(s->CaptureDivisor, 8);

    ASSERT_EQ(zvArrayListCount(s->TargetVertices), 2);
    EXPECT_EQ(VertexAt(s, 0).x, 7500);
    EXPECT_EQ(VertexAt(s, 0).y, 4500);
    EXPECT_EQ(VertexAt(s, 1).x, -7500);
    EXPECT_EQ(VertexAt(s, 1).y, 19500);

    ASSERT_EQ(zvArrayListCount(s->Sensors), 2);
    EXPECT_EQ(zvArrayListItemType(s->Sensors), ZV_TYPE_SENSOR_ENTRY);
    const SensorSettings& left = SensorAt(s, 0);
    EXPECT_STREQ(left.Name, "Left");
    EXPECT_EQ(left.SerialNumber, 4021u);
    EXPECT_EQ(left.Enabled, 2);  // kept as read
    EXPECT_EQ(left.VertexView, 1);
    EXPECT_EQ(left.Orientation, 1);
    EXPECT_EQ(left.Multiplex, 3);
    EXPECT_EQ(left.DetectionThreshold, 11);
    EXPECT_EQ(left.Exposure, 77);
    const SensorSettings& right = SensorAt(s, 1);
    EXPECT_STREQ(right.Name, "Right");
    EXPECT_EQ(right.SerialNumber, 4020u);
    EXPECT_EQ(right.Exposure, 0);
    EXPECT_EQ(SettingsFree(s), 1);
}

TEST_F(SettingsTest, OptionalElementsTakeTheirDefaults) {
    std::string text = Replace(kFull, "<IoStateOutputEnable>0</IoStateOutputEnable>", "");
    text = Replace(text, "<OffsetCalibrationEnable>5</OffsetCalibrationEnable>", "");
    const size_t web = text.find("<Web>");
    text.erase(web, text.find("</Web>") + 6 - web);
    files.Write(kFile, text);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->IoStateOutputEnable, 1);
    EXPECT_EQ(s->OffsetCalibrationEnable, 0);
    EXPECT_EQ(s->webPresent, 0);
    EXPECT_EQ(s->SynchronizeMethod, 0);
    EXPECT_EQ(s->XResolution, 0.0);
    EXPECT_EQ(s->Distance, 0.0);
    EXPECT_EQ(s->Time, 0);
    SettingsFree(s);
}

TEST_F(SettingsTest, MissingRequiredElementFailsWithZero) {
    struct Case {
        const char* what;
        std::string text;
    };
    const std::string full = kFull;
    const std::vector<Case> cases = {
        {"SyncResolution in Web",
         Replace(full, "<SyncResolution><Distance>10.250000</Distance><Time>40</Time></SyncResolution>", "")},
        {"CalibrationTarget",
         Replace(Replace(full, "<CalibrationTarget>", "<Target>"), "</CalibrationTarget>", "</Target>")},
        {"Capture", Replace(full, "<Capture><Enabled>9</Enabled><Source>2</Source><Divisor>8</Divisor></Capture>", "")},
        {"inner Members", Replace(Replace(full, "<Members>\n        <Sensor>", "<List>\n        <Sensor>"),
                                  "</Members>\n    </SensorGroup>", "</List>\n    </SensorGroup>")},
        {"SensorGroup", Replace(Replace(full, "<Members>\n    <SensorGroup>", "<Members>\n    <Group>"),
                                "</SensorGroup>\n  </Members>", "</Group>\n  </Members>")},
    };
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        files.Write(kFile, c.text);
        SystemSettings* s = reinterpret_cast<SystemSettings*>(1);
        EXPECT_EQ(SettingsLoad(kPath, 0, &s), 0);
        EXPECT_EQ(s, nullptr);
        EXPECT_EQ(zv::testing::LiveObjects(), objects);
        EXPECT_EQ(zv::testing::LiveBytes(), bytes);
    }
}

TEST_F(SettingsTest, DocumentWithoutRootFailsWithZero) {
    zv::OwnedXml document;
    ASSERT_EQ(zvXMLCreate(document.Out(), 0), 1);
    ASSERT_EQ(zvXMLInit(document, 0), 1);
    SystemSettings* s = nullptr;
    EXPECT_EQ(SettingsParse(document, 0, &s), 0);
    EXPECT_EQ(s, nullptr);
    SystemSettings record;
    std::memset(&record, 0, sizeof record);
    EXPECT_EQ(SettingsUpdateDocument(&record, document), 0);
}

TEST_F(SettingsTest, BadFilesGiveAStatusAndNoRecord) {
    struct Case {
        const char* what;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"truncated", std::string(kFull).substr(0, 400)},
        {"empty", ""},
        {"zero byte inside", std::string("<SensorGroup/>\0<junk/>", 22)},
        {"not xml", "OutputBatchCount=4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        files.Write(kFile, c.text);
        SystemSettings* s = nullptr;
        EXPECT_LE(SettingsLoad(kPath, 0, &s), 0);
        EXPECT_EQ(s, nullptr);
    }
}

TEST_F(SettingsTest, FileThatReadsShortIsNotParsed) {
    files.Write(kFile, kFull);
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    // A read that reports success but delivers nothing, as for a file cut
    // short after its length was taken.
    zv::testing::FailCall("zvFileRead", 1, 1);
    SystemSettings* s = nullptr;
    EXPECT_EQ(SettingsLoad(kPath, 0, &s), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(zv::testing::LiveObjects(), objects);
    EXPECT_EQ(zv::testing::LiveBytes(), bytes);

    // Saving then leaves the file alone.
    s = Load();
    ASSERT_NE(s, nullptr);
    s->MaxSlices = 1;
    zv::testing::FailCall("zvFileRead", 1, 1);
    EXPECT_EQ(SettingsSave(s, kPath, 1), 0);
    EXPECT_EQ(files.Read(kFile), kFull);
    SettingsFree(s);
}

TEST_F(SettingsTest, AbsentFileGivesAnEmptyRecord) {
    SystemSettings* s = nullptr;
    ASSERT_EQ(SettingsLoad("\\SN7\\Missing.xml", 0, &s), 1);
    ASSERT_NE(s, nullptr);
    SystemSettings zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(s, &zero, sizeof zero), 0);
    EXPECT_EQ(SettingsFree(s), 1);

    // Saving over no file creates none.
    files.Write(kFile, kFull);
    s = Load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SettingsSave(s, "\\SN7\\Other.xml", 1), 1);
    EXPECT_FALSE(files.Exists("SN7/Other.xml"));
    SettingsFree(s);
}

TEST_F(SettingsTest, RefusedPathsAreFailuresNotAbsentFiles) {
    files.Write(kFile, kFull);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    SystemSettings* other = nullptr;
    EXPECT_EQ(SettingsLoad("\\..\\Settings.xml", 0, &other), ZV_E_ACCESS);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(SettingsSave(s, "\\..\\Settings.xml", 1), ZV_E_ACCESS);
    SettingsFree(s);
}

TEST_F(SettingsTest, FreeAcceptsNull) { EXPECT_EQ(SettingsFree(nullptr), 1); }

TEST_F(SettingsTest, SaveWritesSystemValuesAndKeepsTheRest) {
    files.Write(kFile, kFull);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    s->OutputBatchCount = 9;
    s->EncoderResolution = 0.125;
    s->OverlapFilterEnable = 0;
    s->IoStateOutputEnable = 4;
    s->MaxSlices = 640;
    s->SynchronizeMethod = 5;
    s->Distance = 3.5;
    s->Time = 17;
    s->CaptureEnabled = 0;
    s->CaptureDivisor = 3;
    s->OffsetCalibrationEnable = 0;  // never written
    SensorSettings* left = static_cast<SensorSettings*>(zvArrayListAt(s->Sensors, 0));
    left->Exposure = 1234;  // sensor entries are not written
    ASSERT_EQ(SettingsSave(s, kPath, 1), 1);
    SettingsFree(s);

    const std::string saved = files.Read(kFile);
    EXPECT_NE(saved.find("<!-- commissioned 2026-03-02 -->"), std::string::npos);
    EXPECT_NE(saved.find("<Vendor>kept as it is</Vendor>"), std::string::npos);
    EXPECT_NE(saved.find("<Exposure>77</Exposure>"), std::string::npos);
    EXPECT_EQ(saved.find("1234"), std::string::npos);

    s = Load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->OutputBatchCount, 9);
    EXPECT_DOUBLE_EQ(s->EncoderResolution, 0.125);
    EXPECT_EQ(s->OverlapFilterEnable, 0);
    EXPECT_EQ(s->IoStateOutputEnable, 1);
    EXPECT_EQ(s->MaxSlices, 640);
    EXPECT_EQ(s->SynchronizeMethod, 1);  // written as 0 or 1
    EXPECT_DOUBLE_EQ(s->Distance, 3.5);
    EXPECT_EQ(s->Time, 17);
    EXPECT_EQ(s->CaptureEnabled, 0);
    EXPECT_EQ(s->CaptureDivisor, 3);
    EXPECT_EQ(s->OffsetCalibrationEnable, 1);
    EXPECT_EQ(zvArrayListCount(s->TargetVertices), 2);
    EXPECT_EQ(SensorAt(s, 0).Exposure, 77);
    SettingsFree(s);
}

TEST_F(SettingsTest, SaveAddsAMissingWebBranch) {
    std::string text = kFull;
    const size_t web = text.find("<Web>");
    text.erase(web, text.find("</Web>") + 6 - web);
    files.Write(kFile, text);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->webPresent, 0);
    s->XResolution = 62.5;
    ASSERT_EQ(SettingsSave(s, kPath, 1), 1);
    SettingsFree(s);

    s = Load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->webPresent, 1);
    EXPECT_EQ(s->SynchronizeMethod, 0);
    EXPECT_DOUBLE_EQ(s->XResolution, 62.5);
    EXPECT_EQ(s->Time, 0);
    SettingsFree(s);
    const std::string saved = files.Read(kFile);
    EXPECT_NE(saved.find("<SyncResolution>"), std::string::npos);
}

TEST_F(SettingsTest, SaveStopsAtAMissingCaptureAndLeavesTheFile) {
    const std::string text =
        Replace(kFull, "<Capture><Enabled>9</Enabled><Source>2</Source><Divisor>8</Divisor></Capture>", "");
    files.Write(kFile, kFull);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    files.Write(kFile, text);
    s->OutputBatchCount = 99;
    EXPECT_EQ(SettingsSave(s, kPath, 1), 0);
    EXPECT_EQ(files.Read(kFile), text);
    SettingsFree(s);
}

TEST_F(SettingsTest, DefaultDocumentRoundTrip) {
    ASSERT_EQ(SettingsCreateDefault(kPath, 3), 1);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->present, 1);
    EXPECT_EQ(s->OutputBatchCount, 1);
    EXPECT_EQ(s->EncoderResolution, 0.0);
    EXPECT_EQ(s->DetectionThreshold, 20);
    EXPECT_EQ(s->OverlapFilterEnable, 1);
    EXPECT_EQ(s->IoStateOutputEnable, 1);
    EXPECT_EQ(s->webPresent, 0);
    EXPECT_EQ(s->OffsetCalibrationEnable, 0);
    EXPECT_EQ(s->CaptureEnabled, 0);
    EXPECT_EQ(s->CaptureDivisor, 1);

    const zvPoint32s target[] = {{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}};
    ASSERT_EQ(zvArrayListCount(s->TargetVertices), 4);
    for (int32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(VertexAt(s, i).x, target[i].x);
        EXPECT_EQ(VertexAt(s, i).y, target[i].y);
    }
    ASSERT_EQ(zvArrayListCount(s->Sensors), 3);
    const char* names[] = {"A", "B", "C"};
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const SensorSettings& sensor = SensorAt(s, i);
        EXPECT_STREQ(sensor.Name, names[i]);
        EXPECT_EQ(sensor.SerialNumber, 1000u + i);
        EXPECT_EQ(sensor.Enabled, 1);
        EXPECT_EQ(sensor.VertexView, 0);
        EXPECT_EQ(sensor.DetectionThreshold, 15);
        EXPECT_EQ(sensor.Exposure, 0);
        EXPECT_EQ(sensor.Reserved, 0);
    }
    SettingsFree(s);

    const std::string text = files.Read(kFile);
    EXPECT_NE(text.find("<X>7500.000000</X>"), std::string::npos);
    EXPECT_NE(text.find("<EncoderResolution>0.0</EncoderResolution>"), std::string::npos);
    // Root values come in the default table's order.
    size_t last = 0;
    for (const char* name :
         {"<Name>System", "<OutputBatchCount>", "<EncoderResolution>", "<OutputInterval>", "<DetectionThreshold>",
          "<OverlapFilterEnable>", "<IoStateOutputEnable>", "<ObstructionY>", "<VideoStyle>", "<VideoExposure>",
          "<MaxSlices>", "<CalibrationTarget>", "<Capture>", "<Members>", "<Name>0", "<Sensor>"}) {
        SCOPED_TRACE(name);
        const size_t at = text.find(name);
        ASSERT_NE(at, std::string::npos);
        EXPECT_GT(at, last);
        last = at;
    }
}

TEST_F(SettingsTest, DefaultDocumentSensorCounts) {
    ASSERT_EQ(SettingsCreateDefault(kPath, 48), 1);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvArrayListCount(s->Sensors), 48);
    EXPECT_STREQ(SensorAt(s, 47).Name, "p");
    EXPECT_EQ(SensorAt(s, 47).SerialNumber, 1047u);
    SettingsFree(s);

    // Counts whose names would not be text are refused; the file stays.
    const std::string before = files.Read(kFile);
    EXPECT_EQ(SettingsCreateDefault(kPath, 63), ZV_E_ARGUMENT);
    EXPECT_EQ(SettingsCreateDefault(kPath, -1), ZV_E_ARGUMENT);
    EXPECT_EQ(files.Read(kFile), before);
}

TEST_F(SettingsTest, AbsentNoticeGoesToTheConsole) {
    zvtest::ConsoleEngine engine;
    SystemSettings* s = nullptr;
    ASSERT_EQ(SettingsLoad("\\SN7\\Missing.xml", engine.handle, &s), 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->console, engine.handle.Get());
    EXPECT_EQ(s->present, 0);
    EXPECT_EQ(engine.text, "Settings.xml is absent.\n");

    // A save keeps the record's console: the notice again, nothing written.
    EXPECT_EQ(SettingsSave(s, kPath, 1), 1);
    EXPECT_EQ(engine.text, "Settings.xml is absent.\nSettings.xml is absent.\n");
    EXPECT_FALSE(files.Exists(kFile));
    SettingsFree(s);

    files.Write(kFile, kFull);
    s = nullptr;
    ASSERT_EQ(SettingsLoad(kPath, engine.handle, &s), 1);
    EXPECT_EQ(engine.text, "Settings.xml is absent.\nSettings.xml is absent.\n");
    SettingsFree(s);
}

TEST_F(SettingsTest, LoadCallsThePlatformInOrder) {
    files.Write(kFile, kFull);
    zv::testing::JournalStart();
    SystemSettings* s = Load();
    zv::testing::JournalStop();
    ASSERT_NE(s, nullptr);
    SettingsFree(s);
    const std::vector<std::string> journal = zv::testing::Journal();
    ASSERT_GE(journal.size(), 8u);
    const std::vector<std::string> names = zvtest::CallNames(journal);
    const std::vector<std::string> head(names.begin(), names.begin() + 4);
    EXPECT_EQ(head, (std::vector<std::string>{"zvFileCreate", "zvFileInit", "zvFileLength", "zvFileRead"}));
    EXPECT_EQ(journal[1], "zvFileInit \\SN7\\Settings.xml 1");
    // The file is closed before the text is parsed; the document destroyed last.
    const auto at = [&](const std::string& name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    EXPECT_LT(at("zvFileDestroy"), at("zvXMLCreate"));
    EXPECT_LT(at("zvXMLCreate"), at("zvXMLInit"));
    EXPECT_LT(at("zvXMLInit"), at("zvXMLUnflatten"));
    EXPECT_LT(at("zvXMLUnflatten"), at("zvXMLGetRoot"));
    EXPECT_EQ(names.back(), "zvXMLDestroy");
}

TEST_F(SettingsTest, ParseReadsElementsInOrder) {
    files.Write(kFile, kFull);
    zv::testing::JournalStart();
    SystemSettings* s = Load();
    zv::testing::JournalStop();
    ASSERT_NE(s, nullptr);
    SettingsFree(s);
    // Reads of named elements, up to the first sensor's name.
    std::vector<std::string> reads;
    for (const std::string& entry : zv::testing::Journal()) {
        const std::string name = entry.substr(0, entry.find(' '));
        if (name == "zvXMLGetChildInt" || name == "zvXMLGetChildFloat" || name == "zvXMLGetChildString" ||
            name == "zvXMLFindBranchItem")
            reads.push_back(entry);
        if (name == "zvXMLGetChildString") break;
    }
    const std::vector<std::string> expected = {"zvXMLGetChildInt OutputBatchCount",
                                               "zvXMLGetChildFloat EncoderResolution",
                                               "zvXMLGetChildInt OutputInterval",
                                               "zvXMLGetChildInt DetectionThreshold",
                                               "zvXMLGetChildInt OverlapFilterEnable",
                                               "zvXMLGetChildInt IoStateOutputEnable",
                                               "zvXMLGetChildInt ObstructionY",
                                               "zvXMLGetChildInt VideoStyle",
                                               "zvXMLGetChildInt VideoExposure",
                                               "zvXMLGetChildInt MaxSlices",
                                               "zvXMLFindBranchItem Web 1",
                                               "zvXMLGetChildInt SynchronizeMethod",
                                               "zvXMLGetChildFloat XResolution",
                                               "zvXMLFindBranchItem SyncResolution 1",
                                               "zvXMLGetChildFloat Distance",
                                               "zvXMLGetChildInt Time",
                                               "zvXMLGetChildInt OffsetCalibrationEnable",
                                               "zvXMLFindBranchItem CalibrationTarget 1",
                                               "zvXMLGetChildInt X",
                                               "zvXMLGetChildInt Y",
                                               "zvXMLGetChildInt X",
                                               "zvXMLGetChildInt Y",
                                               "zvXMLFindBranchItem Capture 1",
                                               "zvXMLGetChildInt Enabled",
                                               "zvXMLGetChildInt Source",
                                               "zvXMLGetChildInt Divisor",
                                               "zvXMLFindBranchItem Members 1",
                                               "zvXMLFindBranchItem SensorGroup 1",
                                               "zvXMLFindBranchItem Members 1",
                                               "zvXMLGetChildString Name"};
    EXPECT_EQ(reads, expected);
}

TEST_F(SettingsTest, WriteCallsThePlatformInOrder) {
    zv::testing::JournalStart();
    ASSERT_EQ(SettingsCreateDefault(kPath, 1), 1);
    zv::testing::JournalStop();
    std::vector<std::string> names = zvtest::CallNames(zv::testing::Journal());
    // Keep the calls of the write step.
    std::vector<std::string> write;
    for (const std::string& name : names)
        if (name == "zvXMLFlatten" || name.rfind("zvFile", 0) == 0 || name == "zvXMLDestroy") write.push_back(name);
    EXPECT_EQ(write, (std::vector<std::string>{"zvXMLFlatten", "zvXMLFlatten", "zvFileCreate", "zvFileInit",
                                               "zvFileWrite", "zvFileFlush", "zvFileDestroy", "zvXMLDestroy"}));
    EXPECT_EQ(zv::testing::JournalOf("zvFileInit").at(0), "zvFileInit \\SN7\\Settings.xml 0");
    EXPECT_EQ(names.at(0), "zvXMLCreate");
    EXPECT_EQ(names.at(1), "zvXMLInit");
    EXPECT_EQ(names.at(2), "zvXMLCreateItem");

    // A save without flush does not flush.
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    zv::testing::JournalClear();
    zv::testing::JournalStart();
    ASSERT_EQ(SettingsSave(s, kPath, 0), 1);
    zv::testing::JournalStop();
    EXPECT_TRUE(zv::testing::JournalOf("zvFileFlush").empty());
    SettingsFree(s);
}

// A save reads each sensor entry's name once, however many sensors there
// are, rather than walking the entries again for every sensor.
TEST_F(SettingsTest, SaveWalksTheSensorEntriesOnce) {
    std::string sensors;
    for (int i = 0; i < 400; ++i)
        sensors += "<Sensor><Name>S" + std::to_string(i) + "</Name><SerialNumber>" + std::to_string(1000 + i) +
                   "</SerialNumber></Sensor>";
    std::string text = kFull;
    const size_t at = text.find("<Sensor>");
    text.insert(at, sensors);
    files.Write(kFile, text);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvArrayListCount(s->Sensors), 402);
    zv::testing::JournalStart();
    ASSERT_EQ(SettingsSave(s, kPath, 1), 1);
    zv::testing::JournalStop();
    EXPECT_EQ(zv::testing::JournalOf("zvXMLGetChildString").size(), 402u);
    SettingsFree(s);
}

// ---- Faults ------------------------------------------------------------------

TEST_F(SettingsTest, LoadPassesEveryFailureBack) {
    files.Write(kFile, kFull);
    zvtest::FaultLoop loop;
    loop.noMemory.push_back(0);  // XmlFindChild's name buffer
    loop.operation = [] {
        SystemSettings* s = nullptr;
        const zvStatus status = SettingsLoad(kPath, 0, &s);
        if (status <= 0) {
            EXPECT_EQ(s, nullptr);
        }
        SettingsFree(s);
        return status;
    };
    EXPECT_GT(loop.Run(), 20);
}

TEST_F(SettingsTest, SaveFailuresLeaveTheOldFile) {
    files.Write(kFile, kFull);
    SystemSettings* s = Load();
    ASSERT_NE(s, nullptr);
    s->MaxSlices = 4096;
    zvtest::FaultLoop loop;
    loop.noMemory.push_back(0);  // XmlFindChild's name buffer
    loop.operation = [&] { return SettingsSave(s, kPath, 1); };
    loop.intact = {files.Host(kFile)};
    // The disk failing below the zv calls too: a save either fails and
    // leaves the old file, or the new one reads back whole.
    loop.systemCalls = true;
    loop.systemCheck = [&](const zvtest::Fault& fault, zvStatus status) {
        if ((fault.call == "write" && fault.error != zv::testing::kShortTransfer) || fault.call == "renameat") {
            EXPECT_LE(status, 0);
        }
        if (status > 0) {
            SystemSettings* saved = Load();
            ASSERT_NE(saved, nullptr);
            EXPECT_EQ(saved->MaxSlices, 4096);
            SettingsFree(saved);
        }
    };
    loop.Run();
    SettingsFree(s);
}

TEST_F(SettingsTest, CreateDefaultFailuresLeaveTheOldFile) {
    files.Write(kFile, kFull);
    zvtest::FaultLoop loop;
    loop.noMemory.push_back(0);  // XmlFindChild's name buffer
    loop.operation = [] { return SettingsCreateDefault(kPath, 3); };
    loop.intact = {files.Host(kFile)};
    loop.Run();
}

}  // namespace
