#include "pages/system_page_free_running.h"

#include "modes/drawing.h"
#include "pages/system_page_free_running_ids.h"
#include "pages/text_numbers.h"
#include "plugin/pipe_modes.h"
#include "plugin/settings.h"

using namespace system_free_running;

namespace {
constexpr int32_t kAllSensors = 0;
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSystemPageFreeRunning, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageFreeRunning, ConfigPage)
WF_ON_EDIT_KILLFOCUS(kOutputBatchCountEdit, &CSystemPageFreeRunning::OnOutputBatchCount)
WF_ON_CLICKED(kInputStateCheck, &CSystemPageFreeRunning::OnTransmitInputState)
WF_END_MESSAGE_MAP()

CSystemPageFreeRunning::CSystemPageFreeRunning() : ConfigPage(kPageSystemFreeRunning) {}

CSystemPageFreeRunning::~CSystemPageFreeRunning() = default;

void CSystemPageFreeRunning::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kInputStateCheck, inputState_);
}

int32_t CSystemPageFreeRunning::Apply() { return ApplyServerCache(); }

int32_t CSystemPageFreeRunning::Reload() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    const zvStatus status = LoadServerCache(server, 1);
    FreeShowSettings();
    return status;
}

int32_t CSystemPageFreeRunning::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvStatus status = SwitchStationPipe(server, kModeFree);
    if (status <= 0) return status;

    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, server->serialNumber);
    zvLastErrorClear();
    SystemSettings* settings = nullptr;
    if ((status = SettingsLoad(path, 0, &settings)) <= 0) return ReportReadFailure(server, status);
    const int32_t enabled = EnabledSensors(*settings);
    if ((status = SettingsFree(settings)) <= 0) return status;

    zvHandle clientPipe = 0;
    if ((status = ClientPipe(&clientPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeFree)) <= 0) return status;

    // The parameters go to the Free mode, now the client's current one. The
    // list is destroyed on every path, also when a later step fails.
    zvHandle list = 0;
    status = CreateIntegerList(&list);
    if (status > 0) status = zvPipeModeParameters(clientPipe, list);
    if (status > 0) status = SetIntegerItem(list, kFreeSelectedSensor, kAllSensors);
    if (status > 0) status = SetIntegerItem(list, kFreeNumSensors, enabled);
    if (status > 0) status = zvPipeSetModeParameters(clientPipe, list);
    if (status > 0) status = ShowEmptyFreePlot(DisplayForDrawing(0));
    if (list != 0) {
        const zvStatus destroyed = zvArrayListDestroy(list);
        if (status > 0) status = destroyed;
    }
    if (status <= 0) return status;

    status = LoadServerCache(server, 0);
    FreeShowSettings();
    if (status > 0) status = SaveServerCache(server);
    inputState_.ShowWindow(false);
    return status;
}

void CSystemPageFreeRunning::FreeShowSettings() {
    const ServerNode* server = Server();
    if (server == nullptr) return;
    // No values read: none shown.
    SetControlText(kOutputBatchCountEdit, server->loaded != 0 ? IntegerText(server->OutputBatchCount) : "");
}

void CSystemPageFreeRunning::OnOutputBatchCount() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    if (site_ != nullptr) site_->SetModified();
    server->OutputBatchCount = IntegerValue(ControlText(kOutputBatchCountEdit).c_str());
}

void CSystemPageFreeRunning::OnTransmitInputState() {
    ServerNode* server = Server();
    if (server == nullptr) return;
    if (site_ != nullptr) site_->SetModified();
    server->inputStateFlag = inputState_.GetCheck() != 0 ? 1 : 0;
}
