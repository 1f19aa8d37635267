// Sensor Video (1017, "Video"): the camera video of one sensor and the
// deadzone calibration. Showing it puts the station pipe, then the client
// pipe, into "Video", points the Video mode at the page's sensor with the
// deadzone calibration off and threshold 200, and sets the video exposure
// back to "Operation". Its controls act at once, without Apply: the
// exposure and the centroid overlay are written into Settings.xml, the
// deadzone switch and the sensitivity threshold into the Video mode's
// parameters. The overlay and the deadzone calibration exclude each other.
//
// While it is current the page listens to displays 0 and 1 (the listener
// does nothing with what it is told).
#ifndef TORVANE_PAGES_SENSOR_PAGE_VIDEO_H
#define TORVANE_PAGES_SENSOR_PAGE_VIDEO_H

#include "pages/config_page.h"

class CSensorPageVideo : public ConfigPage, public hostapi::DisplayListener {
    WF_DECLARE_DYNAMIC(CSensorPageVideo)

public:
    CSensorPageVideo();
    // A page destroyed while it listens stops listening first, so that no
    // display keeps a listener that is gone.
    ~CSensorPageVideo() override;

    // Rewrites the server's settings through its application information
    // (RewriteSensorInfo): 1, or its failure, told to the operator.
    int32_t Apply() override;
    // 0, after "Current sensor serial is invalid (not assigned?)", for a
    // sensor without a serial number: the station pipe is in "Video" then,
    // the client pipe is not. Settings that cannot be read are told.
    int32_t Activate() override;
    // Stops listening to the displays; the pipes stay in "Video".
    int32_t Deactivate() override;
    const char* PageName() const override { return "Video"; }

    // ---- The display listener: told, and ignored --------------------------
    int32_t PointerEvent(int32_t display, int32_t x, int32_t y, int32_t buttons) override;
    int32_t ContentChanged(int32_t display, int32_t what) override;
    int32_t ViewChanged(int32_t display, int32_t view, int32_t flags) override;

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnOperation();
    void OnDiagnostic();
    void OnCentroidOverlay();
    void OnDeadzone();
    void OnThresholdReleased(wf::NotifyHeader* header, intptr_t* result);

    WF_DECLARE_MESSAGE_MAP()

private:
    // Writes the video exposure into Settings.xml; reports a file that
    // cannot be read or written.
    void StoreExposure(int32_t exposure);
    // The client pipe and its current parameters in a new list (destroyed
    // by the caller); a failing status, with no list, otherwise.
    zvStatus ReadParameters(zvHandle* pipe, zvHandle* list);
    // Sets item `index` of the Video parameters; failures are silent.
    void SetParameter(int32_t index, int32_t value);
    void StopListening();

    wf::Button operation_;
    wf::Button diagnostic_;
    wf::Button overlay_;
    wf::Button deadzone_;
    wf::Slider threshold_;
    bool listening_ = false;
};

#endif
