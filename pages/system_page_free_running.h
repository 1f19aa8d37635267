// System Free Running (1014, "Free"): the range data of every sensor without
// regard to the encoder. Showing it puts the station pipe, then the client
// pipe, into "Free", tells the Free mode to show all sensors
// ("SelectedSensor" 0) and how many are enabled ("NumSensors"), clears
// display 0, and shows the one value it edits, the output batch count of
// the server node's cache (shared with the System Run and System Web pages).
#ifndef TORVANE_PAGES_SYSTEM_PAGE_FREE_RUNNING_H
#define TORVANE_PAGES_SYSTEM_PAGE_FREE_RUNNING_H

#include "pages/config_page.h"

class CSystemPageFreeRunning : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageFreeRunning)

public:
    CSystemPageFreeRunning();
    ~CSystemPageFreeRunning() override;

    // Writes the cache into Settings.xml: 1 once written. A cache never read
    // from the file is not written (ZV_E_STATE), nor is one whose file is
    // gone or cannot be read or written; each is told to the operator.
    int32_t Apply() override;
    // Reads Settings.xml into the cache afresh and shows it; settings that
    // cannot be read leave the cache as it was, told.
    int32_t Reload() override;
    // After the first activation "Transmit Input State" is hidden for good.
    // Settings that cannot be read end it, told, with the edit empty.
    int32_t Activate() override;
    const char* PageName() const override { return "Free"; }

    // The cached output batch count into its edit (empty while the cache
    // holds no values of the file).
    void FreeShowSettings();

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnOutputBatchCount();
    void OnTransmitInputState();

    WF_DECLARE_MESSAGE_MAP()

private:
    wf::Button inputState_;
};

#endif
