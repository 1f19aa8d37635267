#include "pages/sensor_page_setup.h"

#include <algorithm>

#include "modes/run_state.h"
#include "pages/sensor_page_setup_ids.h"
#include "pages/text_numbers.h"

using namespace sensor_setup;

namespace {

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

zvStatus CSensorPageSetup::ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t vertices) {
    int32_t value = 0;
    zvStatus status = zvXMLGetChildInt(xml, sensor, "Orientation", &value);
    if (status <= 0) return status;
    orientation_.SetCurSel(value);
    if ((status = zvXMLGetChildInt(xml, sensor, "Multiplex", &value)) <= 0) return status;
    multiplex_.SetCurSel(value);
    if ((status = zvXMLGetChildInt(xml, sensor, "VertexView", &value)) <= 0) return status;
    FillNumbers(vertexView_, VertexViewEntries(vertices, value));
    vertexView_.SetCurSel(value);
    // A sensor without the element has exposure mode 0.
    zvXmlItem item = 0;
    int32_t exposure = 0;
    if ((status = zvXMLFindBranchItem(xml, sensor, "Exposure", 1, &item)) <= 0) return status;
    if (item != 0 && (status = zvXMLGetItemInt(xml, item, &exposure)) <= 0) return status;
    FillNumbers(exposure_, 2);
    exposure_.SetCurSel(exposure);
    if ((status = zvXMLGetChildInt(xml, sensor, "DetectionThreshold", &value)) <= 0) return status;
    threshold_.SetWindowText(IntegerText(value).c_str());
    return 1;
}

zvStatus CSensorPageSetup::WriteSensor(zvHandle xml, zvXmlItem sensor) {
    // Each list stands for the position of its selection (-1: none).
    zvStatus status = zvXMLSetChildInt(xml, sensor, "Orientation", orientation_.GetCurSel());
    if (status > 0) status = zvXMLSetChildInt(xml, sensor, "Multiplex", multiplex_.GetCurSel());
    if (status > 0) status = zvXMLSetChildInt(xml, sensor, "VertexView", vertexView_.GetCurSel());
    if (status > 0)
        status = zvXMLSetChildInt(xml, sensor, "DetectionThreshold", IntegerValue(threshold_.GetWindowText().c_str()));
    if (status > 0) status = zvXMLSetChildInt(xml, sensor, "Exposure", exposure_.GetCurSel());
    return status;
}
