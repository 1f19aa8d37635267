// Dialog template 1020: System Capture.
#include "pages/dialog_templates.h"

namespace {
using wf::ControlKind;
constexpr const char* kModes[] = {"Free", "Calibration", "Detection", "Web"};
constexpr const char* kSources[] = {"Imager", "FPGA", "Sensor", "Server"};
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::Static, "Records data for diagnostic analysis by Qavo Technologies",
     wf::kStyleNone, {10, 10, 280, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Select a mode for data capture", wf::kStyleNone, {10, 30, 280, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Mode:", wf::kStyleNone, {20, 46, 50, 10}, {}},
    {1031, ControlKind::DropDownCombo, "", wf::kStyleNone, {72, 44, 100, 14}, kModes},
    {wf::kStaticId, ControlKind::Static, "Select an interception point for data capture", wf::kStyleNone,
     {10, 66, 280, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Source:", wf::kStyleNone, {20, 82, 50, 10}, {}},
    {1032, ControlKind::DropDownCombo, "", wf::kStyleNone, {72, 80, 100, 14}, kSources},
    {wf::kStaticId, ControlKind::Static, "Specify a data reduction factor (integer)", wf::kStyleNone,
     {10, 102, 280, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Reduction:", wf::kStyleNone, {20, 118, 50, 10}, {}},
    {1033, ControlKind::Edit, "", wf::kStyleNone, {72, 116, 60, 14}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageCaptureDialog{1020, "", {0, 0, 300, 140}, kControls};
