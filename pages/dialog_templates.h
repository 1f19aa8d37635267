// The dialog templates of the pages: the library's resources. Each is
// constant data in its own file beside its page; the template number is the
// page identifier.
#ifndef TORVANE_PAGES_DIALOG_TEMPLATES_H
#define TORVANE_PAGES_DIALOG_TEMPLATES_H

#include <span>

#include "winframe/winframe.hpp"

extern const wf::DialogTemplate kSystemPageConfigDialog;       // 1022
extern const wf::DialogTemplate kSystemPageCalibrationDialog;  // 1013
extern const wf::DialogTemplate kSensorPageFreeRunningDialog;  // 1019
extern const wf::DialogTemplate kSensorPageSetupDialog;        // 1002
extern const wf::DialogTemplate kSensorPageClippingDialog;     // 1021
extern const wf::DialogTemplate kSystemPageSetupDialog;        // 1018
extern const wf::DialogTemplate kSystemPageTuningDialog;       // 1024
extern const wf::DialogTemplate kSystemPageRunDialog;          // 1015
extern const wf::DialogTemplate kSystemPageWebDialog;          // 1023
extern const wf::DialogTemplate kSystemPageFreeRunningDialog;  // 1014
extern const wf::DialogTemplate kSensorPageVideoDialog;        // 1017
extern const wf::DialogTemplate kSystemPageCaptureDialog;      // 1020

// Every template of the library.
std::span<const wf::DialogTemplate* const> PageDialogTemplates();

#endif
