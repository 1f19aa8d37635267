// What a server's Settings.xml holds now, read as the plug-in reads it, for
// the tests of the pages that write it.
#ifndef TESTS_SUPPORT_STORED_SETTINGS_HPP
#define TESTS_SUPPORT_STORED_SETTINGS_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "page_host.hpp"
#include "plugin/settings.h"
#include "plugin/statuses.h"
#include "support/fault_loop.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace pagetest {

// Settings.xml of server `serial`, loaded now; `present` is 0 when there is
// no file.
class StoredSettings {
public:
    explicit StoredSettings(uint32_t serial = 7) {
        const std::string path = "\\SN" + std::to_string(serial) + "\\Settings.xml";
        EXPECT_GT(SettingsLoad(path.c_str(), 0, &settings_), 0) << path;
    }
    ~StoredSettings() { SettingsFree(settings_); }
    StoredSettings(const StoredSettings&) = delete;
    StoredSettings& operator=(const StoredSettings&) = delete;

    const SystemSettings* operator->() const { return settings_; }
    bool Loaded() const { return settings_ != nullptr; }

private:
    SystemSettings* settings_ = nullptr;
};

// Replaces the first `from` in `text` after `after` (from the start when
// empty) by `to`; false when there is none.
inline bool ReplaceIn(std::string* text, const std::string& from, const std::string& to,
                      const std::string& after = "") {
    const size_t start = after.empty() ? 0 : text->find(after);
    if (start == std::string::npos) return false;
    const size_t at = text->find(from, start);
    if (at == std::string::npos) return false;
    text->replace(at, from.size(), to);
    return true;
}

// The status of an operation that passes the platform's failures back when
// `fault` fired: the injected status, or for an allocation the platform's
// or Torvane's "no memory" (0: the settings reader's element names).
inline void ExpectPassedBack(const zvtest::Fault& fault, zvStatus status) {
    if (fault.Allocation()) {
        EXPECT_TRUE(status == ZV_E_NOMEM || status == kTorvaneNoMemory || status == 0) << status;
    } else {
        EXPECT_EQ(status, fault.Expected());
    }
}

// The same for a page that reaches a sensor or draws the calibration
// target, where some failures cannot be told apart: a look-up of the
// sensor's group or entry that answers none is a sensor that is not there;
// a document handle that is none fails the calls that use it; a root group
// that is none is settings without one (0); a serial number is a value;
// and the drawing ends with its own status for a graphic item it could not
// add (an allocation too: its index is then out of range).
inline void ExpectPageStatus(const zvtest::Fault& fault, zvStatus status) {
    const std::string& call = fault.call;
    if (call == "zvAppInfoGroupFromPath" || call == "zvAppInfoSensorFromParent") {
        EXPECT_EQ(status, ZV_E_NOTFOUND);
    } else if (call == "zvAppInfoXml") {
        EXPECT_EQ(status, ZV_E_HANDLE);
    } else if (call == "zvAppInfoRootGroup") {
        EXPECT_EQ(status, 0);
    } else if (call == "zvAppInfoSensorSerial") {
        EXPECT_EQ(status, 1);
    } else if (call.rfind("zvGraphic", 0) == 0 || call.rfind("zvPlot", 0) == 0) {
        EXPECT_LE(status, 0);
    } else if (fault.Allocation() && status == ZV_E_RANGE) {
        SUCCEED();
    } else {
        ExpectPassedBack(fault, status);
    }
}

// The status of a system page's Activate when `fault` fired: the station
// pipe's handle is not examined (the switch of no pipe fails); every other
// failure, of the pipes, the drawing, the settings read and the cache's
// load and save, comes back as it was (as far as ExpectPageStatus tells).
inline void ExpectActivateStatus(const zvtest::Fault& fault, zvStatus status) {
    if (fault.call == "zvClientGetServerHandle" || fault.call == "zvServerGetPipeHandle") {
        EXPECT_EQ(status, ZV_E_HANDLE);
    } else {
        ExpectPageStatus(fault, status);
    }
}

// A fault loop over `operation` (a page's Apply or Reload): every failure
// comes back as the platform gave it, is told through the page site, and
// leaves Settings.xml of server 7 as it was.
inline void ExpectReportedFailures(PageHost& host, const std::function<zvStatus()>& operation,
                                   const std::filesystem::path& settings) {
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        host.ClearLog();
        return operation();
    };
    loop.intact = {settings};
    loop.check = ExpectPassedBack;
    loop.verify = [&](const zvtest::Fault&) { EXPECT_EQ(host.Of("ReportError").size(), 1u); };
    loop.Run();
}

// A page of the server node's cache whose Activate stopped at its first
// mode switch: the cache was never loaded, so Apply writes nothing (not the
// zeros the cache holds), says why and does not answer success. Shown
// again, the page reads the file and Apply keeps its values.
inline void ExpectNoZerosAfterAFailedSwitch(PageHost& host, hostapi::Page* page,
                                            const std::filesystem::path& settings) {
    std::string before = zvtest::ReadHostFile(settings);
    ASSERT_TRUE(
        ReplaceIn(&before, "<EncoderResolution>0.0</EncoderResolution>", "<EncoderResolution>1.5</EncoderResolution>"));
    zvtest::WriteHostFile(settings, before);
    zv::testing::FailCall("zvPipeSetCurrentMode", 1, -77);
    EXPECT_EQ(page->Activate(), -77);
    zv::testing::ClearFaults();
    host.ClearLog();
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(zvtest::ReadHostFile(settings), before);
    const std::vector<std::string> reports = host.Of("ReportError");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Nothing was written"), std::string::npos) << reports[0];

    ASSERT_EQ(page->Activate(), 1);
    ASSERT_EQ(page->Apply(), 1);
    StoredSettings stored;
    EXPECT_EQ(stored->OutputBatchCount, 1);
    EXPECT_DOUBLE_EQ(stored->EncoderResolution, 1.5);
    EXPECT_EQ(stored->DetectionThreshold, 20);
    EXPECT_EQ(stored->OverlapFilterEnable, 1);
}

}  // namespace pagetest

#endif
