#include "pages/sensor_page_video.h"

#include "pages/sensor_page_video_ids.h"
#include "plugin/pipe_modes.h"
#include "plugin/settings.h"

using namespace sensor_video;

namespace {
constexpr int32_t kStartThreshold = 200;
constexpr int32_t kThresholdTicks[] = {0, 50, 100, 150, 200, 255};

constexpr char kInvalidSerial[] = "Current sensor serial is invalid (not assigned?)";
constexpr char kCannotRead[] = "Cannot read server settings";
constexpr char kCannotWrite[] = "Cannot write server settings";
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSensorPageVideo, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSensorPageVideo, ConfigPage)
WF_ON_CLICKED(kOperationRadio, &CSensorPageVideo::OnOperation)
WF_ON_CLICKED(kDiagnosticRadio, &CSensorPageVideo::OnDiagnostic)
WF_ON_CLICKED(kOverlayCheck, &CSensorPageVideo::OnCentroidOverlay)
WF_ON_CLICKED(kDeadzoneCheck, &CSensorPageVideo::OnDeadzone)
WF_ON_RELEASEDCAPTURE(kThresholdSlider, &CSensorPageVideo::OnThresholdReleased)
WF_END_MESSAGE_MAP()

CSensorPageVideo::CSensorPageVideo() : ConfigPage(kPageSensorVideo) {}

CSensorPageVideo::~CSensorPageVideo() { StopListening(); }

void CSensorPageVideo::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kOperationRadio, operation_);
    wf::BindControl(exchange, kDiagnosticRadio, diagnostic_);
    wf::BindControl(exchange, kOverlayCheck, overlay_);
    wf::BindControl(exchange, kDeadzoneCheck, deadzone_);
    wf::BindControl(exchange, kThresholdSlider, threshold_);
}

int32_t CSensorPageVideo::Apply() {
    SensorNode* sensor = Sensor();
    ServerNode* server = Server();
    if (sensor == nullptr || server == nullptr) return ZV_E_STATE;
    const zvStatus status = sensor->RewriteSensorInfo();
    if (status == ZV_E_NOTFOUND) return ReportMissingSensor();
    if (status <= 0) return ReportFailure("Cannot rewrite the settings of " + ServerName(server), status);
    return 1;
}

int32_t CSensorPageVideo::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvHandle stationPipe = 0;
    zvStatus status = server->StationPipe(&stationPipe);
    if (status <= 0) return status;
    if ((status = zvPipeSetCurrentMode(stationPipe, kModeVideo)) <= 0) return status;

    // The exposure goes back to "Operation" at every activation.
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsWriteFormat, server->serialNumber);
    SystemSettings* settings = nullptr;
    if ((status = SettingsLoad(path, 0, &settings)) <= 0) return status;
    settings->VideoExposure = 0;
    overlay_.SetCheck(settings->VideoStyle != 0 ? 1 : 0);
    status = SettingsSave(settings, path, 1);
    const zvStatus freed = SettingsFree(settings);
    if (status <= 0) return status;
    if (freed <= 0) return freed;

    operation_.SetCheck(1);
    diagnostic_.SetCheck(0);
    deadzone_.SetCheck(0);

    // A sensor that cannot be found in the settings has no serial number
    // either; settings that cannot be read are told as such.
    uint32_t serial = ZV_SERIAL_NONE;
    status = SensorSerialOf(server, Sensor(), &serial);
    if (status <= 0 && status != ZV_E_NOTFOUND) return ReportReadFailure(server, status);
    if (serial == ZV_SERIAL_NONE) {
        site_->ReportError(kInvalidSerial);
        return 0;
    }

    zvHandle clientPipe = 0;
    if ((status = ClientPipe(&clientPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeVideo)) <= 0) return status;
    zvHandle list = 0;
    status = CreateIntegerList(&list);
    if (status > 0) status = zvPipeModeParameters(clientPipe, list);
    if (status > 0) status = SetIntegerItem(list, kVideoSelectedSensor, static_cast<int32_t>(serial));
    if (status > 0) status = SetIntegerItem(list, kVideoIdzThreshold, kStartThreshold);
    if (status > 0) status = SetIntegerItem(list, kVideoThreshEnabled, 0);
    if (status > 0) status = zvPipeSetModeParameters(clientPipe, list);
    if (list != 0) {
        const zvStatus destroyed = zvArrayListDestroy(list);
        if (status > 0) status = destroyed;
    }
    if (status <= 0) return status;

    hostapi::DisplaySet* displays = nullptr;
    site_->GetDisplays(&displays);
    if (displays != nullptr) {
        displays->SelectLayout(0);
        // Activated twice in a row, the page still listens once.
        if (!listening_) {
            displays->AddDisplayListener(0, this);
            displays->AddDisplayListener(1, this);
            listening_ = true;
        }
    }

    threshold_.SetRange(0, 255, false);
    for (int32_t tick : kThresholdTicks) threshold_.SetTic(tick);
    threshold_.SetPos(kStartThreshold);
    return 1;
}

int32_t CSensorPageVideo::Deactivate() {
    StopListening();
    return 1;
}

void CSensorPageVideo::StopListening() {
    if (!listening_ || site_ == nullptr) return;
    listening_ = false;
    hostapi::DisplaySet* displays = nullptr;
    site_->GetDisplays(&displays);
    if (displays == nullptr) return;
    displays->RemoveDisplayListener(0, this);
    displays->RemoveDisplayListener(1, this);
}

int32_t CSensorPageVideo::PointerEvent(int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t CSensorPageVideo::ContentChanged(int32_t, int32_t) { return 1; }
int32_t CSensorPageVideo::ViewChanged(int32_t, int32_t, int32_t) { return 1; }

void CSensorPageVideo::StoreExposure(int32_t exposure) {
    ServerNode* server = Server();
    if (server == nullptr) return;
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsWriteFormat, server->serialNumber);
    SystemSettings* settings = nullptr;
    if (SettingsLoad(path, 0, &settings) <= 0) {
        site_->ReportError(kCannotRead);
        return;
    }
    settings->VideoExposure = exposure;
    if (SettingsSave(settings, path, 1) <= 0) site_->ReportError(kCannotWrite);
    SettingsFree(settings);
}

void CSensorPageVideo::OnOperation() { StoreExposure(0); }

void CSensorPageVideo::OnDiagnostic() { StoreExposure(1); }

zvStatus CSensorPageVideo::ReadParameters(zvHandle* pipe, zvHandle* list) {
    *list = 0;
    zvStatus status = ClientPipe(pipe);
    if (status > 0) status = CreateIntegerList(list);
    if (status > 0) status = zvPipeModeParameters(*pipe, *list);
    if (status <= 0 && *list != 0) {
        zvArrayListDestroy(*list);
        *list = 0;
    }
    return status;
}

void CSensorPageVideo::OnCentroidOverlay() {
    const bool overlay = overlay_.GetCheck() != 0;
    ServerNode* server = Server();
    if (server == nullptr) return;
    // What the click changes, put back when the overlay cannot be stored:
    // the page then shows what the file and the Video mode still hold.
    const int32_t deadzoneChecked = deadzone_.GetCheck();
    const bool deadzoneEnabled = deadzone_.IsWindowEnabled();
    const bool thresholdEnabled = threshold_.IsWindowEnabled();
    auto undo = [&] {
        overlay_.SetCheck(overlay ? 0 : 1);
        deadzone_.SetCheck(deadzoneChecked);
        deadzone_.EnableWindow(deadzoneEnabled);
        threshold_.EnableWindow(thresholdEnabled);
    };

    zvHandle pipe = 0;
    zvHandle list = 0;
    if (ReadParameters(&pipe, &list) <= 0) {
        undo();
        return;
    }
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsWriteFormat, server->serialNumber);
    SystemSettings* settings = nullptr;
    if (SettingsLoad(path, 0, &settings) <= 0) {
        site_->ReportError(kCannotRead);
        zvArrayListDestroy(list);
        undo();
        return;
    }
    zvStatus status = ZV_OK;
    if (overlay) {
        settings->VideoStyle = 1;
        status = SetIntegerItem(list, kVideoThreshEnabled, 0);
        deadzone_.SetCheck(0);
        deadzone_.EnableWindow(false);
        threshold_.EnableWindow(false);
    } else {
        settings->VideoStyle = 0;
        deadzone_.EnableWindow(true);
        threshold_.EnableWindow(true);
    }
    if (status > 0 && SettingsSave(settings, path, 1) <= 0) {
        site_->ReportError(kCannotWrite);
        status = ZV_E_IO;
    }
    SettingsFree(settings);
    if (status <= 0) {
        zvArrayListDestroy(list);
        undo();
        return;
    }
    // The overlay is stored: the controls stay as the file says.
    zvPipeSetModeParameters(pipe, list);
    zvArrayListDestroy(list);
}

void CSensorPageVideo::SetParameter(int32_t index, int32_t value) {
    zvHandle pipe = 0;
    zvHandle list = 0;
    if (ReadParameters(&pipe, &list) <= 0) return;
    if (SetIntegerItem(list, index, value) > 0) zvPipeSetModeParameters(pipe, list);
    zvArrayListDestroy(list);
}

void CSensorPageVideo::OnDeadzone() { SetParameter(kVideoThreshEnabled, deadzone_.GetCheck() != 0 ? 1 : 0); }

void CSensorPageVideo::OnThresholdReleased(wf::NotifyHeader*, intptr_t* result) {
    if (result != nullptr) *result = 0;
    SetParameter(kVideoIdzThreshold, threshold_.GetPos());
}
