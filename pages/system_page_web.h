// System Web (1023, "Web"): the settings of transverse scanning, where the
// station delivers range profiles synchronously, at a fixed time interval
// ("Time Sync") or a fixed encoder distance ("Encoder Sync"), with a given X
// resolution. Showing it puts the station pipe, then the client pipe, into
// "Web" and clears display 0. Its controls edit the server node's cache of
// the system settings, shared with the System Run and System Free Running
// pages; the cache reaches Settings.xml at Apply and at every activation.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_WEB_H
#define TORVANE_PAGES_SYSTEM_PAGE_WEB_H

#include "pages/config_page.h"

class CSystemPageWeb : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageWeb)

public:
    CSystemPageWeb();
    ~CSystemPageWeb() override;

    // Writes the cache into Settings.xml: 1 once written. A cache never read
    // from the file is not written (ZV_E_STATE), nor is one whose file is
    // gone or cannot be read or written; each is told to the operator.
    int32_t Apply() override;
    // Station pipe, the settings read, client pipe, the empty plot; then
    // the cache loaded, shown and saved. Settings that cannot be read end
    // it, told, with the edits empty.
    int32_t Activate() override;
    const char* PageName() const override { return "Web"; }

    // The cached values into the controls, the method's radio button
    // checked and its controls enabled; no values and no method while the
    // cache holds none of the file.
    void WebShowSettings();
    // 1 (time): the time interval's controls enabled, the encoder's
    // disabled; 0 (encoder): the other way round; any other value changes
    // nothing.
    void WebEnableSyncControls(int32_t method);

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnXResolution();
    void OnTime();
    void OnDistance();
    void OnOutputBatching();
    void OnEncoderResolution();
    void OnTimeSync();
    void OnEncoderSync();

    WF_DECLARE_MESSAGE_MAP()

private:
    void Modified();

    wf::Button timeSync_;
    wf::Button encoderSync_;
};

#endif
