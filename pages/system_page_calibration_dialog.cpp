// The dialog template of the System Calibration page.
#include "pages/dialog_templates.h"
#include "pages/system_page_calibration_ids.h"
#include "plugin/page_ids.h"

using namespace system_calibration;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Follow these steps to perform system calibration:",
     wf::kStyleNone,
     {10, 10, 280, 10},
     {}},
    {wf::kStaticId,
     ControlKind::Static,
     "1: Make sure sensor mapping and orientation is correct.",
     wf::kStyleNone,
     {20, 26, 270, 10},
     {}},
    {wf::kStaticId,
     ControlKind::Static,
     "2: Place calibration target in scanner frame.",
     wf::kStyleNone,
     {20, 40, 270, 10},
     {}},
    {wf::kStaticId,
     ControlKind::Static,
     "3: Hit Play button to run the system.",
     wf::kStyleNone,
     {20, 54, 270, 10},
     {}},
    {wf::kStaticId,
     ControlKind::Static,
     "4: Wait for confirmation of completion.",
     wf::kStyleNone,
     {20, 68, 270, 10},
     {}},
    {wf::kStaticId, ControlKind::Static, "5: Hit Stop button.", wf::kStyleNone, {20, 82, 270, 10}, {}},
    {kDeleteButton, ControlKind::PushButton, "Delete Calibration", wf::kStyleNone, {10, 104, 90, 16}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageCalibrationDialog{kPageSystemCalibration, "", {0, 0, 300, 130}, kControls};
