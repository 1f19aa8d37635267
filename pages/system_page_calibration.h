// System Calibration (1013, "Calibration"): guides the operator through a
// system calibration run. Showing it puts the station pipe, then the client
// pipe, into "Calibration"; the station computes and stores the
// calibration. "Delete Calibration" removes the stored Calibration.xml.
// No node lists this page; the host opens it by identifier.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_CALIBRATION_H
#define TORVANE_PAGES_SYSTEM_PAGE_CALIBRATION_H

#include "pages/config_page.h"

// Deletes "Calibration.xml" from the storage of `server`, without asking:
// 1 when it is gone (also when there was none), else the failing status.
// Also the "Delete" button of the System Setup page.
zvStatus DeleteCalibrationFile(ServerNode* server);

class CSystemPageCalibration : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageCalibration)

public:
    CSystemPageCalibration();
    ~CSystemPageCalibration() override;

    // Station pipe, client pipe, then the display layout 1.
    int32_t Activate() override;
    const char* PageName() const override { return "Calibration"; }

protected:
    void OnDeleteCalibration();

    WF_DECLARE_MESSAGE_MAP()
};

#endif
