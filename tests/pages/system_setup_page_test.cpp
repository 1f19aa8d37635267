// System Setup (1018): the calibration target's lines, Add and Remove
// Vertex, Apply into the settings, and deleting Calibration.xml.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/system_page_setup.h"
#include "pages/system_page_setup_ids.h"
#include "plugin/page_ids.h"
#include "sensor_entry.hpp"
#include "stored_settings.hpp"
#include "support/fault_loop.hpp"

namespace {

using namespace system_setup;
using wf::driver::Result;

const std::vector<std::string> kDefaultLines = {"        00:    7500,    4500", "        01:   -7500,    4500",
                                                "        02:   -7500,   19500", "        03:    7500,   19500"};

struct SystemSetupPageTest : pagetest::PageTest {
    SystemSetupPageTest() : PageTest(pagetest::PageSetup(kPageSystemSetup)) {}

    std::vector<std::string> Lines() const { return State(kVertexList).items; }
    void Add(const std::string& x, const std::string& y) const {
        Type(kXEdit, x);
        Type(kYEdit, y);
        Click(kAddButton);
    }
    void Remove() const { Click(kRemoveButton); }
};

TEST_F(SystemSetupPageTest, ShowsTheDefaultTargetWithBothPipesInCalibration) {
    EXPECT_EQ(PageName(), "Calibration");
    EXPECT_EQ(ClassName(), "CSystemPageSetup");
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"mode SN7 Calibration", "mode client Calibration", "SelectLayout 0"}));
    EXPECT_EQ(Lines(), kDefaultLines);
    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Calibration");
    EXPECT_EQ(view.GetInnerControl()->YAxisText(), "mils");
}

TEST_F(SystemSetupPageTest, LinesKeepTheirFormatForEveryIndexAndValue) {
    struct Case {
        int32_t index, x, y;
        const char* line;
    };
    for (const Case& c : {Case{0, 0, 0, "        00:       0,       0"}, Case{9, -1, 1, "        09:      -1,       1"},
                          Case{10, 1234567, -123456, "        10: 1234567, -123456"},
                          Case{99, INT32_MIN, INT32_MAX, "        99: -2147483648, 2147483647"},
                          Case{100, 5, 5, "        100:       5,       5"}}) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(VertexLine(c.index, c.x, c.y), c.line);
    }
}

TEST_F(SystemSetupPageTest, AnAddedVertexIsListedAndAppliedInOrder) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Add("100", "-250");
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    std::vector<std::string> lines = kDefaultLines;
    lines.push_back("        04:     100,    -250");
    EXPECT_EQ(Lines(), lines);
    // Nothing is written before Apply.
    EXPECT_EQ(pagetest::Target(server).size(), 4u);
    host.ClearLog();
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(host.log, std::vector<std::string>{"SelectLayout 0"});  // drawn again
    EXPECT_EQ(pagetest::Target(server),
              (pagetest::Vertices{{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}, {100, -250}}));
    int32_t modified = 0;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 1);
}

TEST_F(SystemSetupPageTest, CoordinatesAreReadAsLeadingIntegers) {
    ASSERT_EQ(page->Activate(), 1);
    Add("12.9", "abc");
    Add("  -3x", "99999999999");
    ASSERT_EQ(page->Apply(), 1);
    const pagetest::Vertices target = pagetest::Target(server);
    ASSERT_EQ(target.size(), 6u);
    EXPECT_EQ(target[4], (std::pair{12, 0}));
    EXPECT_EQ(target[5], (std::pair{-3, INT32_MAX}));
}

TEST_F(SystemSetupPageTest, TwelveVerticesThenRemoveVertexDropsTheLast) {
    pagetest::SetTarget(server, {});
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_TRUE(Lines().empty());
    for (int32_t i = 0; i < 12; ++i) Add(std::to_string(i * 10), std::to_string(-i));
    ASSERT_EQ(Lines().size(), 12u);
    for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(Lines()[i], VertexLine(i, i * 10, -i));
    host.ClearLog();
    Remove();
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    ASSERT_EQ(Lines().size(), 11u);
    EXPECT_EQ(Lines().back(), "        10:     100,     -10");
    ASSERT_EQ(page->Apply(), 1);
    const pagetest::Vertices target = pagetest::Target(server);
    ASSERT_EQ(target.size(), 11u);
    EXPECT_EQ(target.back(), (std::pair{100, -10}));
}

TEST_F(SystemSetupPageTest, RemoveVertexOnAnEmptyListRemovesNothing) {
    ASSERT_EQ(page->Activate(), 1);
    for (int i = 0; i < 6; ++i) Remove();
    EXPECT_TRUE(Lines().empty());
    Add("1", "2");
    EXPECT_EQ(Lines(), std::vector<std::string>{"        00:       1,       2"});
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(pagetest::Target(server), (pagetest::Vertices{{1, 2}}));
    Remove();
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_TRUE(pagetest::Target(server).empty());
    EXPECT_NE(space.Read("SN7/Settings.xml").find("<CalibrationTarget"), std::string::npos);
}

TEST_F(SystemSetupPageTest, EditsNotAppliedAreDroppedAtDeactivate) {
    ASSERT_EQ(page->Activate(), 1);
    Add("1", "1");
    Remove();
    Remove();
    const std::string before = space.Read("SN7/Settings.xml");
    ASSERT_EQ(page->Deactivate(), 1);
    EXPECT_EQ(page->Deactivate(), 1);  // nothing left to drop
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Lines(), kDefaultLines);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), before);
}

TEST_F(SystemSetupPageTest, ActivatingAgainOrClosingWithoutDeactivateLeaksNothing) {
    ASSERT_EQ(page->Activate(), 1);  // the client's handles are made on first use
    zv::testing::Scope scope;
    const int64_t objects = zv::testing::LiveObjects();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(page->Activate(), 1);
    Add("5", "5");
    EXPECT_EQ(Lines().size(), 5u);
    EXPECT_EQ(zv::testing::LiveObjects(), objects);
    ASSERT_EQ(page->Deactivate(), 1);
    const int64_t withoutList = zv::testing::LiveObjects();
    ASSERT_EQ(page->Activate(), 1);
    host.ForgetPage(page);
    page->Destroy();
    EXPECT_EQ(zv::testing::LiveObjects(), withoutList);
}

TEST_F(SystemSetupPageTest, UnreadableSettingsShowAnEmptyTargetAndApplyWritesNothing) {
    ASSERT_EQ(page->Activate(), 1);
    const std::string stored = space.Read("SN7/Settings.xml");
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    EXPECT_TRUE(Lines().empty());
    Add("1", "1");
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    // Once the file is back, the list that never held its target does not
    // replace it.
    space.Write("SN7/Settings.xml", stored);
    host.ClearLog();
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(host.Of("ReportError"),
              std::vector<std::string>{"ReportError Nothing was written: the target of server 7 was not read (show "
                                       "the page again to read it)."});
    EXPECT_EQ(space.Read("SN7/Settings.xml"), stored);
    // A document without a target: nothing to show, nothing written.
    space.Write("SN7/Settings.xml", "<SensorGroup><Name>System</Name></SensorGroup>");
    EXPECT_EQ(page->Activate(), 0);
    EXPECT_TRUE(Lines().empty());
    Add("1", "1");
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "<SensorGroup><Name>System</Name></SensorGroup>");
}

TEST_F(SystemSetupPageTest, ApplyBeforeActivateWritesNothing) {
    const std::string before = space.Read("SN7/Settings.xml");
    EXPECT_LE(page->Apply(), 0);
    EXPECT_EQ(wf::driver::Click(host.Control(page, kAddButton)), Result::Done);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(space.Read("SN7/Settings.xml"), before);
}

TEST_F(SystemSetupPageTest, DeleteRemovesCalibrationXmlSilentlyAndKeepsTheTarget) {
    space.Write("SN7/Calibration.xml", "<Calibration/>");
    ASSERT_EQ(page->Activate(), 1);
    const std::string settings = space.Read("SN7/Settings.xml");
    host.ClearLog();
    Click(kDeleteButton);
    EXPECT_FALSE(space.Exists("SN7/Calibration.xml"));
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(Lines(), kDefaultLines);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), settings);
    Click(kDeleteButton);  // nothing there: nothing shown
    EXPECT_TRUE(host.log.empty());
}

TEST_F(SystemSetupPageTest, ActivateApplyAndTheButtonsUnderFailures) {
    ASSERT_EQ(page->Activate(), 1);  // the client's handles are made on first use
    ASSERT_EQ(page->Deactivate(), 1);
    zvtest::FaultLoop activate;
    activate.operation = [&] {
        host.ClearLog();
        const zvStatus status = page->Activate();
        page->Deactivate();
        return status;
    };
    activate.check = [&](const zvtest::Fault& fault, zvStatus status) {
        // The station pipe's handle is not examined; every other failure
        // comes back as the platform gave it.
        pagetest::ExpectActivateStatus(fault, status);
        // The lines show the vertices read so far: what Apply would store.
        const std::vector<std::string> lines = Lines();
        ASSERT_LE(lines.size(), kDefaultLines.size());
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), kDefaultLines.begin()));
    };
    EXPECT_GT(activate.Run(), 0);

    ASSERT_EQ(page->Activate(), 1);
    Add("100", "-250");
    ASSERT_EQ(page->Apply(), 1);  // the display keeps a plot of five vertices
    pagetest::SetTarget(server, {});
    const std::string empty = space.Read("SN7/Settings.xml");
    zvtest::FaultLoop apply;
    apply.operation = [&] { return page->Apply(); };
    apply.check = [&](const zvtest::Fault& fault, zvStatus status) {
        // Nothing is written, and the platform's status comes back.
        pagetest::ExpectPageStatus(fault, status);
        EXPECT_EQ(pagetest::Target(server).size(), 0u);
    };
    apply.cleanup = [&] { space.Write("SN7/Settings.xml", empty); };
    EXPECT_GT(apply.Run(), 0);

    Click(kDeleteButton);  // the storage handle, made on first use
    zvtest::FaultLoop remove;
    remove.operation = [&] {
        space.Write("SN7/Calibration.xml", "<Calibration/>");
        wf::driver::Click(host.Control(page, kDeleteButton));
        return 1;
    };
    remove.check = [&](const zvtest::Fault&, zvStatus) {
        EXPECT_TRUE(space.Exists("SN7/Calibration.xml"));
        EXPECT_FALSE(host.Of("ReportError").empty());
    };
    remove.cleanup = [&] { host.ClearLog(); };
    EXPECT_GT(remove.Run(), 0);
}

TEST_F(SystemSetupPageTest, AVertexTheListCannotTakeOrGiveUpStaysAsListed) {
    ASSERT_EQ(page->Activate(), 1);
    zv::testing::Scope scope;
    host.ClearLog();
    zv::testing::FailCall("zvArrayListAdd", 1, -77);
    Add("5", "5");
    EXPECT_EQ(Lines(), kDefaultLines);
    EXPECT_TRUE(host.log.empty());
    zv::testing::FailCall("zvArrayListRemove", 1, -77);
    Remove();
    EXPECT_EQ(Lines(), kDefaultLines);
    EXPECT_TRUE(host.log.empty());
    int32_t modified = 0;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 0);
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(pagetest::Target(server).size(), 4u);
}

}  // namespace
