// The dialog template of the System Capture page.
#include "pages/dialog_templates.h"
#include "pages/system_page_capture_ids.h"
#include "plugin/page_ids.h"

using namespace system_capture;

namespace {
using wf::ControlKind;
constexpr const char* kSources[] = {"Imager", "FPGA", "Sensor", "Server"};
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Records data for diagnostic analysis by Qavo Technologies",
     wf::kStyleNone,
     {10, 10, 280, 10},
     {}},
    {wf::kStaticId, ControlKind::Static, "Select a mode for data capture", wf::kStyleNone, {10, 30, 280, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Mode:", wf::kStyleNone, {20, 46, 50, 10}, {}},
    {kModeList, ControlKind::DropDownCombo, "", wf::kStyleNone, {72, 44, 100, 14}, kCaptureModes},
    {wf::kStaticId,
     ControlKind::Static,
     "Select an interception point for data capture",
     wf::kStyleNone,
     {10, 66, 280, 10},
     {}},
    {wf::kStaticId, ControlKind::Static, "Source:", wf::kStyleNone, {20, 82, 50, 10}, {}},
    {kSourceList, ControlKind::DropDownCombo, "", wf::kStyleNone, {72, 80, 100, 14}, kSources},
    {wf::kStaticId,
     ControlKind::Static,
     "Specify a data reduction factor (integer)",
     wf::kStyleNone,
     {10, 102, 280, 10},
     {}},
    {wf::kStaticId, ControlKind::Static, "Reduction:", wf::kStyleNone, {20, 118, 50, 10}, {}},
    {kReductionEdit, ControlKind::Edit, "", wf::kStyleNone, {72, 116, 60, 14}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageCaptureDialog{kPageSystemCapture, "", {0, 0, 300, 140}, kControls};
