// The dialog template of the Sensor Video page.
#include "pages/dialog_templates.h"
#include "pages/sensor_page_video_ids.h"
#include "plugin/page_ids.h"

using namespace sensor_video;

namespace {
using wf::ControlKind;
// The scale under the slider: each number centred under its position.
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::GroupBox, "Video Exposure", wf::kStyleNone, {10, 8, 280, 30}, {}},
    {kOperationRadio, ControlKind::RadioButton, "Operation", wf::kStyleGroup, {20, 21, 90, 10}, {}},
    {kDiagnosticRadio, ControlKind::RadioButton, "Diagnostic", wf::kStyleNone, {120, 21, 90, 10}, {}},
    {wf::kStaticId, ControlKind::GroupBox, "Video Style", wf::kStyleNone, {10, 44, 280, 28}, {}},
    {kOverlayCheck, ControlKind::CheckBox, "Enable Centroid Overlay", wf::kStyleGroup, {20, 57, 150, 10}, {}},
    {wf::kStaticId, ControlKind::GroupBox, "Deadzone Calibration", wf::kStyleNone, {10, 78, 280, 78}, {}},
    {kDeadzoneCheck, ControlKind::CheckBox, "Enable Deadzone Calibration", wf::kStyleNone, {20, 91, 150, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Sensitivity Threshold", wf::kStyleNone, {20, 107, 150, 10}, {}},
    {kThresholdSlider, ControlKind::Slider, "", wf::kStyleTicks, {20, 119, 260, 16}, {}},
    {wf::kStaticId, ControlKind::Static, "0", wf::kStyleCenter, {12, 138, 16, 8}, {}},
    {wf::kStaticId, ControlKind::Static, "50", wf::kStyleCenter, {63, 138, 16, 8}, {}},
    {wf::kStaticId, ControlKind::Static, "100", wf::kStyleCenter, {114, 138, 16, 8}, {}},
    {wf::kStaticId, ControlKind::Static, "150", wf::kStyleCenter, {165, 138, 16, 8}, {}},
    {wf::kStaticId, ControlKind::Static, "200", wf::kStyleCenter, {216, 138, 16, 8}, {}},
    {wf::kStaticId, ControlKind::Static, "255", wf::kStyleCenter, {272, 138, 16, 8}, {}},
};
}  // namespace

const wf::DialogTemplate kSensorPageVideoDialog{kPageSensorVideo, "", {0, 0, 300, 164}, kControls};
