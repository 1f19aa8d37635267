#include "pages/system_page_capture.h"

#include <cstdint>
#include <iterator>

#include "pages/system_page_capture_ids.h"
#include "pages/text_numbers.h"
#include "plugin/settings.h"

using namespace system_capture;

namespace {
constexpr int64_t kSegmentBytes = 200000000;
// The reduction is read from at most this many characters of its edit.
constexpr int32_t kReductionTextMax = 127;
// The reductions Settings.xml can hold: "Divisor" is read as a signed
// 32-bit number, so what lies beyond is refused rather than stored as
// another number than the page shows.
constexpr int32_t kMostReduction = INT32_MAX;
constexpr char kReductionRange[] = "The reduction must be a whole number from 0 to 2147483647.";
}  // namespace

const char* CaptureModeName(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(std::size(kCaptureModes))) return "Unknown";
    return kCaptureModes[index];
}

WF_IMPLEMENT_DYNAMIC(CSystemPageCapture, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageCapture, ConfigPage)
WF_ON_SELCHANGE(kModeList, &CSystemPageCapture::OnModeChange)
WF_ON_SELCHANGE(kSourceList, &CSystemPageCapture::OnSourceChange)
WF_ON_EDIT_KILLFOCUS(kReductionEdit, &CSystemPageCapture::OnReductionKillFocus)
WF_END_MESSAGE_MAP()

CSystemPageCapture::CSystemPageCapture() : ConfigPage(kPageSystemCapture) {}

CSystemPageCapture::~CSystemPageCapture() = default;

void CSystemPageCapture::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kModeList, mode_);
    wf::BindControl(exchange, kSourceList, source_);
    wf::BindControl(exchange, kReductionEdit, reductionEdit_);
}

bool CSystemPageCapture::OnInitDialog() {
    ConfigPage::OnInitDialog();
    mode_.SetCurSel(modeIndex_);
    source_.SetCurSel(sourceIndex_);
    reductionEdit_.SetWindowText(IntegerText(reduction_).c_str());
    return true;
}

zvStatus CSystemPageCapture::FirstServer(zvHandle client, uint32_t* server, char* path) {
    zvHandle list = 0;
    zvStatus status = zvArrayListCreate(&list, 0);
    if (status > 0) status = zvArrayListInit(list, ZV_TYPE_UINT32, 0, 1);
    if (status > 0) status = zvClientServers(client, list);
    // A client without servers has no first one.
    const auto* first = status > 0 ? static_cast<const uint32_t*>(zvArrayListAt(list, 0)) : nullptr;
    if (status > 0 && first == nullptr) status = ZV_E_NOTFOUND;
    if (first != nullptr) *server = *first;
    if (list != 0) zvDataDispose(list);
    if (status <= 0) return status;
    FormatServerPath(path, kServerSettingsReadFormat, *server);
    return 1;
}

zvStatus CSystemPageCapture::CaptureApply(bool* written) {
    if (written != nullptr) *written = false;
    zvHandle client = 0;
    zvStatus status = Client(&client);
    if (status <= 0) return status;
    zvHandle clientPipe = 0;
    if ((status = zvClientGetPipeHandle(client, &clientPipe)) <= 0) return status;
    uint32_t serial = 0;
    char path[kServerPathSize];
    if ((status = FirstServer(client, &serial, path)) <= 0) return status;
    if (zvFileExists(path) != 1) return 1;

    SystemSettings* settings = nullptr;
    if ((status = SettingsLoad(path, 0, &settings)) <= 0) return status;
    settings->CaptureEnabled = captureOn_;
    settings->CaptureSource = sourceIndex_;
    settings->CaptureDivisor = reduction_;
    status = SettingsSave(settings, path, 1);
    const zvStatus freed = SettingsFree(settings);
    if (status <= 0) return status;
    if (freed <= 0) return freed;
    if (written != nullptr) *written = true;

    zvHandle server = 0;
    zvHandle stationPipe = 0;
    if ((status = zvClientGetServerHandle(client, serial, &server)) <= 0) return status;
    if ((status = zvServerGetPipeHandle(server, &stationPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(stationPipe, CaptureModeName(modeIndex_))) <= 0) return status;
    return 1;
}

int32_t CSystemPageCapture::Activate() {
    zvHandle client = 0;
    zvStatus status = Client(&client);
    if (status <= 0) return status;
    zvHandle clientPipe = 0;
    if ((status = zvClientGetPipeHandle(client, &clientPipe)) <= 0) return status;
    if ((status = zvPipeDisable(clientPipe)) <= 0) return status;
    uint32_t serial = 0;
    char path[kServerPathSize];
    if ((status = FirstServer(client, &serial, path)) <= 0) return status;
    // Without settings on the first server nothing is captured; the client
    // pipe stays disabled while the page is current.
    if (zvFileExists(path) != 1) return ReportAbsent(serial);
    if ((status = zvClientEnableCapture(client, 1)) <= 0) return status;
    if ((status = zvClientSetCaptureSegmentSize(client, kSegmentBytes)) <= 0) return status;
    captureOn_ = 1;
    bool written = false;
    if ((status = CaptureApply(&written)) <= 0) return status;
    return written ? 1 : ReportAbsent(serial);
}

int32_t CSystemPageCapture::Deactivate() {
    zvHandle client = 0;
    zvStatus status = Client(&client);
    if (status <= 0) return status;
    zvHandle clientPipe = 0;
    if ((status = zvClientGetPipeHandle(client, &clientPipe)) <= 0) return status;
    if ((status = zvPipeEnable(clientPipe)) <= 0) return status;
    if ((status = zvClientEnableCapture(client, 0)) <= 0) return status;
    captureOn_ = 0;
    if ((status = CaptureApply()) <= 0) return status;
    return 1;
}

zvStatus CSystemPageCapture::ReportAbsent(uint32_t serial) const {
    return Report("Nothing is captured: Settings.xml of server " + std::to_string(serial) +
                      " is absent (create it on the server's Setup page).",
                  ZV_E_NOTFOUND);
}

void CSystemPageCapture::ApplyChange() {
    zvLastErrorClear();
    bool written = false;
    const zvStatus status = CaptureApply(&written);
    if (status <= 0) {
        ReportFailure("The capture settings were not applied", status);
    } else if (!written) {
        Report("Nothing was written: the first server has no Settings.xml.", status);
    }
}

void CSystemPageCapture::OnModeChange() {
    modeIndex_ = mode_.GetCurSel();
    ApplyChange();
}

void CSystemPageCapture::OnSourceChange() {
    sourceIndex_ = source_.GetCurSel();
    ApplyChange();
}

void CSystemPageCapture::OnReductionKillFocus() {
    char text[kReductionTextMax + 1] = {};
    reductionEdit_.GetWindowText(text, sizeof text);
    // A text without a number keeps the value; one out of range too, told.
    if (IntegerInRange(text, 0, kMostReduction, &reduction_) == RangedValue::kOutOfRange) Report(kReductionRange, 0);
    reductionEdit_.SetWindowText(IntegerText(reduction_).c_str());
    ApplyChange();
}
