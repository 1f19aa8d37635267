#include "pages/sensor_target_page.h"

#include "modes/drawing.h"
#include "plugin/calibration.h"

namespace {

// The calibration target of the settings `info` as a new list of points
// (item type 162) in `*vertices`, which the caller destroys. The first
// failing status, with `*vertices` destroyed again and 0; a settings
// document without a target gives 0.
zvStatus ReadSettingsTarget(zvHandle info, zvHandle* vertices) {
    *vertices = 0;
    zvStatus status = zvArrayListCreate(vertices, 0);
    if (status <= 0) return status;
    status = zvArrayListInit(*vertices, ZV_TYPE_POINT32, 0, 1);
    if (status > 0) status = ReadCalibrationTarget(zvAppInfoXml(info), *vertices);
    if (status > 0) return status;
    zvArrayListDestroy(*vertices);
    *vertices = 0;
    return status;
}

}  // namespace

WF_IMPLEMENT_DYNAMIC(SensorTargetPage, ConfigPage)

zvStatus SensorTargetPage::ShowTarget(zvHandle* info, zvXmlItem* sensor, int32_t* vertices) {
    *info = 0;
    *sensor = 0;
    *vertices = 0;
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvHandle pipe = 0;
    zvStatus status = ClientPipe(&pipe);
    if (status <= 0) return status;
    if ((status = zvPipeSetCurrentMode(pipe, "Calibration")) <= 0) return status;

    zvHandle settings = 0;
    if (server->ReadServerInfo(&settings) <= 0) return 1;
    SensorNode* sensorNode = Sensor();
    const zvXmlItem group = sensorNode != nullptr ? zvAppInfoGroupFromPath(settings, sensorNode->groupPath) : 0;
    if (group == 0) {
        zvAppInfoDestroy(settings);
        return 1;
    }

    zvHandle target = 0;
    status = ReadSettingsTarget(settings, &target);
    if (status > 0) status = ShowCalibrationTarget(target, DisplayForDrawing(0));
    const int32_t count = zvArrayListCount(target);
    if (target != 0) zvArrayListDestroy(target);
    if (status <= 0) {
        zvAppInfoDestroy(settings);
        return status;
    }
    *info = settings;
    *sensor = zvAppInfoSensorFromParent(settings, group, sensorNode->sensorName);
    *vertices = count;
    return 1;
}
