#include "pages/system_page_setup.h"

#include <cstdio>

#include "modes/drawing.h"
#include "pages/system_page_calibration.h"
#include "pages/system_page_setup_ids.h"
#include "pages/text_numbers.h"
#include "plugin/calibration.h"
#include "plugin/pipe_modes.h"

using namespace system_setup;

std::string VertexLine(int32_t index, int32_t x, int32_t y) {
    char line[64];
    std::snprintf(line, sizeof line, index < 10 ? "        0%d: %7d, %7d" : "        %d: %7d, %7d", index, x, y);
    return line;
}

WF_IMPLEMENT_DYNAMIC(CSystemPageSetup, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageSetup, ConfigPage)
WF_ON_CLICKED(kAddButton, &CSystemPageSetup::OnAddVertex)
WF_ON_CLICKED(kRemoveButton, &CSystemPageSetup::OnRemoveVertex)
WF_ON_CLICKED(kDeleteButton, &CSystemPageSetup::OnDeleteCalibration)
WF_END_MESSAGE_MAP()

CSystemPageSetup::CSystemPageSetup() : ConfigPage(kPageSystemSetup) {}

CSystemPageSetup::~CSystemPageSetup() {
    if (targetList_ != 0) zvArrayListDestroy(targetList_);
}

void CSystemPageSetup::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kVertexList, vertices_);
    wf::BindControl(exchange, kXEdit, x_);
    wf::BindControl(exchange, kYEdit, y_);
}

int32_t CSystemPageSetup::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvStatus status = SwitchStationPipe(server, kModeCalibration);
    if (status <= 0) return status;
    zvHandle clientPipe = 0;
    if ((status = ClientPipe(&clientPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeCalibration)) <= 0) return status;

    // An Activate without a Deactivate before it starts afresh too.
    if (targetList_ != 0) zvArrayListDestroy(targetList_);
    targetList_ = 0;
    targetRead_ = false;
    status = zvArrayListCreate(&targetList_, 0);
    if (status > 0) status = zvArrayListInit(targetList_, ZV_TYPE_POINT32, 0, 1);
    if (status <= 0) {
        if (targetList_ != 0) zvArrayListDestroy(targetList_);
        targetList_ = 0;
        ShowVertexLines();
        return status;
    }

    zvHandle info = 0;
    if ((status = server->ReadServerInfo(&info)) <= 0) {
        ShowVertexLines();  // an empty target, which Apply will not store
        return ReportReadFailure(server, status);
    }
    status = ReadCalibrationTarget(zvAppInfoXml(info), targetList_);
    targetRead_ = status > 0;
    if (status > 0) status = ShowCalibrationTarget(targetList_, DisplayForDrawing(0));
    // The lines show what Apply would store, also when drawing failed.
    ShowVertexLines();
    zvAppInfoDestroy(info);
    return status <= 0 ? status : 1;
}

int32_t CSystemPageSetup::Apply() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    // A list that does not hold the stored target (it could not be read)
    // would replace that target with what the operator never saw.
    if (!targetRead_)
        return Report("Nothing was written: the target of " + ServerName(server) +
                          " was not read (show the page again to read it).",
                      ZV_E_STATE);
    zvHandle info = 0;
    zvStatus status = server->ReadServerInfo(&info);
    if (status <= 0) return ReportReadFailure(server, status, true);
    if (zvAppInfoRootGroup(info) == 0) {
        status = Report("Nothing was written: the settings of " + ServerName(server) + " hold no sensor group.", 0);
    } else if ((status = WriteCalibrationTarget(zvAppInfoXml(info), targetList_)) > 0) {
        status = ShowCalibrationTarget(targetList_, DisplayForDrawing(0));
    }
    if (status > 0 && (status = server->WriteServerInfo(info)) <= 0)
        ReportFailure("Cannot write the settings of " + ServerName(server), status);
    zvAppInfoDestroy(info);
    return status <= 0 ? status : 1;
}

int32_t CSystemPageSetup::Deactivate() {
    targetRead_ = false;
    if (targetList_ == 0) return 1;
    const zvStatus status = zvArrayListDestroy(targetList_);
    targetList_ = 0;
    return status;
}

void CSystemPageSetup::OnAddVertex() {
    const zvPoint32s vertex{IntegerValue(x_.GetWindowText().c_str()), IntegerValue(y_.GetWindowText().c_str())};
    // The line and the vertex go together: a vertex the list cannot take
    // is not shown either.
    if (zvArrayListAdd(targetList_, &vertex) <= 0) return;
    vertices_.AddString(VertexLine(vertices_.GetCount(), vertex.x, vertex.y).c_str());
    ChangeNotice();
}

void CSystemPageSetup::OnRemoveVertex() {
    // Nothing to remove: nothing removed. A vertex the list keeps stays
    // listed.
    const int32_t count = zvArrayListCount(targetList_);
    if (count > 0 && zvArrayListRemove(targetList_, count - 1) <= 0) return;
    const int32_t lines = vertices_.GetCount();
    if (lines > 0) vertices_.DeleteString(lines - 1);
    ChangeNotice();
}

void CSystemPageSetup::OnDeleteCalibration() {
    zvLastErrorClear();
    const zvStatus status = DeleteCalibrationFile(Server());
    if (status <= 0) ReportFailure("Cannot delete Calibration.xml of " + ServerName(Server()), status);
}

void CSystemPageSetup::ShowVertexLines() {
    vertices_.ResetContent();
    const int32_t count = zvArrayListCount(targetList_);
    const auto* vertex = static_cast<const zvPoint32s*>(zvArrayListData(targetList_));
    for (int32_t i = 0; vertex != nullptr && i < count; ++i)
        vertices_.AddString(VertexLine(i, vertex[i].x, vertex[i].y).c_str());
}
