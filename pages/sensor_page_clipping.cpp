#include "pages/sensor_page_clipping.h"

#include "pages/sensor_page_clipping_ids.h"
#include "pages/text_numbers.h"

using namespace sensor_clipping;

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

zvStatus CSensorPageClipping::ShowSensor(zvHandle xml, zvXmlItem sensor, int32_t) {
    for (auto [name, edit] : {std::pair{"RangeClipMinY", &minY_}, std::pair{"RangeClipMaxY", &maxY_},
                              std::pair{"RangeClipMinX", &minX_}, std::pair{"RangeClipMaxX", &maxX_}}) {
        // A missing element reads as 0.
        int32_t value = 0;
        const zvStatus status = zvXMLGetChildInt(xml, sensor, name, &value);
        if (status <= 0) return status;
        edit->SetWindowText(IntegerText(value).c_str());
    }
    return 1;
}

zvStatus CSensorPageClipping::WriteSensor(zvHandle xml, zvXmlItem sensor) {
    zvStatus status = 1;
    for (auto [name, edit] : {std::pair{"RangeClipMinY", &minY_}, std::pair{"RangeClipMaxY", &maxY_},
                              std::pair{"RangeClipMinX", &minX_}, std::pair{"RangeClipMaxX", &maxX_}}) {
        if (status > 0) status = zvXMLSetChildInt(xml, sensor, name, IntegerValue(edit->GetWindowText().c_str()));
    }
    return status;
}
