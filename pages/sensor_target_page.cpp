#include "pages/sensor_target_page.h"

#include "modes/drawing.h"
#include "plugin/calibration.h"
#include "plugin/pipe_modes.h"

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

zvXmlItem SensorTargetPage::SensorGroup(zvHandle info) const {
    const SensorNode* node = Sensor();
    return node != nullptr ? zvAppInfoGroupFromPath(info, node->groupPath) : 0;
}

zvXmlItem SensorTargetPage::SensorEntry(zvHandle info) const {
    const zvXmlItem group = SensorGroup(info);
    return group != 0 ? zvAppInfoSensorFromParent(info, group, Sensor()->sensorName) : 0;
}

zvStatus SensorTargetPage::ShowTarget(zvHandle* info, zvXmlItem* sensor, int32_t* vertices) {
    *info = 0;
    *sensor = 0;
    *vertices = 0;
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvHandle pipe = 0;
    zvStatus status = ClientPipe(&pipe);
    if (status <= 0) return status;
    if ((status = zvPipeSetCurrentMode(pipe, kModeCalibration)) <= 0) return status;

    zvHandle settings = 0;
    if ((status = server->ReadServerInfo(&settings)) <= 0) return ReportReadFailure(server, status);
    const zvXmlItem group = SensorGroup(settings);
    if (group == 0) {
        zvAppInfoDestroy(settings);
        return ReportMissingSensor();
    }

    zvHandle target = 0;
    status = ReadSettingsTarget(settings, &target);
    if (status > 0) status = ShowCalibrationTarget(target, DisplayForDrawing(0));
    const int32_t count = zvArrayListCount(target);
    if (target != 0) zvArrayListDestroy(target);
    const zvXmlItem entry = status > 0 ? zvAppInfoSensorFromParent(settings, group, Sensor()->sensorName) : 0;
    if (status > 0 && entry == 0) status = ReportMissingSensor();
    if (status <= 0) {
        zvAppInfoDestroy(settings);
        return status;
    }
    *info = settings;
    *sensor = entry;
    *vertices = count;
    return 1;
}

int32_t SensorTargetPage::Activate() {
    zvHandle info = 0;
    zvXmlItem sensor = 0;
    int32_t vertices = 0;
    zvStatus status = ShowTarget(&info, &sensor, &vertices);
    if (status <= 0) return status;
    status = ShowSensor(zvAppInfoXml(info), sensor, vertices);
    // Controls filled in part hold no values to write.
    sensorShown_ = status > 0;
    zvAppInfoDestroy(info);
    return status <= 0 ? status : 1;
}

int32_t SensorTargetPage::Apply() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvHandle info = 0;
    zvStatus status = server->ReadServerInfo(&info);
    if (status <= 0) return ReportReadFailure(server, status, true);
    const zvXmlItem sensor = SensorEntry(info);
    if (sensor == 0) {
        status = ReportMissingSensor();
    } else if (!sensorShown_) {
        // Controls that never showed the sensor's values (its target could
        // not be drawn) hold no values of it to write.
        status = Report("Nothing was written: the page does not show the sensor's values (show the page again).",
                        ZV_E_STATE);
    } else if ((status = WriteSensor(zvAppInfoXml(info), sensor)) <= 0) {
        status = ReportFailure("Nothing was written: cannot set the sensor's values", status);
    } else if ((status = server->WriteServerInfo(info)) <= 0) {
        status = ReportFailure("Cannot write the settings of " + ServerName(server), status);
    }
    zvAppInfoDestroy(info);
    return status <= 0 ? status : 1;
}
