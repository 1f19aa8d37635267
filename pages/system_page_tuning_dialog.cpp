// Dialog template 1024: System Tuning.
#include "pages/dialog_templates.h"

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::Static, "Sensor", wf::kStyleNone, {10, 10, 40, 10}, {}},
    {1014, ControlKind::DropDownCombo, "", wf::kStyleSorted, {56, 8, 120, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "Configured parameters are only taken into effect after Play is pressed.",
     wf::kStyleNone, {10, 30, 280, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Incremental Adjustment", wf::kStyleCenter, {190, 48, 90, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Rotate", wf::kStyleNone, {10, 64, 50, 10}, {}},
    {1048, ControlKind::Edit, "", wf::kStyleNone, {62, 62, 80, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[radian]", wf::kStyleNone, {146, 64, 40, 10}, {}},
    {1016, ControlKind::PushButton, "-", wf::kStyleNone, {204, 62, 24, 14}, {}},
    {1050, ControlKind::PushButton, "+", wf::kStyleNone, {242, 62, 24, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "Y Translate", wf::kStyleNone, {10, 82, 50, 10}, {}},
    {1049, ControlKind::Edit, "", wf::kStyleNone, {62, 80, 80, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[inch]", wf::kStyleNone, {146, 82, 40, 10}, {}},
    {1017, ControlKind::PushButton, "-", wf::kStyleNone, {204, 80, 24, 14}, {}},
    {1020, ControlKind::PushButton, "+", wf::kStyleNone, {242, 80, 24, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "X Translate", wf::kStyleNone, {10, 100, 50, 10}, {}},
    {1035, ControlKind::Edit, "", wf::kStyleNone, {62, 98, 80, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[inch]", wf::kStyleNone, {146, 100, 40, 10}, {}},
    {1018, ControlKind::PushButton, "-", wf::kStyleNone, {204, 98, 24, 14}, {}},
    {1019, ControlKind::PushButton, "+", wf::kStyleNone, {242, 98, 24, 14}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageTuningDialog{1024, "", {0, 0, 300, 124}, kControls};
