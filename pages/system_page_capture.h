// System Capture (1020, "Capture"): records data for diagnostic analysis.
// While the page is current the client records what it receives (capture
// on, segments of 200000000 bytes) with its own pipe disabled, and the
// first server's station pipe runs the mode chosen on the page, with the
// capture settings (interception point, reduction factor, on or off) in
// that server's Settings.xml. Leaving the page stops the recording and
// enables the client pipe again. The page belongs to the capture node and
// always works on the first server of the client.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_CAPTURE_H
#define TORVANE_PAGES_SYSTEM_PAGE_CAPTURE_H

#include "pages/config_page.h"

// The mode of list index `index`: "Free", "Calibration", "Detection",
// "Web"; "Unknown" for any other index.
const char* CaptureModeName(int32_t index);

class CSystemPageCapture : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageCapture)

public:
    CSystemPageCapture();
    ~CSystemPageCapture() override;

    // Disables the client pipe; when the first server has Settings.xml,
    // switches capture on and applies the page's settings. Without it
    // nothing is captured: ZV_E_NOTFOUND, told to the operator.
    int32_t Activate() override;
    // Enables the client pipe, switches capture off and applies the
    // settings with "Enabled" 0.
    int32_t Deactivate() override;
    const char* PageName() const override { return "Capture"; }

    // Writes the capture settings into the first server's Settings.xml and
    // then switches its station pipe to the chosen mode; 1 without doing
    // either when that server has no Settings.xml (`*written`, when given,
    // tells which). ZV_E_NOTFOUND for a client without servers.
    zvStatus CaptureApply(bool* written = nullptr);

protected:
    // The lists select the page's mode and source, the edit shows the
    // reduction.
    bool OnInitDialog() override;
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnModeChange();
    void OnSourceChange();
    // Edits of the reduction outside 0 to 2147483647 (what "Divisor" holds)
    // are refused and told; the edit shows the reduction kept.
    void OnReductionKillFocus();

    WF_DECLARE_MESSAGE_MAP()

private:
    // CaptureApply for a control's change: a failure, or settings not
    // written, told to the operator.
    void ApplyChange();
    // Tells the operator that nothing is captured for want of settings on
    // server `serial`: ZV_E_NOTFOUND.
    zvStatus ReportAbsent(uint32_t serial) const;
    // The first server of the client and the path of its settings.
    zvStatus FirstServer(zvHandle client, uint32_t* server, char* path);

    int32_t modeIndex_ = 2;    // "Detection"
    int32_t sourceIndex_ = 3;  // "Server"
    int32_t reduction_ = 1;    // 0 to 2147483647, as "Divisor" holds it
    int32_t captureOn_ = 0;

    wf::ComboBox mode_;
    wf::ComboBox source_;
    wf::Edit reductionEdit_;
};

#endif
