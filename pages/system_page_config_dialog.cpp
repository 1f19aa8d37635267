// The dialog template of the System Config page.
#include "pages/dialog_templates.h"
#include "pages/system_page_config_ids.h"
#include "plugin/page_ids.h"

using namespace system_config;

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Creates a default Settings.xml on the Anvora Station. Typically used once, at initial system setup. If used "
     "at a later stage, existing file will be over written.",
     wf::kStyleNone,
     {10, 10, 280, 34},
     {}},
    {wf::kStaticId, ControlKind::Static, "Enter number of sensors in system", wf::kStyleNone, {10, 52, 200, 10}, {}},
    {wf::kStaticId, ControlKind::Static, "Sensors:", wf::kStyleNone, {10, 70, 40, 10}, {}},
    {kSensorsEdit, ControlKind::Edit, "", wf::kStyleNone, {52, 68, 40, 14}, {}},
    {kCreateButton, ControlKind::PushButton, "Create Settings.xml", wf::kStyleNone, {104, 67, 90, 16}, {}},
};
}  // namespace

const wf::DialogTemplate kSystemPageConfigDialog{kPageSystemConfig, "", {0, 0, 300, 100}, kControls};
