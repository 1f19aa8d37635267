// Dialog template 1019: Sensor Free Running.
#include "pages/dialog_templates.h"

namespace {
using wf::ControlKind;
constexpr wf::ControlTemplate kControls[] = {
    {wf::kStaticId, ControlKind::Static, "Ignores encoder, outputs range data from selected sensor.",
     wf::kStyleNone, {10, 10, 280, 10}, {}},
};
}  // namespace

const wf::DialogTemplate kSensorPageFreeRunningDialog{1019, "", {0, 0, 300, 40}, kControls};
