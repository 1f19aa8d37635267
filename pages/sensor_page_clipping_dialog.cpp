// The dialog template of the Sensor Clipping page.
#include "pages/dialog_templates.h"
#include "pages/sensor_page_clipping_ids.h"
#include "plugin/page_ids.h"

using namespace sensor_clipping;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Individual sensor range clipping. Any range data outside this bounding box will be assigned a value "
     "indicating invalid data (-32768).",
     wf::kStyleNone,
     {10, 10, 280, 26},
     {}},
    {wf::kStaticId, ControlKind::Static, "Min Y:", wf::kStyleNone, {20, 48, 40, 10}, {}},
    {kMinYEdit, ControlKind::Edit, "", wf::kStyleNone, {64, 46, 60, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {130, 48, 30, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Max Y:", wf::kStyleNone, {20, 66, 40, 10}, {}},
    {kMaxYEdit, ControlKind::Edit, "", wf::kStyleNone, {64, 64, 60, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {130, 66, 30, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Min X:", wf::kStyleNone, {20, 84, 40, 10}, {}},
    {kMinXEdit, ControlKind::Edit, "", wf::kStyleNone, {64, 82, 60, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {130, 84, 30, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Max X:", wf::kStyleNone, {20, 102, 40, 10}, {}},
    {kMaxXEdit, ControlKind::Edit, "", wf::kStyleNone, {64, 100, 60, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "[mils]", wf::kStyleNone, {130, 102, 30, 10}, {}},
};
}  // namespace

const wf::DialogTemplate kSensorPageClippingDialog{kPageSensorClipping, "", {0, 0, 300, 124}, kControls};
