// The dialog template of the System Run page.
#include "pages/dialog_templates.h"
#include "pages/system_page_run_ids.h"
#include "plugin/page_ids.h"

using namespace system_run;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Runs full object statemachine, performs overlap filtering and outputs data slice by slice at the requested "
     "output interval.",
     wf::kStyleNone,
     {10, 10, 280, 20},
     {}},
    {wf::kStaticId, ControlKind::GroupBox, "Settings", wf::kStyleNone, {10, 36, 280, 126}, {}},
    {wf::kStaticId, ControlKind::Static, "Output Batch Count", wf::kStyleNone, {20, 52, 90, 10}, {}},
    {kOutputBatchCountEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 50, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[range sets per packet]", wf::kStyleNone, {174, 52, 110, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Encoder Resolution", wf::kStyleNone, {20, 70, 90, 10}, {}},
    {kEncoderResolutionEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 68, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils per tick]", wf::kStyleNone, {174, 70, 110, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Output Interval", wf::kStyleNone, {20, 88, 90, 10}, {}},
    {kOutputIntervalEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 86, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {174, 88, 110, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Detection Threshold", wf::kStyleNone, {20, 106, 90, 10}, {}},
    {kDetectionThresholdEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 104, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[percentage of data]", wf::kStyleNone, {174, 106, 110, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Obstruction Y", wf::kStyleNone, {20, 124, 90, 10}, {}},
    {kObstructionYEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 122, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {174, 124, 110, 10}, {}},
    {kOverlapFilterCheck, ControlKind::CheckBox, "Overlap Filter Enable", wf::kStyleTextLeft, {20, 142, 102, 10}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageRunDialog{kPageSystemRun, "", {0, 0, 300, 172}, kControls};
