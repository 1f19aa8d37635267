// User events through the driver, and the state of lists, radio groups and
// sliders.
#include <gtest/gtest.h>

#include <sstream>

#include "test_dialog.hpp"

using namespace wftest;
using wf::driver::Result;

namespace {

std::string Describe(wf::WindowHandle dialog) {
    wf::DialogState state;
    if (!wf::Snapshot(dialog, &state)) return "no dialog";
    std::ostringstream out;
    for (const wf::ControlState& c : state.controls) {
        out << c.id << ' ' << wf::KindName(c.kind) << " '" << c.text << "' " << c.enabled << c.visible << c.checked
            << " sel " << c.selection << " pos " << c.position << " [";
        for (const std::string& item : c.items) out << item << ',';
        out << "]\n";
    }
    return out.str();
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = wf::CreateHostWindow("Station");
        wf::ModuleGuard guard(&TestModule());
        ASSERT_TRUE(dialog_.Create(kPage, wf::Window::FromHandle(host_)));
    }
    void TearDown() override { wf::DestroyHostWindow(host_); }
    wf::WindowHandle Control(int32_t id) { return wf::FindControl(dialog_.Handle(), id); }
    std::vector<std::string> TakeLog() { return std::exchange(dialog_.log, {}); }

    wf::WindowHandle host_ = nullptr;
    TestDialog dialog_;
};

TEST_F(Driver, TypingRaisesAChangeForTheClearingAndEachCharacter) {
    EXPECT_EQ(wf::driver::Type(Control(kName), "7é"), Result::Done);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"change name ''", "change name '7'", "change name '7é'"}));
    EXPECT_EQ(wf::driver::Type(Control(kCount), ""), Result::Done);  // nothing to clear, nothing typed
    EXPECT_TRUE(TakeLog().empty());

    // The program's own texts raise changes too, also inside a handler.
    dialog_.onCount = [&] { dialog_.name.SetWindowText(("from " + dialog_.count.GetWindowText()).c_str()); };
    EXPECT_EQ(wf::driver::Type(Control(kCount), "4"), Result::Done);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"change count '4'", "change name 'from 4'"}));

    // A combo takes the text and keeps its selection; no page hears of it.
    dialog_.sensors.SetCurSel(1);
    EXPECT_EQ(wf::driver::Type(Control(kSensors), "z"), Result::Done);
    EXPECT_EQ(dialog_.sensors.GetWindowText(), "z");
    EXPECT_EQ(dialog_.sensors.GetCurSel(), 1);
    EXPECT_TRUE(TakeLog().empty());
}

TEST_F(Driver, ClicksBlursSelectionsAndSlides) {
    EXPECT_EQ(wf::driver::Blur(Control(kName)), Result::Done);
    EXPECT_EQ(wf::driver::Blur(Control(kApply)), Result::Done);  // nothing mapped, nothing heard
    EXPECT_EQ(wf::driver::Click(Control(kOverlay)), Result::Done);
    EXPECT_EQ(wf::driver::Click(Control(kOverlay)), Result::Done);
    EXPECT_EQ(wf::driver::Select(Control(kModes), 1), Result::Done);
    EXPECT_EQ(dialog_.modes.GetWindowText(), "Calibration");
    EXPECT_EQ(wf::driver::Select(Control(kSensors), 2), Result::Done);
    dialog_.lines.AddString("line");
    EXPECT_EQ(wf::driver::Select(Control(kLines), 0), Result::Done);
    dialog_.level.SetRange(0, 255);
    EXPECT_EQ(wf::driver::Slide(Control(kLevel), 300), Result::Done);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"killfocus name", "overlay 1", "overlay 0", "select modes 1",
                                                   "select sensors 'C'", "select lines 0",
                                                   "released " + std::to_string(kLevel) + " at 255 result 0"}));

    // The program's own selections and positions raise nothing.
    dialog_.modes.SetCurSel(2);
    dialog_.sensors.SetCurSel(0);
    dialog_.level.SetPos(3);
    dialog_.overlay.SetCheck(1);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(dialog_.sensors.GetWindowText(), "a");
}

TEST_F(Driver, RefusesWhatNoUserCouldDo) {
    wf::DialogState state;
    ASSERT_TRUE(wf::Snapshot(dialog_.Handle(), &state));
    const wf::WindowHandle label = state.controls[0].handle;
    const std::string before = Describe(dialog_.Handle());
    struct Case {
        const char* what;
        std::function<Result()> event;
        Result expected;
    };
    const Case cases[] = {
        {"no window", [] { return wf::driver::Click(nullptr); }, Result::NoWindow},
        {"the dialog itself", [&] { return wf::driver::Click(dialog_.Handle()); }, Result::NoWindow},
        {"click an edit", [&] { return wf::driver::Click(Control(kName)); }, Result::WrongKind},
        {"type into a list", [&] { return wf::driver::Type(Control(kModes), "x"); }, Result::WrongKind},
        {"select on a button", [&] { return wf::driver::Select(Control(kApply), 0); }, Result::WrongKind},
        {"slide an edit", [&] { return wf::driver::Slide(Control(kName), 1); }, Result::WrongKind},
        {"blur a label", [&] { return wf::driver::Blur(label); }, Result::WrongKind},
        {"disabled button", [&] { return wf::driver::Click(Control(kOff)); }, Result::Disabled},
        {"hidden edit", [&] { return wf::driver::Type(Control(kHiddenEdit), "x"); }, Result::Hidden},
        {"item past the end", [&] { return wf::driver::Select(Control(kModes), 3); }, Result::NoSuchItem},
        {"item before the first", [&] { return wf::driver::Select(Control(kModes), -1); }, Result::NoSuchItem},
        {"empty list", [&] { return wf::driver::Select(Control(kLines), 0); }, Result::NoSuchItem},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.event(), c.expected);
    }

    // Whatever holds the control counts too: its dialog, the host's window.
    dialog_.EnableWindow(false);
    EXPECT_EQ(wf::driver::Click(Control(kApply)), Result::Disabled);
    dialog_.EnableWindow(true);
    wf::Window::FromHandle(host_)->ShowWindow(false);
    EXPECT_EQ(wf::driver::Slide(Control(kLevel), 5), Result::Hidden);
    EXPECT_EQ(Describe(dialog_.Handle()), before);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_STREQ(wf::driver::ResultText(Result::NoSuchItem), "the list has no such item");

    // A handler that disables the edit stops the typing there.
    wf::Window::FromHandle(host_)->ShowWindow(true);
    dialog_.onCount = [&] { dialog_.count.EnableWindow(false); };
    EXPECT_EQ(wf::driver::Type(Control(kCount), "123"), Result::Disabled);
    EXPECT_EQ(dialog_.count.GetWindowText(), "1");
}

TEST_F(Driver, RadioButtonsExcludeOnlyWithinTheirGroup) {
    wf::Button fast, slow, alone;
    ASSERT_TRUE(fast.Attach(Control(kFast)) && slow.Attach(Control(kSlow)) && alone.Attach(Control(kAlone)));
    alone.SetCheck(1);
    EXPECT_EQ(wf::driver::Click(Control(kFast)), Result::Done);
    EXPECT_EQ(wf::driver::Click(Control(kSlow)), Result::Done);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"radio"});
    EXPECT_EQ(fast.GetCheck(), 0);
    EXPECT_EQ(slow.GetCheck(), 1);
    EXPECT_EQ(alone.GetCheck(), 1) << "kAlone opens a group of its own";
    fast.SetCheck(1);  // the program's check affects that button only
    EXPECT_EQ(slow.GetCheck(), 1);

    // A group opened by the dialog's first control, ended by a marked edit.
    TestDialog radios;
    {
        wf::ModuleGuard guard(&TestModule());
        ASSERT_TRUE(radios.Create(kRadios, wf::Window::FromHandle(host_)));
    }
    auto check = [&](int32_t id) { return static_cast<wf::Button*>(radios.GetDlgItem(id))->GetCheck(); };
    static_cast<wf::Button*>(radios.GetDlgItem(kThird))->SetCheck(1);
    EXPECT_EQ(wf::driver::Click(wf::FindControl(radios.Handle(), kSecond)), Result::Done);
    EXPECT_EQ(wf::driver::Click(wf::FindControl(radios.Handle(), kFirst)), Result::Done);
    EXPECT_EQ(check(kFirst), 1);
    EXPECT_EQ(check(kSecond), 0);
    EXPECT_EQ(check(kThird), 1);
}

TEST_F(Driver, ListsKeepOrderSelectionAndBounds) {
    wf::ComboBox& sorted = dialog_.sensors;  // sorted: a, b, C
    EXPECT_EQ(sorted.AddString("B"), 2) << "after the equal b";
    EXPECT_EQ(sorted.AddString("00: S/N 7"), 0);
    EXPECT_EQ(sorted.InsertString(1, "zz"), 1) << "inserted where told";
    EXPECT_EQ(sorted.InsertString(9, "x"), -1);
    EXPECT_EQ(sorted.InsertString(-2, "x"), -1);
    EXPECT_EQ(sorted.SetCurSel(3), 3);
    EXPECT_EQ(sorted.GetWindowText(), "b");
    EXPECT_EQ(sorted.DeleteString(0), 5);  // the selection stays on "b"
    EXPECT_EQ(sorted.GetCurSel(), 2);
    EXPECT_EQ(sorted.DeleteString(5), -1);
    EXPECT_EQ(sorted.GetCount(), 5);
    EXPECT_EQ(sorted.DeleteString(2), 4);  // the selected item
    EXPECT_EQ(sorted.GetCurSel(), -1);
    std::vector<std::string> items;
    for (int32_t i = 0; i < sorted.GetCount(); ++i) items.push_back(sorted.GetLBText(i));
    EXPECT_EQ(items, (std::vector<std::string>{"zz", "a", "B", "C"}));
    EXPECT_EQ(sorted.GetLBText(4), "");
    EXPECT_EQ(sorted.SetCurSel(4), -1);
    EXPECT_EQ(sorted.GetWindowText(), "");

    wf::ListBox& lines = dialog_.lines;  // unsorted: the order added
    for (const char* line : {"        01:    -7500,    4500", "        00:     7500,    4500", "b"})
        lines.AddString(line);
    EXPECT_EQ(lines.GetText(0), "        01:    -7500,    4500");
    EXPECT_EQ(lines.InsertString(-1, "end"), 3);
    EXPECT_EQ(lines.SetCurSel(1), 1);
    EXPECT_EQ(lines.InsertString(0, "first"), 0);
    EXPECT_EQ(lines.GetCurSel(), 2);
    EXPECT_EQ(lines.DeleteString(-1), -1);
    lines.ResetContent();
    EXPECT_EQ(lines.GetCount(), 0);
    EXPECT_EQ(lines.GetCurSel(), -1);

    wf::ComboBox& modes = dialog_.modes;
    EXPECT_EQ(modes.SetCurSel(0), 0);
    modes.SetWindowText("Detection");  // a drop-down list's text is its selection's
    EXPECT_EQ(modes.GetWindowText(), "Free");
    char buffer[3];
    EXPECT_EQ(modes.GetWindowText(buffer, sizeof buffer), 2);
    EXPECT_STREQ(buffer, "Fr");
}

TEST_F(Driver, SlidersKeepPositionAndTicksWithinTheRange) {
    wf::Slider& level = dialog_.level;
    level.SetRange(255, 0);  // the right way round
    EXPECT_EQ(level.GetRangeMin(), 0);
    EXPECT_EQ(level.GetRangeMax(), 255);
    for (int32_t tic : {200, 0, 50, 255, 50}) EXPECT_TRUE(level.SetTic(tic));
    EXPECT_FALSE(level.SetTic(256));
    EXPECT_FALSE(level.SetTic(-1));
    EXPECT_EQ(level.GetTics(), (std::vector<int32_t>{0, 50, 200, 255}));
    level.SetPos(-5);
    EXPECT_EQ(level.GetPos(), 0);
    level.SetPos(200);
    level.SetRange(10, 100);
    EXPECT_EQ(level.GetPos(), 100);
    EXPECT_EQ(level.GetTics(), std::vector<int32_t>{50});
    level.ClearTics();
    EXPECT_TRUE(level.GetTics().empty());
    EXPECT_EQ(wf::driver::Slide(Control(kLevel), 1), Result::Done);
    EXPECT_EQ(level.GetPos(), 10);
}

}  // namespace
