#include "pages/system_page_calibration.h"

#include "pages/system_page_calibration_ids.h"
#include "plugin/pipe_modes.h"

using namespace system_calibration;

zvStatus DeleteCalibrationFile(ServerNode* server) {
    if (server == nullptr) return ZV_E_STATE;
    zvHandle serverHandle = 0;
    zvHandle storage = 0;
    zvStatus status = server->ServerHandle(&serverHandle);
    if (status > 0) status = zvServerGetStorageHandle(serverHandle, &storage);
    if (status > 0) status = zvStorageDeleteFile(storage, "Calibration.xml", 1);
    // Nothing stored: nothing to delete.
    return status == ZV_E_NOTFOUND && storage != 0 ? 1 : status;
}

WF_IMPLEMENT_DYNAMIC(CSystemPageCalibration, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageCalibration, ConfigPage)
WF_ON_CLICKED(kDeleteButton, &CSystemPageCalibration::OnDeleteCalibration)
WF_END_MESSAGE_MAP()

CSystemPageCalibration::CSystemPageCalibration() : ConfigPage(kPageSystemCalibration) {}

CSystemPageCalibration::~CSystemPageCalibration() = default;

int32_t CSystemPageCalibration::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvStatus status = SwitchStationPipe(server, kModeCalibration);
    if (status <= 0) return status;
    zvHandle clientPipe = 0;
    if ((status = ClientPipe(&clientPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeCalibration)) <= 0) return status;
    hostapi::DisplaySet* displays = nullptr;
    site_->GetDisplays(&displays);
    if (displays != nullptr) displays->SelectLayout(1);
    return 1;
}

void CSystemPageCalibration::OnDeleteCalibration() {
    zvLastErrorClear();
    const zvStatus status = DeleteCalibrationFile(Server());
    if (status <= 0) ReportFailure("Cannot delete Calibration.xml of " + ServerName(Server()), status);
}
