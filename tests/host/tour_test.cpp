// The operator's tour of scripts/tour, as scripts/demo runs it: a fresh
// station set up through its pages, each step's pictures, and a capture
// that replays to the live run's outputs (the tour checks that itself).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvhost_process.hpp"
#include "zvstation/settings.hpp"

namespace {

namespace fs = std::filesystem;

using zvhosttest::HaveTorvane;

// Runs the tour; its exit code, with what it printed in `*output`.
int Tour(const fs::path& out, const fs::path& files, std::string* output, bool network = false) {
    const zvhosttest::ZvhostResult r =
        zvhosttest::RunCommand(std::string("'") + TOUR_SCRIPT + "' " + (network ? "--network '" : "'") +
                               ZVHOST_PROGRAM + "' '" + out.string() + "' '" + files.string() + "'");
    *output = r.out + r.err;
    return r.code;
}

TEST(Tour, SetsUpAFreshStationThroughItsPages) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    // zvhost loads the plug-in beside it, as scripts/demo runs it.
    if (!fs::exists(fs::path(ZVHOST_PROGRAM).parent_path() / "libtorvane.so"))
        GTEST_SKIP() << "the plug-in is not beside zvhost";
    zvtest::TempFileSpace space("zvhost-tour", zvtest::TempFileSpace::Root::kLeave);
    std::string output;
    ASSERT_EQ(Tour(space.Host("out"), space.Host("files"), &output), 0) << output;
    EXPECT_NE(output.find("replayed to the outputs of the live run"), std::string::npos) << output;

    // Settings.xml as the pages left it.
    zv::station::ServerSettings settings;
    std::string error;
    ASSERT_EQ(zvFileSpaceSetRoot(space.Host("files").c_str()), ZV_OK);
    ASSERT_TRUE(zv::station::ReadServerSettings("SN1/Settings.xml", &settings, &error)) << error;
    ASSERT_EQ(settings.sensors.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(settings.sensors[i].vertexView, i) << i;
    ASSERT_EQ(settings.target.size(), 5u);
    EXPECT_EQ(settings.target[3].x, 0);
    EXPECT_EQ(settings.target[3].y, 24000);
    const std::string text = zvtest::ReadHostFile(space.Host("files/SN1/Settings.xml"));
    for (const char* element : {"<OutputInterval>500</OutputInterval>", "<SynchronizeMethod>1</SynchronizeMethod>",
                                "<Time>10</Time>", "<OutputBatchCount>2</OutputBatchCount>"})
        EXPECT_NE(text.find(element), std::string::npos) << element;
    // The calibration the station stored, with sensor 1001 fine-tuned.
    const std::string calibration = zvtest::ReadHostFile(space.Host("files/SN1/Calibration.xml"));
    EXPECT_NE(calibration.find("<T>0.002</T>"), std::string::npos) << calibration;
    EXPECT_NE(calibration.find("<X>0.05</X>"), std::string::npos) << calibration;
    // The deadzone masks of sensor B (1001), saved when the Video mode stopped.
    EXPECT_EQ(fs::file_size(space.Host("files/SN1001/mask0.bin")), 448u * 176u);

    // Every step's page as it looked, and what its display showed.
    int steps = 0;
    for (const auto& entry : fs::directory_iterator(space.Host("out"))) {
        const std::string step = entry.path().filename();
        if (step == "replay" || step == "live") continue;
        ++steps;
        EXPECT_TRUE(fs::exists(entry.path() / "page.png")) << step;
    }
    EXPECT_EQ(steps, 12);
    for (const char* picture :
         {"02-sensor-setup-a/Calibration-Calibration.png", "06-system-setup/Calibration-Calibration.png",
          "07-system-calibration/Calibration-Calibration.png", "08-fine-calibration/Free-Free.png",
          "09-system-run/Detection-Detection.png", "10-system-web/Web-Web.png", "11-sensor-video/Video-Video_0.png",
          "replay/Detection-Detection.png"})
        EXPECT_TRUE(fs::exists(space.Host(std::string("out/") + picture))) << picture;

    // A second tour needs a fresh file space.
    output.clear();
    EXPECT_EQ(Tour(space.Host("out2"), space.Host("files"), &output), 2) << output;
}

// The same tour with the server as a zvstation process: the pages read and
// write its folder over the network (the calibration it stores, the one the
// Fine Calibration page reads and tunes), and the capture replays to a live
// run pulled from it.
TEST(Tour, SetsUpAStationOnTheNetworkThroughItsPages) {
    if (!HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    if (!fs::exists(fs::path(ZVHOST_PROGRAM).parent_path() / "libtorvane.so") ||
        !fs::exists(fs::path(ZVHOST_PROGRAM).parent_path() / "zvstation"))
        GTEST_SKIP() << "the plug-in or zvstation is not beside zvhost";
    zvtest::TempFileSpace space("zvhost-tour-net", zvtest::TempFileSpace::Root::kLeave);
    std::string output;
    ASSERT_EQ(Tour(space.Host("out"), space.Host("files"), &output, true), 0) << output;
    EXPECT_NE(output.find("server 1: zvstation on tcp://127.0.0.1:"), std::string::npos) << output;
    EXPECT_NE(output.find("replayed to the outputs of the live run"), std::string::npos) << output;
    // The server's folder holds what the pages wrote; the client's none of it.
    const fs::path server = space.Host("out/server-files");
    const std::string calibration = zvtest::ReadHostFile(server / "Calibration.xml");
    EXPECT_NE(calibration.find("<T>0.002</T>"), std::string::npos) << calibration;
    EXPECT_NE(zvtest::ReadHostFile(server / "Settings.xml").find("<OutputInterval>500</OutputInterval>"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(space.Host("files/SN1/Settings.xml")));
    EXPECT_FALSE(fs::exists(space.Host("files/SN1/Calibration.xml")));
}

}  // namespace
