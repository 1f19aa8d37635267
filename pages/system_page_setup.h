// System Setup (1018, "Calibration"): the server's calibration page. It
// defines the calibration target, the polygon placed in the scanner frame
// as a list of vertices in mils, shows it in display 0, puts the station
// pipe and then the client pipe into "Calibration", and can delete the
// stored Calibration.xml. The target lives in "CalibrationTarget" of the
// server's settings, read and written through the application-information
// object.
//
// Edits (Add Vertex, Remove Vertex) change the vertex lines and the working
// list together and reach the server only with Apply; Deactivate drops
// what was not applied.
#ifndef TORVANE_PAGES_SYSTEM_PAGE_SETUP_H
#define TORVANE_PAGES_SYSTEM_PAGE_SETUP_H

#include "pages/config_page.h"

class CSystemPageSetup : public ConfigPage {
    WF_DECLARE_DYNAMIC(CSystemPageSetup)

public:
    CSystemPageSetup();
    // Destroys the working list when the page goes without a Deactivate.
    ~CSystemPageSetup() override;

    // Both pipes to "Calibration", a new working list filled from the
    // settings, the target drawn and listed. Failures end it with their
    // status, the lines always showing the working list; settings that
    // cannot be read are told to the operator and show an empty target.
    int32_t Activate() override;
    // Writes the working list as the target and draws it again. Nothing is
    // written, and the failure is returned (and told when the page knows
    // why), when the last Activate did not read the stored target, the
    // settings cannot be read or hold no sensor group, or a step fails.
    int32_t Apply() override;
    // Drops the working list: the status of its destruction (1 when there
    // is none).
    int32_t Deactivate() override;
    const char* PageName() const override { return "Calibration"; }

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnAddVertex();
    void OnRemoveVertex();
    void OnDeleteCalibration();

    WF_DECLARE_MESSAGE_MAP()

private:
    // The lines of the list box from the working list.
    void ShowVertexLines();

    zvHandle targetList_ = 0;  // vertices (item type 162), from Activate to Deactivate
    bool targetRead_ = false;  // targetList_ started from the stored target
    wf::ListBox vertices_;
    wf::Edit x_;
    wf::Edit y_;
};

// The line of vertex `index` in the list: eight blanks, the index with two
// digits below 100, then X and Y right-aligned in seven characters.
std::string VertexLine(int32_t index, int32_t x, int32_t y);

#endif
