// System Tuning (1024, "Fine Calibration"): after a system calibration has
// stored Calibration.xml on the server, the operator picks one sensor and
// adjusts its three coefficients by hand: rotation T (radians), Y and X
// translation (inches). Every change is written to Calibration.xml at
// once; the station takes it into effect when it next starts. While the
// page is current both pipes run "Free", which shows every sensor's data.
//
// The file is the one source of truth: the page keeps only the selected
// entry's index and a working copy of that entry between a load and the
// next store. Setting an edit's text raises its change notice, so every
// value the page shows is stored as shown (rounded to 8 decimals).
#ifndef TORVANE_PAGES_SYSTEM_PAGE_TUNING_H
#define TORVANE_PAGES_SYSTEM_PAGE_TUNING_H

#include "pages/config_page.h"
#include "plugin/calibration.h"

class CSystemPageTuning : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageTuning)

public:
    CSystemPageTuning();
    ~CSystemPageTuning() override;

    // Client pipe, then station pipe, to "Free" (a failure ends it with its
    // status); then the sensors listed afresh, the selected one reloaded,
    // or, without Calibration.xml on the server, the disabled "Please
    // perform Calibration first." state. 1 once both pipes switched and
    // Calibration.xml was read (when there is one); a file that cannot be
    // read leaves the controls as they were and is told to the operator.
    int32_t Activate() override;
    const char* PageName() const override { return "Fine Calibration"; }

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnSelectSensor();
    void OnRotateChange();
    void OnYChange();
    void OnXChange();
    void OnRotateDown() { Step(&entry.t, -kRotateStep, rotate_); }
    void OnRotateUp() { Step(&entry.t, kRotateStep, rotate_); }
    void OnYDown() { Step(&entry.y, -kTranslateStep, y_); }
    void OnYUp() { Step(&entry.y, kTranslateStep, y_); }
    void OnXDown() { Step(&entry.x, -kTranslateStep, x_); }
    void OnXUp() { Step(&entry.x, kTranslateStep, x_); }

    WF_DECLARE_MESSAGE_MAP()

private:
    static constexpr double kRotateStep = 0.001;    // radians
    static constexpr double kTranslateStep = 0.05;  // inches

    // Whether the server's storage holds Calibration.xml.
    bool CalibrationFileExists();
    void ShowNoCalibration();
    // Lists the entries ("00: S/N 1000", ...) and loads the first.
    zvStatus FillSensors();
    // Loads entry `selectedIndex_` into the working copy and the edits; an
    // index the file has no entry for changes nothing (1).
    zvStatus LoadSelected();
    // Writes the working copy into the file's first element of its serial
    // number; a failure is told to the operator.
    zvStatus Store();
    void EnableControls(bool enable);
    void Show(wf::Edit& edit, double value);
    void Step(double* value, double step, wf::Edit& edit);
    // The path of the server's Calibration.xml; false without a server.
    bool Path(char* path) const;

    int32_t selectedIndex_ = 0;
    int32_t sensorsListed_ = 0;
    bool clearing_ = false;    // the edits are being emptied, not edited
    CalibrationEntry entry{};  // the working copy

    wf::ComboBox sensors_;
    wf::Edit rotate_;
    wf::Edit y_;
    wf::Edit x_;
};

#endif
