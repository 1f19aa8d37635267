#include "pages/sensor_page_clipping.h"

#include "pages/text_numbers.h"

namespace {
constexpr int32_t kMinYEdit = 1027;
constexpr int32_t kMaxYEdit = 1028;
constexpr int32_t kMinXEdit = 1029;
constexpr int32_t kMaxXEdit = 1030;
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSensorPageClipping, SensorTargetPage)

WF_BEGIN_MESSAGE_MAP(CSensorPageClipping, SensorTargetPage)
WF_ON_EDIT_KILLFOCUS(kMinYEdit, &CSensorPageClipping::OnChange)
WF_ON_EDIT_KILLFOCUS(kMaxYEdit, &CSensorPageClipping::OnChange)
WF_ON_EDIT_KILLFOCUS(kMinXEdit, &CSensorPageClipping::OnChange)
WF_ON_EDIT_KILLFOCUS(kMaxXEdit, &CSensorPageClipping::OnChange)
WF_END_MESSAGE_MAP()

CSensorPageClipping::CSensorPageClipping() : SensorTargetPage(kPageSensorClipping) {}

CSensorPageClipping::~CSensorPageClipping() = default;

void CSensorPageClipping::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kMinYEdit, minY_);
    wf::BindControl(exchange, kMaxYEdit, maxY_);
    wf::BindControl(exchange, kMinXEdit, minX_);
    wf::BindControl(exchange, kMaxXEdit, maxX_);
}

int32_t CSensorPageClipping::Activate() {
    zvHandle info = 0;
    zvXmlItem sensor = 0;
    int32_t vertices = 0;
    const zvStatus status = ShowTarget(&info, &sensor, &vertices);
    if (info == 0) return status;
    if (sensor != 0) {
        const zvHandle xml = zvAppInfoXml(info);
        for (auto [name, edit] : {std::pair{"RangeClipMinY", &minY_}, std::pair{"RangeClipMaxY", &maxY_},
                                  std::pair{"RangeClipMinX", &minX_}, std::pair{"RangeClipMaxX", &maxX_}}) {
            // A missing element reads as 0; a read that fails leaves the
            // edit as it was.
            int32_t value = 0;
            if (zvXMLGetChildInt(xml, sensor, name, &value) > 0) edit->SetWindowText(IntegerText(value).c_str());
        }
        boxShown = true;
    }
    zvAppInfoDestroy(info);
    return 1;
}

int32_t CSensorPageClipping::Apply() {
    ServerNode* server = Server();
    zvHandle info = 0;
    if (server == nullptr || server->ReadServerInfo(&info) <= 0) return 1;
    SensorNode* sensorNode = Sensor();
    const zvXmlItem group = sensorNode != nullptr ? zvAppInfoGroupFromPath(info, sensorNode->groupPath) : 0;
    const zvXmlItem sensor = group != 0 ? zvAppInfoSensorFromParent(info, group, sensorNode->sensorName) : 0;
    // Edits that never showed the sensor's box (its target could not be
    // drawn) hold no box of it to write.
    if (sensor != 0 && boxShown) {
        const zvHandle xml = zvAppInfoXml(info);
        zvXMLSetChildInt(xml, sensor, "RangeClipMinY", IntegerValue(minY_.GetWindowText().c_str()));
        zvXMLSetChildInt(xml, sensor, "RangeClipMaxY", IntegerValue(maxY_.GetWindowText().c_str()));
        zvXMLSetChildInt(xml, sensor, "RangeClipMinX", IntegerValue(minX_.GetWindowText().c_str()));
        zvXMLSetChildInt(xml, sensor, "RangeClipMaxX", IntegerValue(maxX_.GetWindowText().c_str()));
    }
    server->WriteServerInfo(info);
    zvAppInfoDestroy(info);
    return 1;
}
