#include "pages/system_page_web.h"

#include "modes/drawing.h"
#include "pages/system_page_web_ids.h"
#include "pages/text_numbers.h"
#include "plugin/pipe_modes.h"
#include "plugin/settings.h"

using namespace system_web;

namespace {
constexpr int32_t kSyncByEncoder = 0;
constexpr int32_t kSyncByTime = 1;
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSystemPageWeb, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageWeb, ConfigPage)
WF_ON_EDIT_KILLFOCUS(kXResolutionEdit, &CSystemPageWeb::OnXResolution)
WF_ON_EDIT_KILLFOCUS(kTimeEdit, &CSystemPageWeb::OnTime)
WF_ON_EDIT_KILLFOCUS(kDistanceEdit, &CSystemPageWeb::OnDistance)
WF_ON_EDIT_KILLFOCUS(kOutputBatchingEdit, &CSystemPageWeb::OnOutputBatching)
WF_ON_EDIT_KILLFOCUS(kEncoderResolutionEdit, &CSystemPageWeb::OnEncoderResolution)
WF_ON_CLICKED(kTimeSyncRadio, &CSystemPageWeb::OnTimeSync)
WF_ON_CLICKED(kEncoderSyncRadio, &CSystemPageWeb::OnEncoderSync)
WF_END_MESSAGE_MAP()

CSystemPageWeb::CSystemPageWeb() : ConfigPage(kPageSystemWeb) {}

CSystemPageWeb::~CSystemPageWeb() = default;

void CSystemPageWeb::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kTimeSyncRadio, timeSync_);
    wf::BindControl(exchange, kEncoderSyncRadio, encoderSync_);
}

int32_t CSystemPageWeb::Apply() { return ApplyServerCache(); }

int32_t CSystemPageWeb::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvStatus status = SwitchStationPipe(server, kModeWeb);
    if (status <= 0) return status;

    // The settings must be readable (a missing file is no failure).
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, server->serialNumber);
    zvLastErrorClear();
    SystemSettings* settings = nullptr;
    if ((status = SettingsLoad(path, 0, &settings)) <= 0) return ReportReadFailure(server, status);
    if ((status = SettingsFree(settings)) <= 0) return status;

    zvHandle clientPipe = 0;
    if ((status = ClientPipe(&clientPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeWeb)) <= 0) return status;
    if ((status = ShowEmptyFreePlot(DisplayForDrawing(0))) <= 0) return status;

    status = LoadServerCache(server, 0);
    WebShowSettings();
    if (status <= 0) return status;
    return SaveServerCache(server);
}

void CSystemPageWeb::WebShowSettings() {
    const ServerNode* server = Server();
    if (server == nullptr) return;
    if (server->loaded == 0) {
        // No values read: none shown, and no method chosen.
        for (int32_t id : {kOutputBatchingEdit, kXResolutionEdit, kDistanceEdit, kEncoderResolutionEdit, kTimeEdit})
            SetControlText(id, "");
        timeSync_.SetCheck(0);
        encoderSync_.SetCheck(0);
        return;
    }
    SetControlText(kOutputBatchingEdit, IntegerText(server->OutputBatchCount));
    SetControlText(kXResolutionEdit, ResolutionText(server->XResolution));
    SetControlText(kDistanceEdit, ResolutionText(server->Distance));
    SetControlText(kEncoderResolutionEdit, ResolutionText(server->EncoderResolution));
    SetControlText(kTimeEdit, IntegerText(server->Time));
    const bool byTime = server->SynchronizeMethod != 0;
    timeSync_.SetCheck(byTime ? 1 : 0);
    encoderSync_.SetCheck(byTime ? 0 : 1);
    WebEnableSyncControls(server->SynchronizeMethod);
}

void CSystemPageWeb::WebEnableSyncControls(int32_t method) {
    if (method != kSyncByEncoder && method != kSyncByTime) return;
    for (int32_t id : kTimeControls)
        if (wf::Window* control = GetDlgItem(id)) control->EnableWindow(method == kSyncByTime);
    for (int32_t id : kEncoderControls)
        if (wf::Window* control = GetDlgItem(id)) control->EnableWindow(method == kSyncByEncoder);
}

void CSystemPageWeb::Modified() {
    if (site_ != nullptr) site_->SetModified();
}

void CSystemPageWeb::OnXResolution() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->XResolution = DecimalValue(ControlText(kXResolutionEdit).c_str());
    Modified();
}

void CSystemPageWeb::OnTime() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->Time = IntegerValue(ControlText(kTimeEdit).c_str());
    Modified();
}

void CSystemPageWeb::OnDistance() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->Distance = DecimalValue(ControlText(kDistanceEdit).c_str());
    Modified();
}

void CSystemPageWeb::OnOutputBatching() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->OutputBatchCount = IntegerValue(ControlText(kOutputBatchingEdit).c_str());
    Modified();
}

void CSystemPageWeb::OnEncoderResolution() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->EncoderResolution = DecimalValue(ControlText(kEncoderResolutionEdit).c_str());
    Modified();
}

void CSystemPageWeb::OnTimeSync() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->SynchronizeMethod = kSyncByTime;
    WebEnableSyncControls(kSyncByTime);
    Modified();
}

void CSystemPageWeb::OnEncoderSync() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    server->SynchronizeMethod = kSyncByEncoder;
    WebEnableSyncControls(kSyncByEncoder);
    Modified();
}
