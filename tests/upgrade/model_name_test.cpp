#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "brenvik.hpp"
#include "test_support.hpp"
#include "winsvc/scripted_services.hpp"

namespace {

using namespace brenvik_test;
using winsvc::ScriptedServices;

constexpr const char* kModelPath = "C:\\Station\\model.xml";
constexpr const char* kModelFile = "C/Station/model.xml";

class SetModelNameTest : public StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        services_.files[kModelPath] = winsvc::kFileAttributeArchive;
    }
    ScriptedServices services_;
};

TEST_F(SetModelNameTest, AddsOrReplacesTheModelElement) {
    struct Case {
        const char* before;
        const char* contains;
    };
    const Case cases[] = {
        {"<Station><Serial>7</Serial></Station>", "<Model>XR-200</Model>"},
        {"<Station><Model>old</Model><Serial>7</Serial></Station>", "<Model>XR-200</Model>"},
        {"<Station/>", "<Model>XR-200</Model>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        WriteText(Host(kModelFile), c.before);
        ASSERT_EQ(brenvik::SetModelName(services_, kModelPath, "XR-200"), ZV_OK);
        std::string after = ReadText(Host(kModelFile));
        EXPECT_NE(after.find(c.contains), std::string::npos) << after;
        EXPECT_EQ(after.find("old"), std::string::npos) << after;
        EXPECT_EQ(after.find("<Model>", after.find("</Model>")), std::string::npos) << "one Model only: " << after;
        if (std::string(c.before).find("Serial") != std::string::npos) {
            EXPECT_NE(after.find("<Serial>7</Serial>"), std::string::npos) << after;
        }
    }
    // A new element goes last under the root.
    WriteText(Host(kModelFile), "<Station><Serial>7</Serial></Station>");
    ASSERT_EQ(brenvik::SetModelName(services_, kModelPath, "XR-200"), ZV_OK);
    std::string after = ReadText(Host(kModelFile));
    EXPECT_LT(after.find("<Serial>"), after.find("<Model>"));
}

TEST_F(SetModelNameTest, ReadOnlyFileIsMadeWritableForGood) {
    WriteText(Host(kModelFile), "<Station/>");
    services_.files[kModelPath] = winsvc::kFileAttributeReadonly | winsvc::kFileAttributeArchive;
    ASSERT_EQ(brenvik::SetModelName(services_, kModelPath, "XR-200"), ZV_OK);
    EXPECT_EQ(services_.files[kModelPath], winsvc::kFileAttributeArchive);
    EXPECT_EQ(services_.CallsOf("SetFileAttributesA"),
              std::vector<std::string>{"SetFileAttributesA(C:\\Station\\model.xml, 0x20)"});

    // Read-only alone becomes "normal".
    services_.files[kModelPath] = winsvc::kFileAttributeReadonly;
    ASSERT_EQ(brenvik::SetModelName(services_, kModelPath, "XR-300"), ZV_OK);
    EXPECT_EQ(services_.files[kModelPath], winsvc::kFileAttributeNormal);
}

TEST_F(SetModelNameTest, FailuresLeaveTheFileAsItWas) {
    const std::string original = "<Station><Model>old</Model></Station>";
    struct Case {
        const char* name;
        std::function<void(ScriptedServices&)> arrange;
        std::string content;
        zvStatus status;
    };
    const Case cases[] = {
        {"attributes unreadable", [](ScriptedServices& s) { s.files.clear(); }, original, brenvik::kNotWritable},
        {"read-only flag stays",
         [](ScriptedServices& s) {
             s.files[kModelPath] = winsvc::kFileAttributeReadonly;
             s.FailNext("SetFileAttributesA", winsvc::kErrorAccessDenied);
         },
         original, brenvik::kNotWritable},
        {"malformed", [](ScriptedServices&) {}, "<Station><Model>old</Station>", ZV_E_PARSE},
        {"empty", [](ScriptedServices&) {}, "", ZV_E_PARSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServices services;
        services.files[kModelPath] = winsvc::kFileAttributeArchive;
        c.arrange(services);
        WriteText(Host(kModelFile), c.content);
        EXPECT_EQ(brenvik::SetModelName(services, kModelPath, "XR-200"), c.status);
        EXPECT_EQ(ReadText(Host(kModelFile)), c.content);
    }
    std::string tooLong = "C:\\" + std::string(brenvik::kPathMax, 'm');
    EXPECT_EQ(brenvik::SetModelName(services_, tooLong.c_str(), "XR-200"), ZV_E_RANGE);
    EXPECT_TRUE(services_.Calls().empty());
}

TEST_F(SetModelNameTest, EveryPlatformFailureIsPassedBackAndTheFileKept) {
    const std::string original = "<Station><Model>old</Model></Station>";
    WriteText(Host(kModelFile), original);
    zv::testing::JournalStart();
    ASSERT_EQ(brenvik::SetModelName(services_, kModelPath, "XR-200"), ZV_OK);
    zv::testing::JournalStop();
    // Each call of the successful run, failed in turn (releases excepted:
    // a refused release keeps its object by design).
    std::map<std::string, int> seen;
    std::vector<std::pair<std::string, int>> calls;
    for (const std::string& entry : zv::testing::Journal()) {
        std::string name = entry.substr(0, entry.find(' '));
        if (name == "zvFileDestroy" || name == "zvXMLDestroy") continue;
        calls.emplace_back(name, ++seen[name]);
    }
    ASSERT_GE(calls.size(), 8u);
    for (const auto& [name, k] : calls) {
        SCOPED_TRACE(name + " #" + std::to_string(k));
        WriteText(Host(kModelFile), original);
        zv::testing::FailCall(name, k, -77);
        EXPECT_EQ(brenvik::SetModelName(services_, kModelPath, "XR-200"), -77);
        EXPECT_FALSE(zv::testing::FaultPending());
        zv::testing::ClearFaults();
        EXPECT_EQ(ReadText(Host(kModelFile)), original);
        EXPECT_EQ(zv::testing::LiveObjects(), liveAtStart_);
    }
}

}  // namespace
