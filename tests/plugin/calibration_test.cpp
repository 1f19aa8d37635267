#include "plugin/calibration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/settings.h"
#include "support/document_test_support.hpp"
#include "support/fault_loop.hpp"
#include "zvapi/zv_handle.hpp"

namespace {

using zvtest::ServerFileSpace;

constexpr char kPath[] = "\\SN7\\Calibration.xml";
constexpr char kFile[] = "SN7/Calibration.xml";

constexpr char kCalibration[] = R"(<?xml version="1.0"?>
<Calibration>
  <!-- fine calibration of line 2 -->
  <Sensor><SerialNumber>4021</SerialNumber><X>1.25</X><Y>-0.5</Y><T>0.001</T><Note>left</Note></Sensor>
  <Head><SerialNumber>4020</SerialNumber><X>0</X><Y>2</Y><T>-0.25</T></Head>
  <Sensor><SerialNumber>4021</SerialNumber><X>7</X><Y>7</Y><T>7</T></Sensor>
</Calibration>
)";

// The same without the second element of sensor 4021.
std::string Unique() {
    std::string text = kCalibration;
    const size_t at = text.rfind("  <Sensor>");
    return text.erase(at, text.find("</Sensor>", at) + 10 - at);
}

const CalibrationEntry& EntryAt(const CalibrationSet* set, int32_t i) {
    return *static_cast<const CalibrationEntry*>(zvArrayListAt(set->entries, i));
}

CalibrationSet* Load() {
    CalibrationSet* set = nullptr;
    EXPECT_EQ(LoadCalibration(kPath, 0, &set), 1);
    return set;
}

class CalibrationTest : public ::testing::Test {
protected:
    ServerFileSpace files;
    zv::testing::Scope seams;
};

TEST_F(CalibrationTest, LoadsOneEntryPerSensorElementInOrder) {
    files.Write(kFile, kCalibration);
    CalibrationSet* set = Load();
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->present, 1);
    ASSERT_EQ(zvArrayListCount(set->entries), 3);
    EXPECT_EQ(zvArrayListItemSize(set->entries), static_cast<int32_t>(sizeof(CalibrationEntry)));
    EXPECT_EQ(EntryAt(set, 0).serialNumber, 4021);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).x, 1.25);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).y, -0.5);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).t, 0.001);
    EXPECT_EQ(EntryAt(set, 1).serialNumber, 4020);
    EXPECT_DOUBLE_EQ(EntryAt(set, 1).t, -0.25);
    EXPECT_EQ(EntryAt(set, 2).serialNumber, 4021);
    EXPECT_DOUBLE_EQ(EntryAt(set, 2).x, 7.0);
    EXPECT_EQ(FreeCalibration(set), 1);
}

TEST_F(CalibrationTest, AbsentFileIsNotAFailure) {
    zvtest::ConsoleEngine engine;
    CalibrationSet* set = nullptr;
    ASSERT_EQ(LoadCalibration(kPath, engine.handle, &set), 1);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->present, 0);
    EXPECT_EQ(set->entries, nullptr);
    EXPECT_EQ(set->engine, engine.handle.Get());
    EXPECT_EQ(engine.text, "SystemCalibration.xml is absent.\n");
    EXPECT_EQ(SaveCalibration(set, kPath, 1), 1);
    EXPECT_FALSE(files.Exists(kFile));
    EXPECT_EQ(engine.text, "SystemCalibration.xml is absent.\nSystemCalibration.xml is absent.\n");
    EXPECT_EQ(FreeCalibration(set), 1);
    EXPECT_EQ(FreeCalibration(nullptr), 1);
}

TEST_F(CalibrationTest, BadDocumentsGiveAStatusAndNoSet) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"no root", "<?xml version=\"1.0\"?>\n"},
        {"truncated", std::string(kCalibration).substr(0, 120)},
        {"zero byte", std::string("<C/>\0<D/>", 9)},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        files.Write(kFile, text);
        CalibrationSet* set = nullptr;
        EXPECT_LE(LoadCalibration(kPath, 0, &set), 0);
        EXPECT_EQ(set, nullptr);
    }
}

TEST_F(CalibrationTest, SaveRewritesTheMatchingSensorAndKeepsTheRest) {
    // Written as no save writes them, so that a rewrite shows.
    std::string original = Unique();
    original.replace(original.find("<X>1.25</X>"), 11, "<X>1.2500</X>");
    original.replace(original.find("<Y>-0.5</Y>"), 11, "<Y>-0.500</Y>");
    files.Write(kFile, original);
    CalibrationSet* set = Load();
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(zvArrayListCount(set->entries), 2);
    auto* left = static_cast<CalibrationEntry*>(zvArrayListAt(set->entries, 0));
    left->t = 0.123456789012345;                           // only t changed: X, Y and T are all written
    const CalibrationEntry stray = {5555, 1.0, 1.0, 1.0};  // no element: changes nothing
    ASSERT_EQ(zvArrayListAdd(set->entries, &stray), 1);
    ASSERT_EQ(SaveCalibration(set, kPath, 1), 1);
    FreeCalibration(set);

    const std::string saved = files.Read(kFile);
    EXPECT_NE(saved.find("<!-- fine calibration of line 2 -->"), std::string::npos);
    EXPECT_NE(saved.find("<Note>left</Note>"), std::string::npos);
    EXPECT_NE(saved.find("<X>1.25</X>"), std::string::npos);
    EXPECT_NE(saved.find("<Y>-0.5</Y>"), std::string::npos);
    EXPECT_NE(saved.find("<T>0.123456789012345</T>"), std::string::npos);
    EXPECT_EQ(saved.find("1.2500"), std::string::npos);
    EXPECT_EQ(saved.find("5555"), std::string::npos);

    set = Load();
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(zvArrayListCount(set->entries), 2);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).x, 1.25);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).y, -0.5);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).t, 0.123456789012345);
    EXPECT_DOUBLE_EQ(EntryAt(set, 1).y, 2.0);
    FreeCalibration(set);
}

TEST_F(CalibrationTest, DuplicateSerialNumbersUpdateOnlyTheFirstElement) {
    files.Write(kFile, kCalibration);
    CalibrationSet* set = Load();
    ASSERT_NE(set, nullptr);
    auto* second = static_cast<CalibrationEntry*>(zvArrayListAt(set->entries, 2));
    *second = {4021, 8.0, 8.0, 8.0};
    ASSERT_EQ(SaveCalibration(set, kPath, 1), 1);
    FreeCalibration(set);

    set = Load();
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(zvArrayListCount(set->entries), 3);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).x, 8.0);  // the later entry lands on the first element too
    EXPECT_DOUBLE_EQ(EntryAt(set, 2).x, 7.0);
    EXPECT_DOUBLE_EQ(EntryAt(set, 2).t, 7.0);
    FreeCalibration(set);
}

TEST_F(CalibrationTest, SaveCallsThePlatformInOrder) {
    files.Write(kFile, kCalibration);
    CalibrationSet* set = Load();
    ASSERT_NE(set, nullptr);
    zv::testing::JournalStart();
    ASSERT_EQ(SaveCalibration(set, kPath, 2), 1);
    zv::testing::JournalStop();
    std::vector<std::string> files_calls;
    for (const std::string& name : zvtest::CallNames(zv::testing::Journal()))
        if (name.rfind("zvFile", 0) == 0 || name == "zvXMLFlatten") files_calls.push_back(name);
    EXPECT_EQ(files_calls, (std::vector<std::string>{"zvFileCreate", "zvFileInit", "zvFileLength", "zvFileRead",
                                                     "zvFileDestroy", "zvXMLFlatten", "zvXMLFlatten", "zvFileCreate",
                                                     "zvFileInit", "zvFileWrite", "zvFileFlush", "zvFileDestroy"}));
    const std::vector<std::string> floats = zv::testing::JournalOf("zvXMLSetChildFloat");
    EXPECT_EQ(floats.size(), 9u);
    FreeCalibration(set);
}

// A save reads each sensor element's serial number once, however many
// sensors there are, and still updates the first element of each.
TEST_F(CalibrationTest, SaveReadsEachSerialNumberOnce) {
    std::string text = "<Calibration>";
    for (int i = 0; i < 400; ++i)
        text += "<Sensor><SerialNumber>" + std::to_string(5000 + (i * 37) % 400) + "</SerialNumber><X>0</X></Sensor>";
    text += "<Sensor><SerialNumber>5001</SerialNumber><X>9</X></Sensor></Calibration>";
    files.Write(kFile, text);
    CalibrationSet* set = Load();
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(zvArrayListCount(set->entries), 401);
    for (int32_t i = 0; i < 401; ++i) static_cast<CalibrationEntry*>(zvArrayListAt(set->entries, i))->x = 0.5 + i;
    zv::testing::JournalStart();
    ASSERT_EQ(SaveCalibration(set, kPath, 0), 1);
    zv::testing::JournalStop();
    EXPECT_EQ(zv::testing::JournalOf("zvXMLGetChildInt").size(), 401u);
    FreeCalibration(set);
    // The last entry (serial 5001 again) went to the first element of 5001,
    // after that element's own entry: the last write is the one kept.
    set = Load();
    ASSERT_NE(set, nullptr);
    const int32_t first5001 = 173;  // (173 * 37) % 400 == 1
    EXPECT_DOUBLE_EQ(EntryAt(set, first5001).x, 400.5);
    EXPECT_DOUBLE_EQ(EntryAt(set, 400).x, 9.0);
    EXPECT_DOUBLE_EQ(EntryAt(set, 0).x, 0.5);
    FreeCalibration(set);
}

TEST_F(CalibrationTest, SaveFailuresLeaveTheOldFile) {
    files.Write(kFile, kCalibration);
    CalibrationSet* set = Load();
    ASSERT_NE(set, nullptr);
    static_cast<CalibrationEntry*>(zvArrayListAt(set->entries, 1))->y = 8.5;
    zvtest::FaultLoop loop;
    loop.operation = [&] { return SaveCalibration(set, kPath, 1); };
    loop.intact = {files.Host(kFile)};
    loop.Run();
    FreeCalibration(set);
}

TEST_F(CalibrationTest, LoadFailuresLeaveNothing) {
    files.Write(kFile, kCalibration);
    zvtest::FaultLoop loop;
    loop.operation = [] {
        CalibrationSet* set = nullptr;
        const zvStatus status = LoadCalibration(kPath, 0, &set);
        if (status <= 0) {
            EXPECT_EQ(set, nullptr);
        }
        FreeCalibration(set);
        return status;
    };
    loop.Run();
}

// ---- Calibration target ------------------------------------------------------

class CalibrationTargetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(zvXMLCreate(document.Out(), 0), 1);
        ASSERT_EQ(zvXMLInit(document, 0), 1);
        ASSERT_EQ(zvArrayListCreate(vertices.Out(), 0), 1);
        ASSERT_EQ(zvArrayListInit(vertices, ZV_TYPE_POINT32, 0, 1), 1);
    }
    void Parse(const char* text) { ASSERT_EQ(zvXMLUnflatten(document, text), 1); }
    void Add(int32_t x, int32_t y) {
        const zvPoint32s point = {x, y};
        ASSERT_EQ(zvArrayListAdd(vertices, &point), 1);
    }
    std::vector<std::pair<int32_t, int32_t>> Points() const {
        std::vector<std::pair<int32_t, int32_t>> points;
        for (int32_t i = 0; i < zvArrayListCount(vertices); ++i) {
            const auto* p = static_cast<const zvPoint32s*>(zvArrayListAt(vertices, i));
            points.emplace_back(p->x, p->y);
        }
        return points;
    }
    std::string Flat() const {
        int64_t size = 0;
        zvXMLFlatten(document, nullptr, 0, &size);
        std::string text(static_cast<size_t>(size) + 1, '\0');
        zvXMLFlatten(document, text.data(), size + 1, &size);
        text.resize(static_cast<size_t>(size));
        return text;
    }

    zv::OwnedXml document;
    zv::OwnedList vertices;
    zv::testing::Scope seams;
};

TEST_F(CalibrationTargetTest, ReadAppendsEveryChildInOrder) {
    Parse(
        "<S><CalibrationTarget><Vertex><X>1</X><Y>2</Y></Vertex><Corner><Y>4</Y><X>3.9</X></Corner>"
        "</CalibrationTarget></S>");
    Add(-1, -1);
    ASSERT_EQ(ReadCalibrationTarget(document, vertices), 1);
    EXPECT_EQ(Points(), (std::vector<std::pair<int32_t, int32_t>>{{-1, -1}, {1, 2}, {3, 4}}));
}

TEST_F(CalibrationTargetTest, MissingTargetOrRootGivesZero) {
    ASSERT_EQ(ReadCalibrationTarget(document, vertices), 0);  // no root
    EXPECT_EQ(WriteCalibrationTarget(document, vertices), 0);
    Parse("<S><Target/><Deep><CalibrationTarget/></Deep></S>");
    Add(5, 6);
    const std::string before = Flat();
    EXPECT_EQ(ReadCalibrationTarget(document, vertices), 0);
    EXPECT_EQ(WriteCalibrationTarget(document, vertices), 0);
    EXPECT_EQ(Points().size(), 1u);
    EXPECT_EQ(Flat(), before);
}

TEST_F(CalibrationTargetTest, WriteReplacesTheVerticesAndReadsBack) {
    Parse(
        "<S><Name>System</Name><CalibrationTarget><Vertex><X>0</X><Y>0</Y></Vertex><Old/></CalibrationTarget>"
        "<Capture/></S>");
    Add(7500, 4500);
    Add(-7500, 4500);
    Add(-7500, 19500);
    Add(7500, 19500);
    Add(INT32_MIN, INT32_MAX);
    const auto written = Points();
    ASSERT_EQ(WriteCalibrationTarget(document, vertices), 1);
    const std::string flat = Flat();
    EXPECT_EQ(flat.find("<Old"), std::string::npos);
    EXPECT_LT(flat.find("<X>7500</X>"), flat.find("<Y>4500</Y>"));
    EXPECT_NE(flat.find("<Capture"), std::string::npos);

    zvArrayListResize(vertices, 0);
    ASSERT_EQ(ReadCalibrationTarget(document, vertices), 1);
    EXPECT_EQ(Points(), written);
}

TEST_F(CalibrationTargetTest, WritingNoVerticesLeavesAnEmptyTarget) {
    Parse("<S><CalibrationTarget><Vertex><X>1</X><Y>2</Y></Vertex></CalibrationTarget></S>");
    ASSERT_EQ(WriteCalibrationTarget(document, vertices), 1);
    zvXmlItem target = 0;
    zvXmlItem root = 0;
    zvXMLGetRoot(document, &root);
    ASSERT_EQ(zvXMLFindBranchItem(document, root, "CalibrationTarget", 1, &target), 1);
    ASSERT_NE(target, 0u);
    zvXmlItem child = 1;
    ASSERT_EQ(zvXMLGetFirstChild(document, target, &child), 1);
    EXPECT_EQ(child, 0u);
}

TEST_F(CalibrationTargetTest, ListsOfOtherItemsAreRefused) {
    Parse("<S><CalibrationTarget><Vertex><X>1</X><Y>2</Y></Vertex></CalibrationTarget></S>");
    zv::OwnedList wide;
    ASSERT_EQ(zvArrayListCreate(wide.Out(), 0), 1);
    ASSERT_EQ(zvArrayListInit(wide, ZV_TYPE_INT16, 0, 1), 1);
    const std::string before = Flat();
    EXPECT_EQ(ReadCalibrationTarget(document, wide), ZV_E_TYPE);
    EXPECT_EQ(WriteCalibrationTarget(document, wide), ZV_E_TYPE);
    EXPECT_EQ(zvArrayListCount(wide), 0);
    EXPECT_EQ(Flat(), before);
    EXPECT_EQ(ReadCalibrationTarget(document, nullptr), ZV_E_HANDLE);
}

TEST_F(CalibrationTargetTest, FailuresArePassedBack) {
    Parse("<S><CalibrationTarget><Vertex><X>1</X><Y>2</Y></Vertex></CalibrationTarget></S>");
    Add(3, 4);
    Add(5, 6);
    const std::string before = Flat();
    zvtest::FaultLoop write;
    write.operation = [&] { return WriteCalibrationTarget(document, vertices); };
    write.cleanup = [&] { Parse(before.c_str()); };
    write.Run();
    zvtest::FaultLoop read;
    read.operation = [&] { return ReadCalibrationTarget(document, vertices); };
    read.cleanup = [&] { ASSERT_EQ(zvArrayListResize(vertices, 2), 1); };
    read.Run();
}

// The settings reader and the target reader see the same vertices.
TEST_F(CalibrationTargetTest, AgreesWithTheSettingsReader) {
    ServerFileSpace files;
    ASSERT_EQ(SettingsCreateDefault("\\SN7\\Settings.xml", 2), 1);
    zv::OwnedXml loaded;
    ASSERT_EQ(SettingsReadDocument(0, "\\SN7\\Settings.xml", loaded.Out()), 1);
    ASSERT_EQ(ReadCalibrationTarget(loaded, vertices), 1);
    EXPECT_EQ(Points(),
              (std::vector<std::pair<int32_t, int32_t>>{{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}}));
}

}  // namespace
