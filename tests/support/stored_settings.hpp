// What a server's Settings.xml holds now, read as the plug-in reads it, for
// the tests of the pages that write it.
#ifndef TESTS_SUPPORT_STORED_SETTINGS_HPP
#define TESTS_SUPPORT_STORED_SETTINGS_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "plugin/settings.h"
#include "support/fault_loop.hpp"

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

// The status of a system page's Activate when `fault` fired: the station
// pipe's handle is not examined (the switch of no pipe fails), pipe and
// drawing calls end it with their status, and the document calls and
// allocations serve both the settings read, which ends it, and the cache's
// save, which is silent.
inline void ExpectActivateStatus(const zvtest::Fault& fault, zvStatus status) {
    const std::string& call = fault.call;
    if (fault.Allocation()) {
        // 0: the settings reader's element names could not be allocated.
        EXPECT_TRUE(status == 1 || status == ZV_E_NOMEM || status == -995 || status == 0) << status;
    } else if (call == "zvClientGetServerHandle" || call == "zvServerGetPipeHandle") {
        EXPECT_EQ(status, ZV_E_HANDLE);
    } else if (call.rfind("zvPipe", 0) == 0 || call == "zvClientGetPipeHandle" || call.rfind("zvPlot", 0) == 0 ||
               call.rfind("zvGraphic", 0) == 0) {
        EXPECT_EQ(status, fault.injected);
    } else {
        EXPECT_TRUE(status == 1 || status == fault.injected) << status;
    }
}

// A fault loop over `operation`, which fails silently (always 1), leaving
// Settings.xml of server 7 in `space` as it was whenever a fault fired.
inline void ExpectSilentFailures(const std::function<zvStatus()>& operation, const std::filesystem::path& settings) {
    zvtest::FaultLoop loop;
    loop.operation = operation;
    loop.intact = {settings};
    loop.check = [](const zvtest::Fault&, zvStatus status) { EXPECT_EQ(status, 1); };
    loop.Run();
}

}  // namespace pagetest

#endif
