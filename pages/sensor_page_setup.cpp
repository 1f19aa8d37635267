#include "pages/sensor_page_setup.h"

#include <algorithm>

#include "modes/run_state.h"
#include "pages/text_numbers.h"

namespace {
constexpr int32_t kOrientationList = 1014;
constexpr int32_t kMultiplexList = 1020;
constexpr int32_t kVertexViewList = 1021;
constexpr int32_t kThresholdEdit = 1001;
constexpr int32_t kExposureList = 1051;

// Reads the integer child `name` of the sensor; false, with `*value`
// untouched, when the read fails.
bool ReadInt(zvHandle xml, zvXmlItem sensor, const char* name, int32_t* value) {
    int32_t read = 0;
    if (zvXMLGetChildInt(xml, sensor, name, &read) <= 0) return false;
    *value = read;
    return true;
}

bool ReadItemInt(zvHandle xml, zvXmlItem item, int32_t* value) {
    int32_t read = 0;
    if (zvXMLGetItemInt(xml, item, &read) <= 0) return false;
    *value = read;
    return true;
}

// Entries "0" to "count - 1", in the order added, so that position and
// number agree.
void FillNumbers(wf::ComboBox& list, uint32_t count) {
    list.ResetContent();
    for (uint32_t i = 0; i < count; ++i) list.AddString(UnsignedText(i).c_str());
}

// The number of entries of the "Vertex View" list for a target of
// `vertices` vertices and a stored view `view`: enough to show every
// vertex and the stored view. A stored view that no run can have (below 0,
// or beyond the views a run keeps: -1 after an Apply without a choice, or
// a damaged file) adds no entries: it shows as no selection.
uint32_t VertexViewEntries(int32_t vertices, int32_t view) {
    const auto v = static_cast<uint32_t>(std::max(vertices, 0));
    const auto w = static_cast<uint32_t>(view);
    return w < kViewSlots ? std::max(v, w) : v;
}
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSensorPageSetup, SensorTargetPage)

WF_BEGIN_MESSAGE_MAP(CSensorPageSetup, SensorTargetPage)
WF_ON_SELCHANGE(kOrientationList, &CSensorPageSetup::OnChange)
WF_ON_SELCHANGE(kMultiplexList, &CSensorPageSetup::OnChange)
WF_ON_SELCHANGE(kVertexViewList, &CSensorPageSetup::OnChange)
WF_ON_SELCHANGE(kExposureList, &CSensorPageSetup::OnChange)
WF_ON_EDIT_KILLFOCUS(kThresholdEdit, &CSensorPageSetup::OnChange)
WF_END_MESSAGE_MAP()

CSensorPageSetup::CSensorPageSetup() : SensorTargetPage(kPageSensorSetup) {}

CSensorPageSetup::~CSensorPageSetup() = default;

void CSensorPageSetup::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kOrientationList, orientation_);
    wf::BindControl(exchange, kMultiplexList, multiplex_);
    wf::BindControl(exchange, kVertexViewList, vertexView_);
    wf::BindControl(exchange, kThresholdEdit, threshold_);
    wf::BindControl(exchange, kExposureList, exposure_);
}

int32_t CSensorPageSetup::Activate() {
    zvHandle info = 0;
    zvXmlItem sensor = 0;
    int32_t vertices = 0;
    zvStatus status = ShowTarget(&info, &sensor, &vertices);
    if (info == 0) return status;
    if (sensor != 0) status = ShowSensor(zvAppInfoXml(info), sensor, vertices);
    zvAppInfoDestroy(info);
    return status <= 0 ? status : 1;
}

zvStatus CSensorPageSetup::ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t vertices) {
    // A value that cannot be read leaves its control as it was.
    int32_t value = 0;
    if (ReadInt(xml, sensor, "Orientation", &value)) orientation_.SetCurSel(value);
    if (ReadInt(xml, sensor, "Multiplex", &value)) multiplex_.SetCurSel(value);
    if (ReadInt(xml, sensor, "VertexView", &value)) {
        FillNumbers(vertexView_, VertexViewEntries(vertices, value));
        vertexView_.SetCurSel(value);
    }
    zvXmlItem item = 0;
    const zvStatus status = zvXMLFindBranchItem(xml, sensor, "Exposure", 1, &item);
    if (status <= 0) return status;
    // A sensor without the element has exposure mode 0.
    int32_t exposure = 0;
    if (item == 0 || ReadItemInt(xml, item, &exposure)) {
        FillNumbers(exposure_, 2);
        exposure_.SetCurSel(exposure);
    }
    if (ReadInt(xml, sensor, "DetectionThreshold", &value)) threshold_.SetWindowText(IntegerText(value).c_str());
    sensorShown = true;
    return 1;
}

int32_t CSensorPageSetup::Apply() {
    ServerNode* server = Server();
    zvHandle info = 0;
    if (server == nullptr || server->ReadServerInfo(&info) <= 0) return 1;
    SensorNode* sensorNode = Sensor();
    const zvXmlItem group = sensorNode != nullptr ? zvAppInfoGroupFromPath(info, sensorNode->groupPath) : 0;
    const zvXmlItem sensor = group != 0 ? zvAppInfoSensorFromParent(info, group, sensorNode->sensorName) : 0;
    // Controls that never showed the sensor's values (its target could not
    // be drawn) hold no values of it to write.
    if (sensor != 0 && sensorShown) {
        // Each list stands for the position of its selection (-1: none).
        const zvHandle xml = zvAppInfoXml(info);
        zvXMLSetChildInt(xml, sensor, "Orientation", orientation_.GetCurSel());
        zvXMLSetChildInt(xml, sensor, "Multiplex", multiplex_.GetCurSel());
        zvXMLSetChildInt(xml, sensor, "VertexView", vertexView_.GetCurSel());
        zvXMLSetChildInt(xml, sensor, "DetectionThreshold", IntegerValue(threshold_.GetWindowText().c_str()));
        zvXMLSetChildInt(xml, sensor, "Exposure", exposure_.GetCurSel());
    }
    server->WriteServerInfo(info);
    zvAppInfoDestroy(info);
    return 1;
}
