// The dialog templates of the pages: the library's resources. Each is
// constant data in its own file beside its page; the template number is the
// page identifier.
#ifndef TORVANE_PAGES_DIALOG_TEMPLATES_H
#define TORVANE_PAGES_DIALOG_TEMPLATES_H

#include <span>

#include "winframe/winframe.hpp"

extern const wf::DialogTemplate kSystemPageConfigDialog;
extern const wf::DialogTemplate kSystemPageCalibrationDialog;
extern const wf::DialogTemplate kSensorPageFreeRunningDialog;
extern const wf::DialogTemplate kSensorPageSetupDialog;
extern const wf::DialogTemplate kSensorPageClippingDialog;
extern const wf::DialogTemplate kSystemPageSetupDialog;
extern const wf::DialogTemplate kSystemPageTuningDialog;
extern const wf::DialogTemplate kSystemPageRunDialog;
extern const wf::DialogTemplate kSystemPageWebDialog;
extern const wf::DialogTemplate kSystemPageFreeRunningDialog;
extern const wf::DialogTemplate kSensorPageVideoDialog;
extern const wf::DialogTemplate kSystemPageCaptureDialog;

// Every template of the library.
std::span<const wf::DialogTemplate* const> PageDialogTemplates();

#endif
