#include "pages/sensor_page_free_running.h"

#include "modes/drawing.h"
#include "plugin/pipe_modes.h"
#include "plugin/settings.h"

WF_IMPLEMENT_DYNAMIC(CSensorPageFreeRunning, ConfigPage)

CSensorPageFreeRunning::CSensorPageFreeRunning() : ConfigPage(kPageSensorFreeRunning) {}

CSensorPageFreeRunning::~CSensorPageFreeRunning() = default;

int32_t CSensorPageFreeRunning::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvHandle stationPipe = 0;
    zvStatus status = server->StationPipe(&stationPipe);
    if (status <= 0) return status;
    if ((status = zvPipeSetCurrentMode(stationPipe, kModeFree)) <= 0) return status;

    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsWriteFormat, server->serialNumber);
    SystemSettings* settings = nullptr;
    if ((status = SettingsLoad(path, 0, &settings)) <= 0) return status;
    const int32_t enabled = EnabledSensors(*settings);
    if ((status = SettingsFree(settings)) <= 0) return status;

    uint32_t serial = ZV_SERIAL_NONE;
    if ((status = SensorSerialOf(server, Sensor(), &serial)) == ZV_E_NOTFOUND) return ReportMissingSensor();
    if (status <= 0) return ReportReadFailure(server, status);

    zvHandle clientPipe = 0;
    if ((status = ClientPipe(&clientPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeFree)) <= 0) return status;

    zvHandle list = 0;
    status = CreateIntegerList(&list);
    if (status > 0) status = zvPipeModeParameters(clientPipe, list);
    if (status > 0) status = SetIntegerItem(list, kFreeSelectedSensor, static_cast<int32_t>(serial));
    if (status > 0) status = SetIntegerItem(list, kFreeNumSensors, enabled);
    if (status > 0) status = zvPipeSetModeParameters(clientPipe, list);
    if (status > 0) status = ShowEmptyFreePlot(DisplayForDrawing(0));
    if (list == 0) return status;
    const zvStatus destroyed = zvArrayListDestroy(list);
    return status <= 0 ? status : destroyed;
}
