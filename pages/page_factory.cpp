#include "pages/page_factory.h"
#include "pages/sensor_page_clipping.h"
#include "pages/sensor_page_free_running.h"
#include "pages/sensor_page_setup.h"
#include "pages/sensor_page_video.h"
#include "pages/system_page_calibration.h"
#include "pages/system_page_capture.h"
#include "pages/system_page_config.h"
#include "pages/system_page_free_running.h"
#include "pages/system_page_run.h"
#include "pages/system_page_setup.h"
#include "pages/system_page_tuning.h"
#include "pages/system_page_web.h"

#include <new>

namespace {
template <class PageClass>
hostapi::Page* Make() {
    return new (std::nothrow) PageClass;
}
}  // namespace

hostapi::Page* PageFactory(int32_t id) {
    switch (id) {
        case kPageSystemCalibration: return Make<CSystemPageCalibration>();
        case kPageSensorFreeRunning: return Make<CSensorPageFreeRunning>();
        case kPageSystemConfig: return Make<CSystemPageConfig>();
        case kPageSensorSetup: return Make<CSensorPageSetup>();
        case kPageSensorClipping: return Make<CSensorPageClipping>();
        case kPageSystemSetup: return Make<CSystemPageSetup>();
        case kPageSystemTuning: return Make<CSystemPageTuning>();
        case kPageSystemRun: return Make<CSystemPageRun>();
        case kPageSystemWeb: return Make<CSystemPageWeb>();
        case kPageSystemFreeRunning: return Make<CSystemPageFreeRunning>();
        case kPageSensorVideo: return Make<CSensorPageVideo>();
        case kPageSystemCapture: return Make<CSystemPageCapture>();
        default: return nullptr;
    }
}
