// A plug-in as the host loads it: its own module state, template and
// application object, its dialogs made under its guard.
#include <vector>

#include "winframe/winframe.hpp"

namespace {

enum : int32_t { kModuleTemplate = 700, kHello = 1 };

const wf::ControlTemplate kControls[] = {
    {.id = kHello, .kind = wf::ControlKind::PushButton, .text = "Hello"},
};
const wf::DialogTemplate kTemplate{kModuleTemplate, "Module page", {0, 0, 80, 40}, kControls};
const wf::DialogTemplate* const kTemplates[] = {&kTemplate};

class ModuleApp : public CWinApp {
public:
    bool InitInstance() override {
        ++starts;
        return CWinApp::InitInstance();
    }
    int starts = 0;
};

ModuleApp app;
wf::ModuleState module("module", kTemplates, &app);

class ModuleDialog : public CDialog {
    WF_DECLARE_DYNAMIC(ModuleDialog)

protected:
    void OnHello() { MessageBox("Hello from the module"); }
    WF_DECLARE_MESSAGE_MAP()
};

WF_IMPLEMENT_DYNAMIC(ModuleDialog, CDialog)
WF_BEGIN_MESSAGE_MAP(ModuleDialog, CDialog)
WF_ON_CLICKED(kHello, &ModuleDialog::OnHello)
WF_END_MESSAGE_MAP()

std::vector<ModuleDialog*> dialogs;

}  // namespace

extern "C" __attribute__((visibility("default"))) wf::WindowHandle OpenModuleDialog(wf::WindowHandle parent) {
    wf::ModuleGuard guard(&module);
    auto* dialog = new ModuleDialog;
    if (!dialog->Create(kModuleTemplate, wf::Window::FromHandle(parent))) {
        delete dialog;
        return nullptr;
    }
    dialogs.push_back(dialog);
    return dialog->Handle();
}

extern "C" __attribute__((visibility("default"))) int ModuleStarts() { return app.starts; }

extern "C" __attribute__((visibility("default"))) void CloseModuleDialogs() {
    wf::ModuleGuard guard(&module);
    for (ModuleDialog* dialog : dialogs) delete dialog;
    dialogs.clear();
}
