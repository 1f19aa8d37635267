// The dialog template of the System Web page.
#include "pages/dialog_templates.h"
#include "pages/system_page_web_ids.h"
#include "plugin/page_ids.h"

using namespace system_web;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Transverse Scanning: range profile is delivered synchronously based on time or encoder [Require system "
     "calibration]",
     wf::kStyleNone,
     {10, 10, 280, 20},
     {}},
    {wf::kStaticId, ControlKind::Static, "Output Batching", wf::kStyleNone, {20, 40, 90, 10}, {}},
    {kOutputBatchingEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 38, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "X Resolution", wf::kStyleNone, {20, 58, 90, 10}, {}},
    {kXResolutionEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 56, 56, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mil]", wf::kStyleNone, {174, 58, 110, 10}, {}},
    {wf::kStaticId, ControlKind::GroupBox, "Synchronization Method", wf::kStyleNone, {10, 78, 280, 114}, {}},
    {kTimeSyncRadio, ControlKind::RadioButton, "Time Sync", wf::kStyleGroup, {20, 92, 100, 10}, {}},
    {kTimeLabel, ControlKind::Static, "Sync Resolution", wf::kStyleNone, {32, 108, 78, 10}, {}},
    {kTimeEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 106, 56, 14}, {}},
    {kTimeUnit, ControlKind::Static, "[ms]", wf::kStyleNone, {174, 108, 110, 10}, {}},
    {kEncoderSyncRadio, ControlKind::RadioButton, "Encoder Sync", wf::kStyleNone, {20, 128, 100, 10}, {}},
    {kDistanceLabel, ControlKind::Static, "Sync Resolution", wf::kStyleNone, {32, 144, 78, 10}, {}},
    {kDistanceEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 142, 56, 14}, {}},
    {kDistanceUnit, ControlKind::Static, "[mils]", wf::kStyleNone, {174, 144, 110, 10}, {}},
    {kEncoderResolutionLabel, ControlKind::Static, "Encoder Resolution", wf::kStyleNone, {32, 162, 78, 10}, {}},
    {kEncoderResolutionEdit, ControlKind::Edit, "", wf::kStyleNone, {112, 160, 56, 14}, {}},
    {kEncoderResolutionUnit, ControlKind::Static, "[mils per tick]", wf::kStyleNone, {174, 162, 110, 10}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageWebDialog{kPageSystemWeb, "", {0, 0, 300, 202}, kControls};
