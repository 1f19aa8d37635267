#include "pages/torvane_app.h"

#include "pages/dialog_templates.h"

bool CTorvaneApp::InitInstance() { return CWinApp::InitInstance(); }

std::span<const wf::DialogTemplate* const> PageDialogTemplates() {
    static const wf::DialogTemplate* const templates[] = {
        &kSystemPageConfigDialog,      &kSystemPageCalibrationDialog, &kSensorPageFreeRunningDialog,
        &kSensorPageSetupDialog,       &kSensorPageClippingDialog,    &kSystemPageSetupDialog,
        &kSystemPageTuningDialog,      &kSystemPageRunDialog,         &kSystemPageWebDialog,
        &kSystemPageFreeRunningDialog, &kSensorPageVideoDialog,       &kSystemPageCaptureDialog,
    };
    return templates;
}

wf::ModuleState* TorvaneModuleState() {
    static CTorvaneApp app;
    static wf::ModuleState state("Torvane", PageDialogTemplates(), &app);
    return &state;
}
