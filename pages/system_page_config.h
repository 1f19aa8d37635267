// System Config (1022, "Setup"): creates a fresh default Settings.xml for a
// number of sensors on the server. The only page a limited server node
// offers. The client pipe is disabled while the page is current, so that no
// data flows while the settings are replaced.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_CONFIG_H
#define TORVANE_PAGES_SYSTEM_PAGE_CONFIG_H

#include "pages/config_page.h"

class CSystemPageConfig : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageConfig)

public:
    CSystemPageConfig();
    ~CSystemPageConfig() override;

    // Disables the client pipe and shows "0" sensors.
    int32_t Activate() override;
    // Enables the client pipe again.
    int32_t Deactivate() override;
    const char* PageName() const override { return "Setup"; }

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    // "Create Settings.xml": 1 to 48 sensors write the default document
    // and tell the host; anything else only shows "Invalid number of
    // sensors entered!".
    void OnCreateSettings();

    WF_DECLARE_MESSAGE_MAP()

private:
    wf::Edit sensors_;
};

#endif
