// Dialog template 1014: System Free Running.
#include "pages/dialog_templates.h"

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::Static, "Ignores encoder, outputs range data from all sensors in the system.",
     wf::kStyleNone, {10, 10, 280, 10}, {}},
    {wf::kStaticId, ControlKind::GroupBox, "Settings", wf::kStyleNone, {10, 28, 280, 54}, {}},
    {wf::kStaticId, ControlKind::Static, "Output Batch Count", wf::kStyleNone, {20, 44, 90, 10}, {}},
    {1026, ControlKind::Edit, "", wf::kStyleNone, {112, 42, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[range sets per packet]", wf::kStyleNone, {174, 44, 110, 10}, {}},
    {1034, ControlKind::CheckBox, "Transmit Input State", wf::kStyleNone, {20, 64, 120, 10}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageFreeRunningDialog{1014, "", {0, 0, 300, 92}, kControls};
