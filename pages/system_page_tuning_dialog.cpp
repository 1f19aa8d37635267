// The dialog template of the System Tuning page.
#include "pages/dialog_templates.h"
#include "pages/system_page_tuning_ids.h"
#include "plugin/page_ids.h"

using namespace system_tuning;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::Static, "Sensor", wf::kStyleNone, {10, 10, 40, 10}, {}},
    {kSensorList, ControlKind::DropDownCombo, "", wf::kStyleSorted, {56, 8, 120, 14}, {}},
    {wf::kStaticId,
     ControlKind::Static,
     "Configured parameters are only taken into effect after Play is pressed.",
     wf::kStyleNone,
     {10, 30, 280, 10},
     {}},
    {wf::kStaticId, ControlKind::Static, "Incremental Adjustment", wf::kStyleCenter, {190, 48, 90, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Rotate", wf::kStyleNone, {10, 64, 50, 10}, {}},
    {kRotateEdit, ControlKind::Edit, "", wf::kStyleNone, {62, 62, 80, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[radian]", wf::kStyleNone, {146, 64, 40, 10}, {}},
    {kRotateDown, ControlKind::PushButton, "-", wf::kStyleNone, {204, 62, 24, 14}, {}},
    {kRotateUp, ControlKind::PushButton, "+", wf::kStyleNone, {242, 62, 24, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "Y Translate", wf::kStyleNone, {10, 82, 50, 10}, {}},
    {kYEdit, ControlKind::Edit, "", wf::kStyleNone, {62, 80, 80, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[inch]", wf::kStyleNone, {146, 82, 40, 10}, {}},
    {kYDown, ControlKind::PushButton, "-", wf::kStyleNone, {204, 80, 24, 14}, {}},
    {kYUp, ControlKind::PushButton, "+", wf::kStyleNone, {242, 80, 24, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "X Translate", wf::kStyleNone, {10, 100, 50, 10}, {}},
    {kXEdit, ControlKind::Edit, "", wf::kStyleNone, {62, 98, 80, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[inch]", wf::kStyleNone, {146, 100, 40, 10}, {}},
    {kXDown, ControlKind::PushButton, "-", wf::kStyleNone, {204, 98, 24, 14}, {}},
    {kXUp, ControlKind::PushButton, "+", wf::kStyleNone, {242, 98, 24, 14}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageTuningDialog{kPageSystemTuning, "", {0, 0, 300, 124}, kControls};
