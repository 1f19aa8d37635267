#include "pages/system_page_run.h"

#include "pages/system_page_run_ids.h"
#include "pages/text_numbers.h"
#include "plugin/pipe_modes.h"

using namespace system_run;

WF_IMPLEMENT_DYNAMIC(CSystemPageRun, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageRun, ConfigPage)
WF_ON_EDIT_KILLFOCUS(kOutputBatchCountEdit, &CSystemPageRun::OnOutputBatchCount)
WF_ON_EDIT_KILLFOCUS(kEncoderResolutionEdit, &CSystemPageRun::OnEncoderResolution)
WF_ON_EDIT_KILLFOCUS(kOutputIntervalEdit, &CSystemPageRun::OnOutputInterval)
WF_ON_EDIT_KILLFOCUS(kDetectionThresholdEdit, &CSystemPageRun::OnDetectionThreshold)
WF_ON_EDIT_KILLFOCUS(kObstructionYEdit, &CSystemPageRun::OnObstructionY)
WF_ON_CLICKED(kOverlapFilterCheck, &CSystemPageRun::OnOverlapFilter)
WF_END_MESSAGE_MAP()

CSystemPageRun::CSystemPageRun() : ConfigPage(kPageSystemRun) {}

CSystemPageRun::~CSystemPageRun() = default;

void CSystemPageRun::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kOverlapFilterCheck, overlapFilter_);
}

int32_t CSystemPageRun::Apply() { return ApplyServerCache(); }

int32_t CSystemPageRun::Reload() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    const zvStatus status = LoadServerCache(server, 1);
    RunShowSettings();
    return status;
}

int32_t CSystemPageRun::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    // The client pipe goes first here, as on the Fine Calibration page;
    // the Web, Free Running, Setup and Calibration pages switch the
    // station pipe first.
    zvHandle clientPipe = 0;
    zvStatus status = ClientPipe(&clientPipe);
    if (status <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeDetection)) <= 0) return status;
    hostapi::DisplaySet* displays = nullptr;
    if ((status = site_->GetDisplays(&displays)) <= 0) return status;
    if (displays == nullptr) return ZV_E_STATE;
    if ((status = displays->SelectLayout(0)) <= 0) return status;
    if ((status = SwitchStationPipe(server, kModeDetection)) <= 0) return status;
    status = LoadServerCache(server, 0);
    RunShowSettings();
    if (status <= 0) return status;
    // Values edited on another page of the server and not applied yet reach
    // the file now.
    return SaveServerCache(server);
}

void CSystemPageRun::RunShowSettings() {
    const ServerNode* server = Server();
    if (server == nullptr) return;
    if (server->loaded == 0) {
        // No values read: none shown (zeros would look like stored ones).
        for (int32_t id : {kOutputBatchCountEdit, kEncoderResolutionEdit, kOutputIntervalEdit, kDetectionThresholdEdit,
                           kObstructionYEdit})
            SetControlText(id, "");
        overlapFilter_.SetCheck(0);
        return;
    }
    SetControlText(kOutputBatchCountEdit, IntegerText(server->OutputBatchCount));
    SetControlText(kEncoderResolutionEdit, ResolutionText(server->EncoderResolution));
    SetControlText(kOutputIntervalEdit, IntegerText(server->OutputInterval));
    SetControlText(kDetectionThresholdEdit, IntegerText(server->DetectionThreshold));
    SetControlText(kObstructionYEdit, IntegerText(server->ObstructionY));
    overlapFilter_.SetCheck(server->OverlapFilterEnable != 0 ? 1 : 0);
}

ServerNode* CSystemPageRun::Changed() {
    ServerNode* server = Server();
    if (server != nullptr && site_ != nullptr) site_->SetModified();
    return server;
}

int32_t CSystemPageRun::EditInteger(int32_t id) const { return IntegerValue(ControlText(id).c_str()); }

void CSystemPageRun::OnOutputBatchCount() {
    if (ServerNode* server = Changed()) server->OutputBatchCount = EditInteger(kOutputBatchCountEdit);
}

void CSystemPageRun::OnEncoderResolution() {
    if (ServerNode* server = Changed())
        server->EncoderResolution = DecimalValue(ControlText(kEncoderResolutionEdit).c_str());
}

void CSystemPageRun::OnOutputInterval() {
    if (ServerNode* server = Changed()) server->OutputInterval = EditInteger(kOutputIntervalEdit);
}

void CSystemPageRun::OnDetectionThreshold() {
    if (ServerNode* server = Changed()) server->DetectionThreshold = EditInteger(kDetectionThresholdEdit);
}

void CSystemPageRun::OnObstructionY() {
    if (ServerNode* server = Changed()) server->ObstructionY = EditInteger(kObstructionYEdit);
}

void CSystemPageRun::OnOverlapFilter() {
    if (ServerNode* server = Changed()) server->OverlapFilterEnable = overlapFilter_.GetCheck() != 0 ? 1 : 0;
}
