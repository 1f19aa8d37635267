// Station access: the server node's files, settings cache and handles, the
// sensor node's rewrite, and the search up the tree.
#include <gtest/gtest.h>

#include <string>

#include "page_host.hpp"
#include "plugin/settings.h"
#include "plugin/station_access.h"
#include "plugin/statuses.h"
#include "support/document_test_support.hpp"
#include "support/fault_loop.hpp"

namespace {

using zvtest::ServerFileSpace;

constexpr char kUniqueViews[] = "ReportError Each sensor has to be assigned a unique vertex view!";

// A default settings file for `views.size()` sensors, with those vertex views.
void WriteSettings(const ServerFileSpace& space, const std::vector<int>& views) {
    ASSERT_GT(SettingsCreateDefault("\\SN7\\Settings.xml", static_cast<int32_t>(views.size())), 0);
    std::string text = space.Read("SN7/Settings.xml");
    size_t at = 0;
    for (int view : views) {
        at = text.find("<VertexView>0</VertexView>", at);
        ASSERT_NE(at, std::string::npos);
        const std::string replacement = "<VertexView>" + std::to_string(view) + "</VertexView>";
        text.replace(at, 26, replacement);
        at += replacement.size();
    }
    space.Write("SN7/Settings.xml", text);
}

ServerNode* AsServer(hostapi::Node* node) { return FindServerNode(node); }

int CountOf(const std::vector<std::string>& journal, const std::string& entry) {
    int count = 0;
    for (const std::string& e : journal) count += e == entry ? 1 : 0;
    return count;
}

TEST(StationAccess, FindServerNodeFollowsParentsToTheFirstOfKindOne) {
    ServerFileSpace space;
    pagetest::PageHost host(space.Host(""));
    hostapi::Node* server = host.ServerNode(7);
    hostapi::Node* middle = host.Node(hostapi::kPlainNode, {hostapi::kPlainNode, 0, 0, nullptr}, server);
    hostapi::Node* leaf = host.Node(hostapi::kPlainNode, {hostapi::kPlainNode, 0, 0, nullptr}, middle);
    EXPECT_EQ(FindServerNode(leaf), AsServer(server));
    EXPECT_EQ(FindServerNode(server), AsServer(server));
    EXPECT_EQ(AsServer(server)->serialNumber, 7u);

    hostapi::Node* orphan = host.Node(hostapi::kPlainNode, {hostapi::kPlainNode, 0, 0, nullptr}, nullptr);
    hostapi::Node* below = host.Node(hostapi::kCaptureNode, {hostapi::kCaptureNode, 0, 0, nullptr}, orphan);
    EXPECT_EQ(FindServerNode(below), nullptr);
    // A plain node the host gave kind 1 is no server: the search ends there.
    hostapi::Node* impostor = host.Node(hostapi::kPlainNode, {hostapi::kServerNode, 9, 0, nullptr}, server);
    EXPECT_EQ(FindServerNode(impostor), nullptr);
}

TEST(StationAccess, VertexViewCheckReportsOncePerInit) {
    ServerFileSpace space;
    pagetest::PageHost host(space.Host(""));
    struct Case {
        std::vector<int> views;
        size_t reports;
    };
    for (const Case& c : {Case{{0, 0, 0}, 1}, Case{{0, 1, 2}, 0}, Case{{3, 1, 3, 1, 5}, 1}, Case{{4}, 0}}) {
        SCOPED_TRACE(::testing::PrintToString(c.views));
        WriteSettings(space, c.views);
        host.ClearLog();
        host.ServerNode(7);
        EXPECT_EQ(host.Of("ReportError").size(), c.reports);
        if (c.reports == 1) {
            EXPECT_EQ(host.log.front(), kUniqueViews);
        }
    }
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    host.ServerNode(7);
    EXPECT_TRUE(host.log.empty());
}

TEST(StationAccess, CacheLoadsOnceUnlessForcedAndSavesTheWebElement) {
    ServerFileSpace space;
    WriteSettings(space, {0, 1});
    pagetest::PageHost host(space.Host(""));
    ServerNode* server = AsServer(host.ServerNode(7));
    ASSERT_EQ(space.Read("SN7/Settings.xml").find("<Web>"), std::string::npos);

    zv::testing::Scope scope;
    zv::testing::JournalStart();
    server->LoadCachedSettings(0);
    server->LoadCachedSettings(0);
    const std::string read = "zvFileInit \\SN7\\Settings.xml 1";
    EXPECT_EQ(CountOf(zv::testing::Journal(), read), 1);
    server->LoadCachedSettings(1);
    EXPECT_EQ(CountOf(zv::testing::Journal(), read), 2);
    zv::testing::JournalStop();

    EXPECT_EQ(server->loaded, 1);
    EXPECT_EQ(server->OutputBatchCount, 1);
    EXPECT_EQ(server->DetectionThreshold, 20);
    EXPECT_EQ(server->OverlapFilterEnable, 1);
    EXPECT_EQ(server->XResolution, 0.0);
    EXPECT_EQ(server->Time, 0);
    EXPECT_EQ(server->SynchronizeMethod, 0);

    server->XResolution = 63.5;
    server->Time = 12;
    server->SynchronizeMethod = 1;
    server->Distance = 250.25;
    server->OutputBatchCount = 8;
    server->SaveCachedSettings();
    SystemSettings* settings = nullptr;
    ASSERT_GT(SettingsLoad("\\SN7\\Settings.xml", 0, &settings), 0);
    EXPECT_EQ(settings->webPresent, 1);
    EXPECT_EQ(settings->XResolution, 63.5);
    EXPECT_EQ(settings->Time, 12);
    EXPECT_EQ(settings->SynchronizeMethod, 1);
    EXPECT_EQ(settings->Distance, 250.25);
    EXPECT_EQ(settings->OutputBatchCount, 8);
    ASSERT_EQ(zvArrayListCount(settings->Sensors), 2);  // the sensors are not touched
    SettingsFree(settings);

    // A changed file shows only after a forced load.
    server->OutputBatchCount = 3;
    server->LoadCachedSettings(0);
    EXPECT_EQ(server->OutputBatchCount, 3);
    server->LoadCachedSettings(1);
    EXPECT_EQ(server->OutputBatchCount, 8);
}

TEST(StationAccess, WithoutSettingsTheCacheIsZeroAndNothingIsWritten) {
    ServerFileSpace space;
    pagetest::PageHost host(space.Host(""));
    ServerNode* server = AsServer(host.ServerNode(7));
    server->OutputBatchCount = 5;
    EXPECT_EQ(server->LoadCachedSettings(0), ZV_E_NOTFOUND);
    EXPECT_EQ(server->loaded, 0);
    EXPECT_EQ(server->OutputBatchCount, 0);
    server->OutputBatchCount = 5;
    EXPECT_EQ(server->SaveCachedSettings(), ZV_E_STATE);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    EXPECT_FALSE(space.Exists("SN7/settings.xml"));
    // Zeros that stood for no file never reach a file made since.
    WriteSettings(space, {0, 1});
    const std::string made = space.Read("SN7/Settings.xml");
    EXPECT_EQ(server->SaveCachedSettings(), ZV_E_STATE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), made);
    // A loaded cache whose file went since writes nothing either.
    ASSERT_EQ(server->LoadCachedSettings(0), 1);
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    EXPECT_EQ(server->SaveCachedSettings(), ZV_E_NOTFOUND);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
}

TEST(StationAccess, ACacheNeverLoadedIsNeverSaved) {
    ServerFileSpace space;
    WriteSettings(space, {0, 1});
    const std::string original = space.Read("SN7/Settings.xml");
    pagetest::PageHost host(space.Host(""));
    ServerNode* server = AsServer(host.ServerNode(7));
    server->OutputBatchCount = 9;  // an edit before any load
    EXPECT_EQ(server->SaveCachedSettings(), ZV_E_STATE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), original);
    // A load that fails leaves it unloaded: still nothing to save.
    space.Write("SN7/Settings.xml", "<SensorGroup><Broken>");
    EXPECT_EQ(server->LoadCachedSettings(0), ZV_E_PARSE);
    EXPECT_NE(std::string(zvLastErrorText()).find("Settings.xml"), std::string::npos) << zvLastErrorText();
    space.Write("SN7/Settings.xml", original);
    EXPECT_EQ(server->SaveCachedSettings(), ZV_E_STATE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), original);
    ASSERT_EQ(server->LoadCachedSettings(0), 1);
    EXPECT_EQ(server->SaveCachedSettings(), 1);
}

TEST(StationAccess, ServerFilesAreReadAndWrittenUnderTheirTwoNames) {
    ServerFileSpace space;
    WriteSettings(space, {0, 1, 2});
    pagetest::PageHost host(space.Host(""));
    ServerNode* server = AsServer(host.ServerNode(7));
    zv::testing::Scope scope;
    zv::testing::JournalStart();
    zv::OwnedAppInfo info;
    ASSERT_EQ(server->ReadServerInfo(info.Out()), 1);
    ASSERT_EQ(server->WriteServerInfo(info), 1);
    zv::testing::JournalStop();
    const auto journal = zv::testing::Journal();
    EXPECT_EQ(CountOf(journal, "zvFileInit \\SN7\\Settings.xml 1"), 1);
    EXPECT_EQ(CountOf(journal, "zvFileInit \\SN7\\settings.xml 0"), 1);
    // One file, written under the other case of its name.
    EXPECT_TRUE(space.Exists("SN7/Settings.xml"));
    EXPECT_FALSE(space.Exists("SN7/settings.xml"));

    zvHandle serverHandle = nullptr;
    zvHandle pipe = nullptr;
    ASSERT_EQ(server->ServerHandle(&serverHandle), 1);
    ASSERT_EQ(server->StationPipe(&pipe), 1);
    EXPECT_EQ(zvServerSerial(serverHandle), 7u);
    EXPECT_EQ(zvPipeSetCurrentMode(pipe, "Web"), 1);
    EXPECT_EQ(host.StationMode(7), "Web");
}

TEST(StationAccess, RewriteSensorInfoLeavesTheFileAloneWhenTheSensorIsNotThere) {
    ServerFileSpace space;
    WriteSettings(space, {0, 1});
    const std::string original = space.Read("SN7/Settings.xml");
    pagetest::PageHost host(space.Host(""));
    hostapi::Node* server = host.ServerNode(7);
    struct Case {
        const char* group;
        const char* name;
    };
    for (const Case& c : {Case{"1", "A"}, Case{"0", "C"}, Case{"", "A"}}) {
        SCOPED_TRACE(std::string(c.group) + "/" + c.name);
        auto* sensor = dynamic_cast<SensorNode*>(host.SensorNode(server, c.group, c.name));
        ASSERT_NE(sensor, nullptr);
        EXPECT_EQ(sensor->RewriteSensorInfo(), ZV_E_NOTFOUND);
        EXPECT_EQ(space.Read("SN7/Settings.xml"), original);
    }
    auto* sensor = dynamic_cast<SensorNode*>(host.SensorNode(server, "0", "B"));
    EXPECT_EQ(sensor->RewriteSensorInfo(), 1);
    SystemSettings* settings = nullptr;
    ASSERT_GT(SettingsLoad("\\SN7\\Settings.xml", 0, &settings), 0);
    EXPECT_EQ(zvArrayListCount(settings->Sensors), 2);
    SettingsFree(settings);
}

TEST(StationAccess, OddHostsCrashNothing) {
    ServerFileSpace space;
    WriteSettings(space, {0, 1});
    pagetest::PageHost host(space.Host(""));
    // A sensor node whose parent is no server node.
    hostapi::Node* plain = host.Node(hostapi::kPlainNode, {hostapi::kPlainNode, 0, 0, nullptr}, nullptr);
    auto* lost = dynamic_cast<SensorNode*>(host.SensorNode(plain, "0", "A"));
    EXPECT_EQ(lost->RewriteSensorInfo(), ZV_E_STATE);
    // A sensor node given a server's record: its third field is a flag, never an address.
    hostapi::Node* odd = host.Node(hostapi::kSensorNode, {hostapi::kServerNode, 7, 1, "A"}, nullptr);
    auto* sensor = dynamic_cast<SensorNode*>(odd);
    EXPECT_STREQ(sensor->groupPath, "");
    EXPECT_EQ(sensor->limited, 1);
    int32_t ids[6] = {};
    int32_t count = -1;
    EXPECT_EQ(odd->GetPages(ids, &count), 1);
    EXPECT_EQ(count, 0);
    // Null arguments.
    EXPECT_EQ(odd->GetPages(nullptr, &count), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(odd->GetPages(ids, nullptr), 1);
}

// A failed allocation or an injected call: what a failed step may return.
void ExpectFailure(const zvtest::Fault& fault, zvStatus status) {
    if (fault.Allocation()) {
        EXPECT_TRUE(status == ZV_E_NOMEM || status == kTorvaneNoMemory) << status;
    } else {
        EXPECT_EQ(status, fault.Expected());
    }
}

// The same, where the settings reader also runs: its element names that
// cannot be allocated give 0.
void ExpectFailureOrNoName(const zvtest::Fault& fault, zvStatus status) {
    if (fault.Allocation()) {
        EXPECT_TRUE(status == ZV_E_NOMEM || status == kTorvaneNoMemory || status == 0) << status;
    } else {
        EXPECT_EQ(status, fault.Expected());
    }
}

TEST(StationAccess, FailuresOfEveryCallPassBackAndLeaveTheFileWhole) {
    ServerFileSpace space;
    WriteSettings(space, {0, 1});
    const std::string original = space.Read("SN7/Settings.xml");
    pagetest::PageHost host(space.Host(""));
    ServerNode* server = AsServer(host.ServerNode(7));

    zvtest::FaultLoop read;
    read.operation = [&] {
        zv::OwnedAppInfo info;
        const zvStatus status = server->ReadServerInfo(info.Out());
        EXPECT_EQ(info.Get() != nullptr, status > 0);  // an object only on success
        return status;
    };
    read.check = ExpectFailure;
    read.Run();

    zv::OwnedAppInfo info;
    ASSERT_EQ(server->ReadServerInfo(info.Out()), 1);
    zvtest::FaultLoop write;
    write.operation = [&] { return server->WriteServerInfo(info); };
    write.intact = {space.Host("SN7/Settings.xml")};
    write.check = ExpectFailure;
    write.Run();

    auto* sensor = dynamic_cast<SensorNode*>(host.SensorNode(host.ServerNode(7), "0", "B"));
    ASSERT_EQ(sensor->RewriteSensorInfo(), 1);
    zvtest::FaultLoop rewrite;  // reading and writing both pass their failures back
    rewrite.operation = [&] { return sensor->RewriteSensorInfo(); };
    rewrite.intact = {space.Host("SN7/Settings.xml")};
    rewrite.check = [](const zvtest::Fault& fault, zvStatus status) {
        // The look-ups answer with an item: none is a sensor not there.
        if (fault.call == "zvAppInfoGroupFromPath" || fault.call == "zvAppInfoSensorFromParent") {
            EXPECT_EQ(status, ZV_E_NOTFOUND);
        } else {
            ExpectFailureOrNoName(fault, status);
        }
    };
    rewrite.Run();

    space.Write("SN7/Settings.xml", original);
    ASSERT_EQ(server->LoadCachedSettings(1), 1);
    server->OutputBatchCount = 42;
    zvtest::FaultLoop save;  // a failing save leaves the file as it was
    save.operation = [&] { return server->SaveCachedSettings(); };
    save.intact = {space.Host("SN7/Settings.xml")};
    save.check = ExpectFailureOrNoName;
    save.Run();

    zvtest::FaultLoop load;  // a failing load leaves the cache as it was
    load.operation = [&] {
        server->OutputBatchCount = -5;
        server->loaded = 0;
        return server->LoadCachedSettings(0);
    };
    load.check = ExpectFailureOrNoName;
    load.verify = [&](const zvtest::Fault&) {
        EXPECT_EQ(server->loaded, 0);
        EXPECT_EQ(server->OutputBatchCount, -5);
    };
    load.Run();
}

}  // namespace
