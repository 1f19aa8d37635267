#include "pages/system_page_tuning.h"

#include <cstdio>

#include "pages/system_page_tuning_ids.h"
#include "pages/text_numbers.h"
#include "plugin/pipe_modes.h"

using namespace system_tuning;

namespace {
constexpr char kCalibrationFile[] = "Calibration.xml";

// The entry `index` of a loaded set, or null when the set has none there.
const CalibrationEntry* EntryAt(const CalibrationSet* set, int32_t index) {
    if (set == nullptr || set->present == 0) return nullptr;
    return static_cast<const CalibrationEntry*>(zvArrayListAt(set->entries, index));
}
}  // namespace

WF_IMPLEMENT_DYNAMIC(CSystemPageTuning, ConfigPage)

WF_BEGIN_MESSAGE_MAP(CSystemPageTuning, ConfigPage)
WF_ON_SELCHANGE(kSensorList, &CSystemPageTuning::OnSelectSensor)
WF_ON_EDIT_CHANGE(kRotateEdit, &CSystemPageTuning::OnRotateChange)
WF_ON_EDIT_CHANGE(kYEdit, &CSystemPageTuning::OnYChange)
WF_ON_EDIT_CHANGE(kXEdit, &CSystemPageTuning::OnXChange)
WF_ON_CLICKED(kRotateDown, &CSystemPageTuning::OnRotateDown)
WF_ON_CLICKED(kRotateUp, &CSystemPageTuning::OnRotateUp)
WF_ON_CLICKED(kYDown, &CSystemPageTuning::OnYDown)
WF_ON_CLICKED(kYUp, &CSystemPageTuning::OnYUp)
WF_ON_CLICKED(kXDown, &CSystemPageTuning::OnXDown)
WF_ON_CLICKED(kXUp, &CSystemPageTuning::OnXUp)
WF_END_MESSAGE_MAP()

CSystemPageTuning::CSystemPageTuning() : ConfigPage(kPageSystemTuning) {}

CSystemPageTuning::~CSystemPageTuning() = default;

void CSystemPageTuning::DoDataExchange(wf::DataExchange* exchange) {
    ConfigPage::DoDataExchange(exchange);
    wf::BindControl(exchange, kSensorList, sensors_);
    wf::BindControl(exchange, kRotateEdit, rotate_);
    wf::BindControl(exchange, kYEdit, y_);
    wf::BindControl(exchange, kXEdit, x_);
}

int32_t CSystemPageTuning::Activate() {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    zvHandle clientPipe = 0;
    zvStatus status = ClientPipe(&clientPipe);
    if (status <= 0) return status;
    if ((status = zvPipeSetCurrentMode(clientPipe, kModeFree)) <= 0) return status;
    zvHandle stationPipe = 0;
    if ((status = server->StationPipe(&stationPipe)) <= 0) return status;
    if ((status = zvPipeSetCurrentMode(stationPipe, kModeFree)) <= 0) return status;

    zvLastErrorClear();
    if (!CalibrationFileExists()) {
        ShowNoCalibration();
        sensorsListed_ = 0;
    } else if (sensorsListed_ == 1) {
        selectedIndex_ = sensors_.GetCurSel();
        status = LoadSelected();
    } else {
        status = FillSensors();
        sensorsListed_ = status > 0 ? 1 : 0;  // a list not filled is filled next time
    }
    // A file that cannot be read leaves the controls as they were, told.
    if (status <= 0) return ReportFailure("Cannot read Calibration.xml of " + ServerName(server), status);
    return 1;
}

bool CSystemPageTuning::Path(char* path) const {
    ServerNode* server = Server();
    if (server == nullptr) return false;
    FormatServerPath(path, kServerFileFormat, server->serialNumber, kCalibrationFile);
    return true;
}

bool CSystemPageTuning::CalibrationFileExists() {
    ServerNode* server = Server();
    if (server == nullptr) return false;
    zvHandle serverHandle = 0;
    zvHandle storage = 0;
    server->ServerHandle(&serverHandle);
    zvServerGetStorageHandle(serverHandle, &storage);
    int64_t size = 0;
    return zvStorageFileSize(storage, kCalibrationFile, &size) > 0;
}

void CSystemPageTuning::ShowNoCalibration() {
    sensors_.ResetContent();
    sensors_.SetCurSel(sensors_.AddString("Please perform Calibration first."));
    // Emptied edits are no values: their change notices store nothing, so
    // that a calibration the client still holds keeps its coefficients.
    clearing_ = true;
    rotate_.SetWindowText("");
    x_.SetWindowText("");
    y_.SetWindowText("");
    clearing_ = false;
    EnableControls(false);
}

zvStatus CSystemPageTuning::FillSensors() {
    sensors_.ResetContent();
    char path[kServerPathSize];
    if (!Path(path)) return ZV_E_STATE;
    CalibrationSet* set = nullptr;
    const zvStatus status = LoadCalibration(path, 0, &set);
    if (status <= 0) return status;
    zvStatus result = 1;
    if (set->present != 0) {
        const int32_t count = zvArrayListCount(set->entries);
        for (int32_t i = 0; i < count; ++i) {
            // Two digits keep the sorted list in entry order.
            char item[48];
            std::snprintf(item, sizeof item, i < 10 ? "0%d: S/N %d" : "%d: S/N %d", i, EntryAt(set, i)->serialNumber);
            sensors_.AddString(item);
        }
        if (count > 0) {
            selectedIndex_ = 0;
            sensors_.SetCurSel(0);
            result = LoadSelected();
        }
    } else {
        EnableControls(false);
    }
    FreeCalibration(set);
    return result;
}

zvStatus CSystemPageTuning::LoadSelected() {
    char path[kServerPathSize];
    if (!Path(path)) return ZV_E_STATE;
    CalibrationSet* set = nullptr;
    const zvStatus status = LoadCalibration(path, 0, &set);
    if (status <= 0) return status;
    // An index beyond a file that has fewer entries now names none.
    if (const CalibrationEntry* loaded = EntryAt(set, selectedIndex_)) {
        entry = *loaded;
        Show(rotate_, entry.t);
        Show(x_, entry.x);
        Show(y_, entry.y);
        EnableControls(true);
    }
    FreeCalibration(set);
    return 1;
}

zvStatus CSystemPageTuning::Store() {
    char path[kServerPathSize];
    if (!Path(path)) return ZV_E_STATE;
    zvLastErrorClear();
    CalibrationSet* set = nullptr;
    zvStatus status = LoadCalibration(path, 0, &set);
    if (status <= 0) return ReportFailure("Cannot read Calibration.xml of " + ServerName(Server()), status);
    if (set->present != 0) {
        // The save writes every entry into the first element of its serial
        // number, the last entry last: every entry of the working serial
        // number takes the working values, so that the edit reaches that
        // element whichever of them follow.
        const int32_t count = zvArrayListCount(set->entries);
        for (int32_t i = 0; i < count; ++i) {
            auto* stored = static_cast<CalibrationEntry*>(zvArrayListAt(set->entries, i));
            if (stored->serialNumber != entry.serialNumber) continue;
            stored->x = entry.x;
            stored->y = entry.y;
            stored->t = entry.t;
        }
        status = SaveCalibration(set, path, 1);
        if (status <= 0) ReportFailure("Cannot write Calibration.xml of " + ServerName(Server()), status);
    }
    FreeCalibration(set);
    return status;
}

void CSystemPageTuning::EnableControls(bool enable) {
    for (int32_t id : kAllControls)
        if (wf::Window* control = GetDlgItem(id)) control->EnableWindow(enable);
}

void CSystemPageTuning::Show(wf::Edit& edit, double value) { edit.SetWindowText(CoefficientText(value).c_str()); }

void CSystemPageTuning::Step(double* value, double step, wf::Edit& edit) {
    *value += step;
    Show(edit, *value);  // stores the value as shown
    Store();
}

void CSystemPageTuning::OnSelectSensor() {
    selectedIndex_ = sensors_.GetCurSel();
    zvLastErrorClear();
    const zvStatus status = LoadSelected();
    if (status <= 0) ReportFailure("Cannot read Calibration.xml of " + ServerName(Server()), status);
}

void CSystemPageTuning::OnRotateChange() {
    if (clearing_) return;
    entry.t = DecimalValue(rotate_.GetWindowText().c_str());
    Store();
}

void CSystemPageTuning::OnYChange() {
    if (clearing_) return;
    entry.y = DecimalValue(y_.GetWindowText().c_str());
    Store();
}

void CSystemPageTuning::OnXChange() {
    if (clearing_) return;
    entry.x = DecimalValue(x_.GetWindowText().c_str());
    Store();
}
