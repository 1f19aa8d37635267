// The dialog template of the Sensor Free Running page.
#include "pages/dialog_templates.h"
#include "plugin/page_ids.h"

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId,
     ControlKind::Static,
     "Ignores encoder, outputs range data from selected sensor.",
     wf::kStyleNone,
     {10, 10, 280, 10},
     {}},
};
}  // namespace

const wf::DialogTemplate kSensorPageFreeRunningDialog{kPageSensorFreeRunning, "", {0, 0, 300, 40}, kControls};
