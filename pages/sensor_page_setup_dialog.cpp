// The dialog template of the Sensor Setup page.
#include "pages/dialog_templates.h"
#include "pages/sensor_page_setup_ids.h"
#include "plugin/page_ids.h"

using namespace sensor_setup;

namespace {
using wf::ControlKind;
constexpr const char* kTwo[] = {"0", "1"};
constexpr const char* kFour[] = {"0", "1", "2", "3"};
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::Static, "Individual Sensor Properties", wf::kStyleNone, {10, 8, 200, 10}, {}},
    {wf::kStaticId, ControlKind::GroupBox, "Settings", wf::kStyleNone, {10, 24, 200, 112}, {}},
    {wf::kStaticId, ControlKind::Static, "Sensor Orientation", wf::kStyleNone, {20, 40, 90, 10}, {}},
    {kOrientationList, ControlKind::DropDownList, "", wf::kStyleNone, {120, 38, 70, 14}, kTwo},
    {wf::kStaticId, ControlKind::Static, "Multiplex", wf::kStyleNone, {20, 58, 90, 10}, {}},
    {kMultiplexList, ControlKind::DropDownList, "", wf::kStyleNone, {120, 56, 70, 14}, kFour},
    {wf::kStaticId, ControlKind::Static, "Vertex View", wf::kStyleNone, {20, 76, 90, 10}, {}},
    {kVertexViewList, ControlKind::DropDownList, "", wf::kStyleNone, {120, 74, 70, 14}, kFour},
    {wf::kStaticId, ControlKind::Static, "Detection Threshold", wf::kStyleNone, {20, 94, 90, 10}, {}},
    {kThresholdEdit, ControlKind::Edit, "", wf::kStyleNone, {120, 92, 70, 14}, {}},
    {wf::kStaticId, ControlKind::Static, "Exposure Mode", wf::kStyleNone, {20, 112, 90, 10}, {}},
    {kExposureList, ControlKind::DropDownList, "", wf::kStyleNone, {120, 110, 70, 14}, {}},
};
}  // namespace

const wf::DialogTemplate kSensorPageSetupDialog{kPageSensorSetup, "", {0, 0, 300, 146}, kControls};
