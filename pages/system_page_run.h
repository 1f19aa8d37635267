// System Run (1015, "Detection"): the settings of the object-detection run.
// Showing it puts the client pipe, then the station pipe, into "Detection"
// (the station runs its full object state machine, filters overlapping data
// and outputs the objects slice by slice). Its controls edit the server
// node's cache of the system settings, which the System Free Running and
// System Web pages share; the cache reaches Settings.xml at Apply and at
// every activation of those three pages.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_RUN_H
#define TORVANE_PAGES_SYSTEM_PAGE_RUN_H

#include "pages/config_page.h"

class CSystemPageRun : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageRun)

public:
    CSystemPageRun();
    ~CSystemPageRun() override;

    // Writes the cache into Settings.xml: 1 once written. A cache never read
    // from the file is not written (ZV_E_STATE), nor is one whose file is
    // gone or cannot be read or written; each is told to the operator.
    int32_t Apply() override;
    // Reads Settings.xml into the cache afresh and shows it; settings that
    // cannot be read leave the cache as it was, told.
    int32_t Reload() override;
    // Client pipe, layout 0, station pipe; then the cache is loaded (once
    // per server node), shown and saved. Settings that cannot be read end
    // it, told, with the edits empty.
    int32_t Activate() override;
    const char* PageName() const override { return "Detection"; }

    // The six cached values into the controls; none while the cache holds
    // no values of the file.
    void RunShowSettings();

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    // Focus loss of an edit: the cache takes the value typed, as typed
    // (integers up to the first other character, no range checked).
    void OnOutputBatchCount();
    void OnEncoderResolution();
    void OnOutputInterval();
    void OnDetectionThreshold();
    void OnObstructionY();
    void OnOverlapFilter();

    WF_DECLARE_MESSAGE_MAP()

private:
    // The server node, after telling the host that the page holds changes;
    // null (and nothing told) when the page has none.
    ServerNode* Changed();
    int32_t EditInteger(int32_t id) const;

    wf::Button overlapFilter_;
};

#endif
