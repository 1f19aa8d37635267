#include "pages/system_page_config.h"

#include "pages/system_page_config_ids.h"
#include "pages/text_numbers.h"
#include "plugin/settings.h"

using namespace system_config;

namespace {
constexpr int32_t kMostSensors = 48;
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSystemPageConfig, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageConfig, ConfigPage)
WF_ON_CLICKED(kCreateButton, &CSystemPageConfig::OnCreateSettings)
WF_END_MESSAGE_MAP()

CSystemPageConfig::CSystemPageConfig() : ConfigPage(kPageSystemConfig) {}

CSystemPageConfig::~CSystemPageConfig() = default;

void CSystemPageConfig::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kSensorsEdit, sensors_);
}

int32_t CSystemPageConfig::Activate() {
    zvHandle pipe = 0;
    zvStatus status = ClientPipe(&pipe);
    if (status <= 0) return status;
    if ((status = zvPipeDisable(pipe)) <= 0) return status;
    sensors_.SetWindowText("0");
    return 1;
}

int32_t CSystemPageConfig::Deactivate() {
    zvHandle pipe = 0;
    zvStatus status = ClientPipe(&pipe);
    if (status <= 0) return status;
    if ((status = zvPipeEnable(pipe)) <= 0) return status;
    return 1;
}

void CSystemPageConfig::OnCreateSettings() {
    ServerNode* server = Server();
    if (server == nullptr) return;  // no server to name the file
    const int32_t count = IntegerValue(sensors_.GetWindowText().c_str());
    if (count < 1 || count > kMostSensors) {
        MessageBox("Invalid number of sensors entered!");
        return;
    }
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, server->serialNumber);
    zvLastErrorClear();
    const zvStatus status = SettingsCreateDefault(path, count);
    // A file that was not made is no news for the tree.
    if (status <= 0) {
        ReportFailure("Cannot create Settings.xml of " + ServerName(server), status);
        return;
    }
    site_->NotifyHost();
    site_->ReportText("Each sensor has to be assigned a unique vertex view!");
}
