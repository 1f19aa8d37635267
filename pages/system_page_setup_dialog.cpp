// The dialog template of the System Setup page.
#include "pages/dialog_templates.h"
#include "pages/system_page_setup_ids.h"
#include "plugin/page_ids.h"

using namespace system_setup;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Performs system calibration. Stores coefficients in calibration file on server.",
     wf::kStyleNone,
     {10, 8, 280, 18},
     {}},
    {wf::kStaticId, ControlKind::GroupBox, "Calibration Target Definition", wf::kStyleNone, {10, 30, 280, 156}, {}},
    {wf::kStaticId,
     ControlKind::Static,
     "Vertex:          X,            Y      [mils]",
     wf::kStyleNone,
     {20, 44, 180, 10},
     {}},
    {kVertexList, ControlKind::ListBox, "", wf::kStyleNone, {20, 56, 180, 84}, {}},
    {wf::kStaticId, ControlKind::Static, "X:", wf::kStyleNone, {20, 148, 12, 10}, {}},
    {kXEdit, ControlKind::Edit, "", wf::kStyleNone, {34, 146, 60, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {98, 148, 30, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Y:", wf::kStyleNone, {20, 166, 12, 10}, {}},
    {kYEdit, ControlKind::Edit, "", wf::kStyleNone, {34, 164, 60, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {98, 166, 30, 10}, {}},
    {kAddButton, ControlKind::PushButton, "Add Vertex", wf::kStyleNone, {140, 146, 70, 14}, {}},
    {kRemoveButton, ControlKind::PushButton, "Remove Vertex", wf::kStyleNone, {140, 164, 70, 14}, {}},
    {wf::kStaticId, ControlKind::GroupBox, "Calibration File", wf::kStyleNone, {10, 192, 280, 34}, {}},
    {kDeleteButton, ControlKind::PushButton, "Delete", wf::kStyleNone, {20, 206, 60, 14}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageSetupDialog{kPageSystemSetup, "", {0, 0, 300, 236}, kControls};
