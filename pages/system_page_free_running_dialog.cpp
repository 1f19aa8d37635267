// The dialog template of the System Free Running page.
#include "pages/dialog_templates.h"
#include "pages/system_page_free_running_ids.h"
#include "plugin/page_ids.h"

using namespace system_free_running;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Ignores encoder, outputs range data from all sensors in the system.",
     wf::kStyleNone,
     {10, 10, 280, 10},
     {}},
    {wf::kStaticId, ControlKind::GroupBox, "Settings", wf::kStyleNone, {10, 28, 280, 54}, {}},
    {wf::kStaticId, ControlKind::Static, "Output Batch Count", wf::kStyleNone, {20, 44, 90, 10}, {}},
    {kOutputBatchCountEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 42, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[range sets per packet]", wf::kStyleNone, {174, 44, 110, 10}, {}},
    {kInputStateCheck, ControlKind::CheckBox, "Transmit Input State", wf::kStyleNone, {20, 64, 120, 10}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageFreeRunningDialog{kPageSystemFreeRunning, "", {0, 0, 300, 92}, kControls};
