// System Tuning (1024, "Fine Calibration"): the sensors of Calibration.xml,
// their coefficients stored as shown at every change and step, and the
// state without a calibration.
#include <gtest/gtest.h>

#include <cstdio>

#include "page_test.hpp"
#include "pages/system_page_setup_ids.h"
#include "pages/system_page_tuning_ids.h"
#include "plugin/calibration.h"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"
#include "support/fault_loop.hpp"

namespace {

using namespace system_tuning;
using wf::driver::Result;
constexpr char kNoCalibration[] = "Please perform Calibration first.";

struct Entry {
    int32_t serial;
    double x, y, t;
};

// Server 7 without a Settings.xml.
struct TuningPageTest : pagetest::PageTest {
    TuningPageTest() : PageTest(pagetest::PageSetup(kPageSystemTuning).Sensors(0)) {}

    void Write(const std::vector<Entry>& entries) const {
        std::string text = "<Calibration>\n";
        for (const Entry& e : entries) {
            char element[256];
            std::snprintf(element, sizeof element,
                          "  <Sensor><SerialNumber>%d</SerialNumber><X>%.10f</X><Y>%.10f</Y><T>%.10f</T></Sensor>\n",
                          e.serial, e.x, e.y, e.t);
            text += element;
        }
        space.Write("SN7/Calibration.xml", text + "</Calibration>\n");
    }
    std::vector<Entry> Read() const {
        CalibrationSet* set = nullptr;
        std::vector<Entry> entries;
        EXPECT_GT(LoadCalibration("\\SN7\\Calibration.xml", 0, &set), 0);
        if (set == nullptr || set->present == 0) {
            FreeCalibration(set);
            return entries;
        }
        for (int32_t i = 0; i < zvArrayListCount(set->entries); ++i) {
            const auto* e = static_cast<const CalibrationEntry*>(zvArrayListAt(set->entries, i));
            entries.push_back({e->serialNumber, e->x, e->y, e->t});
        }
        FreeCalibration(set);
        return entries;
    }
    // Writes of Calibration.xml during `action`.
    size_t WritesDuring(const std::function<void()>& action) const {
        zv::testing::Scope scope;
        zv::testing::JournalStart();
        action();
        zv::testing::JournalStop();
        size_t writes = 0;
        for (const std::string& entry : zv::testing::JournalOf("zvFileInit"))
            writes += entry == "zvFileInit \\SN7\\Calibration.xml 0" ? 1 : 0;
        return writes;
    }
};

std::vector<Entry> Twelve() {
    std::vector<Entry> entries;
    for (int32_t i = 0; i < 12; ++i) entries.push_back({1000 + i, 0.5 * i, -0.25 * i, 0.001 * i});
    return entries;
}

TEST_F(TuningPageTest, WithoutCalibrationEverythingIsDisabled) {
    EXPECT_EQ(PageName(), "Fine Calibration");
    EXPECT_EQ(ClassName(), "CSystemPageTuning");
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode client Free", "mode SN7 Free"}));
    const wf::ControlState selector = State(kSensorList);
    EXPECT_EQ(selector.items, std::vector<std::string>{kNoCalibration});
    EXPECT_EQ(selector.selection, 0);
    EXPECT_EQ(selector.text, kNoCalibration);
    for (int32_t id : {kRotateEdit, kYEdit, kXEdit}) EXPECT_EQ(Text(id), "") << id;
    for (int32_t id : kAllControls) EXPECT_FALSE(State(id).enabled) << id;
    EXPECT_FALSE(space.Exists("SN7/Calibration.xml"));
    EXPECT_EQ(wf::driver::Click(host.Control(page, kRotateUp)), Result::Disabled);
}

TEST_F(TuningPageTest, TwelveEntriesAreListedInEntryOrderAndTheFirstIsShown) {
    Write(Twelve());
    ASSERT_EQ(page->Activate(), 1);
    const wf::ControlState selector = State(kSensorList);
    ASSERT_EQ(selector.items.size(), 12u);
    for (int32_t i = 0; i < 12; ++i) {
        char item[32];
        std::snprintf(item, sizeof item, "%02d: S/N %d", i, 1000 + i);
        EXPECT_EQ(selector.items[i], item);
    }
    EXPECT_EQ(selector.selection, 0);
    for (int32_t id : kAllControls) EXPECT_TRUE(State(id).enabled) << id;
    Select(kSensorList, 11);
    EXPECT_EQ(Text(kRotateEdit), "0.01100000");
    EXPECT_EQ(Text(kXEdit), "5.50000000");
    EXPECT_EQ(Text(kYEdit), "-2.75000000");
}

TEST_F(TuningPageTest, EachStepChangesOneCoefficientAsShownAndStoresTheOthersAsShown) {
    struct Case {
        int32_t button;
        int32_t edit;
        const char* shown;
        Entry stored;
    };
    // Entry 1003 of (1.234567891, 2.5, 0.1234567891): every value is
    // shown, and so stored, with 8 decimals.
    for (const Case& c : {Case{kRotateUp, kRotateEdit, "0.12445679", {1003, 1.23456789, 2.5, 0.12445679}},
                          Case{kRotateDown, kRotateEdit, "0.12245679", {1003, 1.23456789, 2.5, 0.12245679}},
                          Case{kYUp, kYEdit, "2.55000000", {1003, 1.23456789, 2.55, 0.12345679}},
                          Case{kYDown, kYEdit, "2.45000000", {1003, 1.23456789, 2.45, 0.12345679}},
                          Case{kXUp, kXEdit, "1.28456789", {1003, 1.28456789, 2.5, 0.12345679}},
                          Case{kXDown, kXEdit, "1.18456789", {1003, 1.18456789, 2.5, 0.12345679}}}) {
        SCOPED_TRACE(c.button);
        Write({{1002, 9.0, 9.0, 9.0}, {1003, 1.234567891, 2.5, 0.1234567891}});
        ASSERT_EQ(page->Activate(), 1);
        Select(kSensorList, 1);
        EXPECT_GT(WritesDuring([&] { Click(c.button); }), 0u);
        EXPECT_EQ(Text(c.edit), c.shown);
        const std::vector<Entry> entries = Read();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].x, 9.0);  // the other sensor is left alone
        EXPECT_EQ(entries[1].serial, c.stored.serial);
        EXPECT_EQ(entries[1].x, c.stored.x);
        EXPECT_EQ(entries[1].y, c.stored.y);
        EXPECT_EQ(entries[1].t, c.stored.t);
    }
}

TEST_F(TuningPageTest, TypingStoresAtEveryKeystroke) {
    Write({{1000, 1.0, 2.0, 3.0}});
    ASSERT_EQ(page->Activate(), 1);
    struct Case {
        int32_t edit;
        const char* text;
        size_t writes;  // one for clearing the old text, one per key
        double stored;
    };
    for (const Case& c :
         {Case{kRotateEdit, "1.5e", 5, 1.5}, Case{kRotateEdit, "", 1, 0.0}, Case{kYEdit, "-0.0127", 8, -0.0127},
          Case{kXEdit, "abc", 4, 0.0}, Case{kXEdit, " +2e2x", 7, 200.0}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(WritesDuring([&] { Type(c.edit, c.text); }), c.writes);
        const Entry e = Read().at(0);
        EXPECT_EQ(c.edit == kRotateEdit ? e.t : c.edit == kYEdit ? e.y : e.x, c.stored);
    }
}

TEST_F(TuningPageTest, ActivatingAgainShowsTheSelectedEntryAfresh) {
    Write(Twelve());
    ASSERT_EQ(page->Activate(), 1);
    Select(kSensorList, 4);
    std::vector<Entry> entries = Twelve();
    entries[4].t = 0.75;
    Write(entries);
    ASSERT_EQ(page->Deactivate(), 1);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(State(kSensorList).selection, 4);
    EXPECT_EQ(Text(kRotateEdit), "0.75000000");
}

TEST_F(TuningPageTest, ADeletedCalibrationShowsTheDisabledStateAndAReturningOneIsListedAgain) {
    Write(Twelve());
    ASSERT_EQ(page->Activate(), 1);
    // Deleted through the System Setup page of the same server.
    hostapi::Page* setup = host.OpenPage(kPageSystemSetup, server);
    ASSERT_EQ(wf::driver::Click(host.Control(setup, system_setup::kDeleteButton)), Result::Done);
    ASSERT_FALSE(space.Exists("SN7/Calibration.xml"));
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(State(kSensorList).items, std::vector<std::string>{kNoCalibration});
    for (int32_t id : kAllControls) EXPECT_FALSE(State(id).enabled) << id;
    EXPECT_FALSE(space.Exists("SN7/Calibration.xml"));  // clearing the edits wrote nothing

    Write({{2000, 0, 0, 0}});
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(State(kSensorList).items, std::vector<std::string>{"00: S/N 2000"});
    for (int32_t id : kAllControls) EXPECT_TRUE(State(id).enabled) << id;
}

TEST_F(TuningPageTest, AStorageWithoutTheFileLeavesTheClientsCoefficientsAlone) {
    Write({{1000, 1.0, 2.0, 3.0}});
    ASSERT_EQ(page->Activate(), 1);
    const std::string before = space.Read("SN7/Calibration.xml");
    // The server's storage does not answer: the page shows no calibration,
    // and emptying its edits stores no zeros into the file the client has.
    EXPECT_EQ(WritesDuring([&] {
                  zv::testing::FailCall("zvStorageFileSize", 1, -77);
                  ASSERT_EQ(page->Activate(), 1);
              }),
              0u);
    EXPECT_EQ(State(kSensorList).items, std::vector<std::string>{kNoCalibration});
    EXPECT_EQ(space.Read("SN7/Calibration.xml"), before);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Text(kRotateEdit), "3.00000000");
}

TEST_F(TuningPageTest, AnIndexBeyondAShrunkFileNamesNoEntry) {
    Write(Twelve());
    ASSERT_EQ(page->Activate(), 1);
    Select(kSensorList, 7);
    const std::string shown = Text(kRotateEdit);
    Write({{1000, 1, 1, 1}, {1001, 2, 2, 2}});
    const std::string shrunk = space.Read("SN7/Calibration.xml");
    EXPECT_EQ(WritesDuring([&] { ASSERT_EQ(page->Activate(), 1); }), 0u);
    EXPECT_EQ(WritesDuring([&] { wf::driver::Select(host.Control(page, kSensorList), 9); }), 0u);
    EXPECT_EQ(Text(kRotateEdit), shown);
    EXPECT_EQ(space.Read("SN7/Calibration.xml"), shrunk);
}

TEST_F(TuningPageTest, TextTypedIntoTheSelectorIsIgnored) {
    Write(Twelve());
    ASSERT_EQ(page->Activate(), 1);
    Select(kSensorList, 2);
    const std::string before = space.Read("SN7/Calibration.xml");
    EXPECT_EQ(WritesDuring([&] { Type(kSensorList, "07: S/N 1007"); }), 0u);
    EXPECT_EQ(State(kSensorList).selection, 2);
    EXPECT_EQ(Text(kRotateEdit), "0.00200000");
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Text(kRotateEdit), "0.00200000");  // still entry 2
    EXPECT_EQ(space.Read("SN7/Calibration.xml"), before);
}

TEST_F(TuningPageTest, TwoEntriesWithOneSerialNumberEditTheFirst) {
    Write({{5, 1.0, 1.0, 1.0}, {5, 2.0, 2.0, 2.0}});
    ASSERT_EQ(page->Activate(), 1);
    Select(kSensorList, 1);
    Click(kRotateUp);
    const std::vector<Entry> entries = Read();
    ASSERT_EQ(entries.size(), 2u);
    // Showing entry 1 stored its values, as shown, into the first element;
    // the step went there too. The second element is never written.
    EXPECT_EQ(entries[0].x, 2.0);
    EXPECT_EQ(entries[0].t, 2.001);
    EXPECT_EQ(entries[1].t, 2.0);
    Select(kSensorList, 0);
    EXPECT_EQ(Text(kRotateEdit), "2.00100000");
}

TEST_F(TuningPageTest, ACalibrationWithoutEntriesListsNothing) {
    space.Write("SN7/Calibration.xml", "<Calibration/>");
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_TRUE(State(kSensorList).items.empty());
    EXPECT_EQ(space.Read("SN7/Calibration.xml"), "<Calibration/>");
}

TEST_F(TuningPageTest, ActivateAndEveryControlUnderFailures) {
    // Two entries: every load and store is a few hundred calls, each of
    // which fails in turn.
    Write({{1000, 1.0, 2.0, 3.0}, {1001, 4.0, 5.0, 6.0}});
    ASSERT_EQ(page->Activate(), 1);  // handles made on first use; the list filled
    // The file is always whole: the old one or the new one.
    auto whole = [&](const zvtest::Fault&) { EXPECT_EQ(Read().size(), 2u); };
    // A storage that failed to answer showed the calibration as missing;
    // the next Activate lists the sensors again, so that every run starts
    // alike.
    auto relist = [&] {
        if (State(kSensorList).items.size() == 2u) return;
        EXPECT_EQ(State(kSensorList).items, std::vector<std::string>{kNoCalibration});
        ASSERT_EQ(page->Activate(), 1);
        EXPECT_EQ(State(kSensorList).items.size(), 2u);
    };
    zvtest::FaultLoop activate;
    activate.operation = [&] {
        host.ClearLog();
        return page->Activate();
    };
    activate.check = [&](const zvtest::Fault& fault, zvStatus status) {
        // A storage that does not answer shows the calibration as missing.
        // The values shown are stored as shown: a store that fails (to read
        // or to write the file) is told and ends nothing. Every other
        // failure, of the pipes and of reading the file, comes back as the
        // platform gave it.
        if ((fault.call == "zvClientGetServerHandle" && fault.k > 1) || fault.call == "zvServerGetStorageHandle" ||
            fault.call == "zvStorageFileSize") {
            EXPECT_EQ(status, 1);
        } else if (status == 1) {
            const std::vector<std::string> reports = host.Of("ReportError");
            ASSERT_FALSE(reports.empty());
            EXPECT_NE(reports[0].find(" Calibration.xml of server 7"), std::string::npos) << reports[0];
        } else {
            pagetest::ExpectPassedBack(fault, status);
        }
    };
    activate.verify = whole;
    activate.cleanup = relist;
    EXPECT_GT(activate.Run(), 0);

    // Selecting, typing and stepping share the loads and stores of
    // Activate; one step under failures.
    zvtest::FaultLoop step;
    step.operation = [&] {
        wf::driver::Click(host.Control(page, kRotateUp));
        return 1;
    };
    step.check = [&](const zvtest::Fault&, zvStatus) { EXPECT_TRUE(State(kRotateEdit).enabled); };
    step.verify = whole;
    EXPECT_GT(step.Run(), 0);
}

}  // namespace
