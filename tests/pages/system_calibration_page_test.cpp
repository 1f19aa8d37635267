// System Calibration (1013): pipes switched in order, the layout, and the
// silent deletion of Calibration.xml.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/system_page_calibration.h"
#include "pages/system_page_calibration_ids.h"
#include "plugin/page_ids.h"
#include "support/fault_loop.hpp"

namespace {

using namespace system_calibration;

// Server 7 without a Settings.xml.
struct CalibrationPageTest : pagetest::PageTest {
    CalibrationPageTest() : PageTest(pagetest::PageSetup(kPageSystemCalibration).Sensors(0)) {}
};

TEST_F(CalibrationPageTest, SwitchesStationThenClientThenLayout) {
    for (int round = 0; round < 2; ++round) {
        host.ClearLog();
        EXPECT_EQ(page->Activate(), 1);
        EXPECT_EQ(host.log,
                  (std::vector<std::string>{"mode SN7 Calibration", "mode client Calibration", "SelectLayout 1"}));
    }
    EXPECT_EQ(host.ClientMode(), "Calibration");
    EXPECT_EQ(host.StationMode(7), "Calibration");
}

TEST_F(CalibrationPageTest, AFailedStationSwitchLeavesTheClientPipe) {
    ASSERT_EQ(zvPipeSetCurrentMode(
                  [&] {
                      zvHandle pipe = nullptr;
                      zvClientGetPipeHandle(host.client, &pipe);
                      return pipe;
                  }(),
                  "Free"),
              1);
    ASSERT_EQ(page->Activate(), 1);  // the client's handles are made on first use
    zvtest::FaultLoop loop;
    loop.operation = [&] { return page->Activate(); };
    loop.check = [&](const zvtest::Fault& fault, zvStatus status) {
        if (fault.call == "zvServerGetPipeHandle" || fault.call == "zvClientGetServerHandle") {
            // The station pipe's own status is not examined: the mode switch fails.
            EXPECT_EQ(status, ZV_E_HANDLE);
        } else if (fault.Allocation()) {
            EXPECT_EQ(status, ZV_E_NOMEM);
        } else {
            EXPECT_EQ(status, fault.Expected());
        }
        if (fault.call == "zvClientGetPipeHandle") {
            EXPECT_EQ(host.StationMode(7), "Calibration");
        }
    };
    loop.Run();
    zv::testing::Scope scope;
    page->Deactivate();
    ASSERT_EQ(page->Activate(), 1);
    zvHandle pipe = nullptr;
    zvClientGetPipeHandle(host.client, &pipe);
    zvPipeSetCurrentMode(pipe, "Free");
    zv::testing::FailCall("zvPipeSetCurrentMode", 1, -77);
    EXPECT_EQ(page->Activate(), -77);
    EXPECT_EQ(host.ClientMode(), "Free");
}

TEST_F(CalibrationPageTest, DeleteCalibrationRemovesTheFileSilently) {
    space.Write("SN7/Calibration.xml", "<Calibration/>");
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Click(kDeleteButton);
    EXPECT_FALSE(space.Exists("SN7/Calibration.xml"));
    EXPECT_TRUE(host.log.empty());
    // Nothing there: nothing happens, nothing is shown.
    Click(kDeleteButton);
    EXPECT_TRUE(host.log.empty());
    // Other case of the name, and failures: told, the file kept.
    space.Write("SN7/calibration.XML", "<Calibration/>");
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        host.ClearLog();
        wf::driver::Click(host.Control(page, kDeleteButton));
        return 1;
    };
    loop.check = [](const zvtest::Fault&, zvStatus) {};
    loop.verify = [&](const zvtest::Fault&) {
        ASSERT_EQ(host.log.size(), 1u);
        EXPECT_EQ(host.log[0].rfind("ReportError Cannot delete Calibration.xml of server 7", 0), 0u) << host.log[0];
        EXPECT_TRUE(space.Exists("SN7/calibration.XML"));
    };
    loop.cleanup = [&] { space.Write("SN7/calibration.XML", "<Calibration/>"); };
    loop.Run();
    host.ClearLog();
    wf::driver::Click(host.Control(page, kDeleteButton));
    EXPECT_FALSE(space.Exists("SN7/calibration.XML"));
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(DeleteCalibrationFile(nullptr), ZV_E_STATE);
}

}  // namespace
