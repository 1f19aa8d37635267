// Dialogs from templates, window lifetimes, message maps, run-time classes,
// module states and message boxes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "test_dialog.hpp"

using namespace wftest;

namespace {

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = wf::testing::LiveWindows();
        host_ = wf::CreateHostWindow("Station");
        ASSERT_NE(host_, nullptr);
    }
    void TearDown() override {
        wf::testing::ClearFaults();
        wf::SetMessageBoxHandler(nullptr);
        wf::DestroyHostWindow(host_);
        EXPECT_EQ(wf::testing::LiveWindows(), baseline_) << "windows or temporary objects left behind";
    }
    wf::Window* Host() { return wf::Window::FromHandle(host_); }

    int64_t baseline_ = 0;
    wf::WindowHandle host_ = nullptr;
};

TEST_F(Framework, CreatesTheDialogAndItsControlsFromTheTemplate) {
    wf::ModuleGuard guard(&TestModule());
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(kPage, Host()));
    EXPECT_EQ(wf::ChildDialogs(host_), std::vector<wf::WindowHandle>{dialog.Handle()});
    EXPECT_EQ(dialog.GetParent()->Handle(), host_);
    EXPECT_EQ(dialog.TemplateId(), kPage);

    wf::DialogState state;
    ASSERT_TRUE(wf::Snapshot(dialog.Handle(), &state));
    EXPECT_EQ(state.caption, "Test page");
    ASSERT_EQ(static_cast<int32_t>(state.controls.size()), PageControlCount());
    EXPECT_EQ(state.controls[0].text, "Sensor name:");
    EXPECT_EQ(state.controls[1].text, "SN1");
    EXPECT_EQ(state.controls[1].rect.width, 60);
    const wf::ControlState& modes = state.controls[9];
    EXPECT_EQ(modes.items, (std::vector<std::string>{"Free", "Calibration", "Detection"}));
    EXPECT_EQ(modes.text, "");  // a drop-down list shows its selection, not its template text
    EXPECT_EQ(state.controls[10].items, (std::vector<std::string>{"a", "b", "C"}));  // sorted style
    EXPECT_FALSE(state.controls[13].visible);
    EXPECT_FALSE(state.controls[14].enabled);
    EXPECT_EQ(state.controls[12].rangeMax, 100);

    // OnInitDialog bound the controls of both classes.
    EXPECT_EQ(dialog.name.Handle(), wf::FindControl(dialog.Handle(), kName));
    EXPECT_EQ(dialog.level.Handle(), wf::FindControl(dialog.Handle(), kLevel));
    EXPECT_EQ(wf::FindControl(dialog.Handle(), wf::kStaticId), nullptr);
}

TEST_F(Framework, RefusedCreationLeavesNoWindow) {
    TestDialog outside;  // the program's module has no templates
    EXPECT_FALSE(outside.Create(kPage, Host()));

    wf::ModuleGuard guard(&TestModule());
    TestDialog dialog;
    EXPECT_FALSE(dialog.Create(kNotRegistered, Host()));
    wf::Window gone;  // its window was destroyed
    ASSERT_TRUE(gone.Attach(wf::CreateHostWindow("gone")));
    wf::DestroyHostWindow(gone.Handle());
    EXPECT_FALSE(dialog.Create(kPage, &gone));

    // Each window the creation makes fails in turn: the dialog, then each control.
    int refused = 0;
    for (int k = 1; k < 100; ++k) {
        SCOPED_TRACE("window " + std::to_string(k));
        wf::testing::FailWindowCreation(k);
        const int64_t before = wf::testing::LiveWindows();
        if (dialog.Create(kPage, Host())) break;
        ++refused;
        EXPECT_EQ(dialog.Handle(), nullptr);
        EXPECT_EQ(dialog.name.Handle(), nullptr);
        EXPECT_TRUE(wf::ChildDialogs(host_).empty());
        EXPECT_EQ(wf::testing::LiveWindows(), before);
    }
    wf::testing::ClearFaults();
    EXPECT_EQ(refused, 1 + PageControlCount());
    EXPECT_FALSE(dialog.Create(kPage, Host())) << "a second window for one object";
    EXPECT_TRUE(dialog.DestroyWindow());
}

TEST_F(Framework, DestroyingEndsHandlesBindingsAndTemporariesForGood) {
    wf::ModuleGuard guard(&TestModule());
    auto dialog = std::make_unique<TestDialog>();
    ASSERT_TRUE(dialog->Create(kPage, Host()));
    const wf::WindowHandle handle = dialog->Handle();
    const wf::WindowHandle slow = wf::FindControl(handle, kSlow);
    wf::Window* temporary = wf::Window::FromHandle(slow);
    EXPECT_EQ(wf::Window::FromHandle(slow), temporary) << "one temporary per window";
    EXPECT_TRUE(temporary->IsKindOf(&wf::Button::classButton));
    EXPECT_STREQ(wf::Window::FromHandle(wf::FindControl(handle, kModes))->GetRuntimeClass()->className, "ComboBox");
    EXPECT_EQ(wf::Window::FromHandle(wf::FindControl(handle, kName)), &dialog->name) << "the bound object";

    // The host destroys its window: the page's windows go with it.
    EXPECT_TRUE(wf::DestroyHostWindow(host_));
    EXPECT_FALSE(wf::IsWindow(handle));
    EXPECT_EQ(dialog->Handle(), nullptr);
    EXPECT_EQ(dialog->name.Handle(), nullptr);
    EXPECT_EQ(wf::Window::FromHandle(slow), nullptr);

    // A dead handle: every call fails and does nothing.
    wf::DialogState state;
    EXPECT_FALSE(wf::Snapshot(handle, &state));
    EXPECT_FALSE(wf::DestroyHostWindow(host_));
    EXPECT_EQ(wf::driver::Click(slow), wf::driver::Result::NoWindow);
    dialog->name.SetWindowText("x");
    EXPECT_EQ(dialog->name.GetWindowText(), "");
    EXPECT_FALSE(dialog->DestroyWindow());
    EXPECT_TRUE(dialog->log.empty());

    // New windows never take an old handle.
    for (int i = 0; i < 50; ++i) {
        wf::WindowHandle fresh = wf::CreateHostWindow("fresh");
        EXPECT_NE(fresh, handle);
        EXPECT_NE(fresh, host_);
        EXPECT_NE(fresh, slow);
        wf::DestroyHostWindow(fresh);
    }

    // Deleting a dialog that still has its window destroys the window.
    host_ = wf::CreateHostWindow("Station");
    ASSERT_TRUE(dialog->Create(kPage, Host()));
    const int64_t withDialog = wf::testing::LiveWindows();
    dialog.reset();
    EXPECT_EQ(wf::testing::LiveWindows(), withDialog - 1 - PageControlCount());
    EXPECT_TRUE(wf::ChildDialogs(host_).empty());
}

TEST_F(Framework, ATemporaryOutlivesTheHandlerThatDestroysItsWindow) {
    wf::ModuleGuard guard(&TestModule());
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(kPage, Host()));
    std::string seen = "unset";
    dialog.onCount = [&] {
        wf::Window* name = dialog.GetDlgItem(kName);
        wf::Window* slow = dialog.GetDlgItem(kSlow);  // a temporary object
        dialog.DestroyWindow();
        seen = name->GetWindowText() + slow->GetWindowText();  // no window: ""
    };
    EXPECT_EQ(wf::driver::Type(wf::FindControl(dialog.Handle(), kCount), "12"), wf::driver::Result::NoWindow);
    EXPECT_EQ(seen, "");
    EXPECT_EQ(dialog.log, std::vector<std::string>{"change count '1'"}) << "typing stopped with the window";
}

TEST_F(Framework, BindsOnlyControlsOfTheObjectsClass) {
    wf::ModuleGuard guard(&TestModule());
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(kPage, Host()));
    struct Case {
        int32_t id;
        wf::Window* object;
        bool binds;
    };
    wf::ComboBox combo;
    wf::Slider slider;
    wf::Window plain;
    wf::StaticText text;
    wf::Edit edit;
    const Case cases[] = {
        {kName, &combo, false}, {kModes, &slider, false}, {kSlow, &plain, true},
        {kApply, &text, false}, {kApply, &edit, false},   {kName, &edit, false},  // kName is bound already
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("control " + std::to_string(c.id));
        EXPECT_EQ(c.object->Attach(wf::FindControl(dialog.Handle(), c.id)), c.binds);
    }
    EXPECT_EQ(plain.Detach(), wf::FindControl(dialog.Handle(), kSlow));
    EXPECT_FALSE(text.Attach(dialog.Handle())) << "a control class on a dialog";
}

TEST_F(Framework, MessageMapsWalkTheClassThenItsBases) {
    wf::ModuleGuard guard(&TestModule());
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(kPage, Host()));
    intptr_t result = 0;
    EXPECT_TRUE(dialog.Dispatch(kOverlay, wf::Notify::Clicked, nullptr, &result));  // the base's entry
    EXPECT_TRUE(dialog.Dispatch(kApply, wf::Notify::Clicked, nullptr, &result));    // the class's own
    EXPECT_FALSE(dialog.Dispatch(kApply, wf::Notify::SelChange, nullptr, &result));
    EXPECT_FALSE(dialog.Dispatch(kSlow, wf::Notify::Clicked, nullptr, &result));
    // The class's handler sets the name; its change handler runs in between.
    EXPECT_EQ(dialog.log, (std::vector<std::string>{"overlay 0", "apply begins", "change name 'SN2'", "apply ends"}));
}

TEST_F(Framework, DialogClassesListWhatTheyMapAndBindWithoutBindingIt) {
    using wf::Notify;
    TestDialog dialog;
    std::vector<std::pair<int32_t, Notify>> mapped;
    for (const wf::MessageEntry& entry : dialog.MessageEntries()) mapped.emplace_back(entry.id, entry.code);
    // The class's own entries, then its base's.
    EXPECT_EQ(mapped, (std::vector<std::pair<int32_t, Notify>>{{kApply, Notify::Clicked},
                                                               {kModes, Notify::SelChange},
                                                               {kSensors, Notify::SelChange},
                                                               {kLines, Notify::SelChange},
                                                               {kFast, Notify::Clicked},
                                                               {kLevel, Notify::ReleasedCapture},
                                                               {kName, Notify::EditChange},
                                                               {kCount, Notify::EditChange},
                                                               {kName, Notify::EditKillFocus},
                                                               {kApply, Notify::Clicked},
                                                               {kOverlay, Notify::Clicked}}));

    wf::ModuleGuard guard(&TestModule());
    ASSERT_TRUE(dialog.Create(kPage, Host()));
    std::vector<int32_t> bound;
    const std::vector<wf::ControlBinding> bindings = dialog.Bindings();
    for (const wf::ControlBinding& binding : bindings) bound.push_back(binding.id);
    EXPECT_EQ(bound, (std::vector<int32_t>{kName, kCount, kApply, kOverlay, kModes, kSensors, kLines, kLevel}));
    EXPECT_EQ(bindings[4].control, &dialog.modes);
    // Listing them left the bindings as they were.
    EXPECT_EQ(dialog.modes.Handle(), wf::FindControl(dialog.Handle(), kModes));

    // What each kind raises, as the driver raises it.
    EXPECT_TRUE(wf::Raises(wf::ControlKind::CheckBox, Notify::Clicked));
    EXPECT_TRUE(wf::Raises(wf::ControlKind::Edit, Notify::EditKillFocus));
    EXPECT_TRUE(wf::Raises(wf::ControlKind::DropDownCombo, Notify::SelChange));
    EXPECT_FALSE(wf::Raises(wf::ControlKind::DropDownCombo, Notify::EditChange));
    EXPECT_FALSE(wf::Raises(wf::ControlKind::Static, Notify::Clicked));
    EXPECT_FALSE(wf::Raises(wf::ControlKind::Slider, Notify::SelChange));
}

TEST_F(Framework, RunTimeClassesNameEachClass) {
    TestDialog dialog;
    std::vector<std::string> chain;
    for (const wf::RuntimeClass* cls = dialog.GetRuntimeClass(); cls; cls = cls->base) chain.push_back(cls->className);
    EXPECT_EQ(chain, (std::vector<std::string>{"TestDialog", "BaseDialog", "CDialog", "Window", "Object"}));
    EXPECT_TRUE(dialog.IsKindOf(WF_RUNTIME_CLASS(CDialog)));
    EXPECT_FALSE(dialog.IsKindOf(&wf::Edit::classEdit));
    EXPECT_FALSE(dialog.IsKindOf(nullptr));
    EXPECT_STREQ(dialog.level.GetRuntimeClass()->className, "Slider");
    EXPECT_FALSE(WF_RUNTIME_CLASS(CDialog)->IsDerivedFrom(WF_RUNTIME_CLASS(BaseDialog)));
}

TEST_F(Framework, ModuleGuardsNestAndStartTheApplicationOnce) {
    class CountingApp : public CWinApp {
    public:
        bool InitInstance() override {
            ++starts;
            return true;
        }
        int starts = 0;
    } app;
    wf::ModuleState a("a", {}, &app);
    wf::ModuleState b("b", {});
    EXPECT_EQ(wf::CurrentModuleState(), wf::ProgramModuleState());
    {
        wf::ModuleGuard first(&a);
        EXPECT_EQ(app.starts, 1);
        {
            wf::ModuleGuard second(&b);
            EXPECT_EQ(wf::CurrentModuleState(), &b);
            wf::ModuleGuard third(&a);
            EXPECT_EQ(wf::CurrentModuleState(), &a);
        }
        EXPECT_EQ(wf::CurrentModuleState(), &a);
    }
    EXPECT_EQ(wf::CurrentModuleState(), wf::ProgramModuleState());
    wf::ModuleGuard again(&a);
    EXPECT_EQ(app.starts, 1);
}

TEST_F(Framework, MessageBoxesGoToTheHostWithTheModulesCaption) {
    // Without a handler the first button answers.
    wf::Window* host = Host();
    EXPECT_EQ(host->MessageBox("?", nullptr, wf::kMbYesNo), wf::kIdYes);
    EXPECT_EQ(host->MessageBox("?", nullptr, wf::kMbOkCancel), wf::kIdOk);

    std::vector<wf::MessageBoxRequest> boxes;
    wf::SetMessageBoxHandler([&](const wf::MessageBoxRequest& request) {
        boxes.push_back(request);
        return wf::kIdCancel;
    });
    EXPECT_EQ(host->MessageBox("Invalid number of sensors entered!"), wf::kIdCancel);
    EXPECT_EQ(host->MessageBox("text", "Own caption", wf::kMbOkCancel), wf::kIdCancel);
    CWinApp unnamed;
    wf::ModuleState plain("plain module", {}, &unnamed);
    {
        wf::ModuleGuard guard(&plain);
        host->MessageBox("text");
    }
    {
        wf::ModuleGuard guard(&TestModule());
        host->MessageBox("text");
    }
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].caption, wf::ProgramModuleState()->Name());
    EXPECT_EQ(boxes[0].text, "Invalid number of sensors entered!");
    EXPECT_EQ(boxes[0].owner, host_);
    EXPECT_EQ(boxes[1].caption, "Own caption");
    EXPECT_EQ(boxes[1].type, wf::kMbOkCancel);
    EXPECT_EQ(boxes[2].caption, "plain module");
    EXPECT_EQ(boxes[3].caption, "Station Setup");
}

// The host and a plug-in it loads see one registry: the plug-in's dialog is
// the host's window's child, driven from the host, and its handlers run
// with the plug-in's module current.
TEST_F(Framework, APluginLoadedLaterSharesTheWindows) {
    void* library = dlopen(TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto open = reinterpret_cast<wf::WindowHandle (*)(wf::WindowHandle)>(dlsym(library, "OpenModuleDialog"));
    auto starts = reinterpret_cast<int (*)()>(dlsym(library, "ModuleStarts"));
    auto close = reinterpret_cast<void (*)()>(dlsym(library, "CloseModuleDialogs"));
    ASSERT_TRUE(open && starts && close);

    TestDialog dialog;
    EXPECT_FALSE(dialog.Create(700, Host())) << "the plug-in's template is not the program's";
    const wf::WindowHandle page = open(host_);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(starts(), 1);
    EXPECT_EQ(wf::ChildDialogs(host_).front(), page);
    EXPECT_STREQ(wf::Window::FromHandle(page)->GetRuntimeClass()->className, "ModuleDialog");

    std::string caption;
    wf::SetMessageBoxHandler([&](const wf::MessageBoxRequest& request) {
        caption = request.caption;
        return wf::kIdOk;
    });
    EXPECT_EQ(wf::driver::Click(wf::FindControl(page, 1)), wf::driver::Result::Done);
    EXPECT_EQ(caption, "module");
    close();
    EXPECT_TRUE(wf::ChildDialogs(host_).empty());
    dlclose(library);
}

}  // namespace
