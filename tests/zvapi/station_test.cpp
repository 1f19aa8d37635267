// The client's station calls: handles and their owner, what reaches the
// station backend, storage, and the failures each call can meet.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using TempFolder = zvtest::TempFileSpace;

constexpr zvStatus kInjected = -321;

// A backend that records what it is asked and answers as told.
struct Recorder {
    std::vector<std::string> calls;
    zvStatus answer = ZV_OK;               // every operation's status
    std::vector<int32_t> values{1000, 3};  // the current mode's parameters

    static Recorder& Of(void* c) { return *static_cast<Recorder*>(c); }
    static std::string Pipe(uint32_t s) { return s == ZV_CLIENT_PIPE ? "client" : std::to_string(s); }
    zvStatus Log(std::string call) {
        calls.push_back(std::move(call));
        return answer;
    }
    zvStationBackend Table() {
        zvStationBackend b{};
        b.context = this;
        b.hasServer = [](void* c, uint32_t s) { return Of(c).Log("has " + std::to_string(s)); };
        b.setMode = [](void* c, uint32_t s, const char* m) { return Of(c).Log("mode " + Pipe(s) + " " + m); };
        b.currentMode = [](void* c, uint32_t, char* buffer, int32_t) {
            std::strcpy(buffer, "Free");
            return Of(c).answer;
        };
        b.parameters = [](void* c, uint32_t s, int32_t* v, int32_t capacity, int32_t* count) {
            Recorder& r = Of(c);
            *count = static_cast<int32_t>(r.values.size());
            if (r.answer <= 0) return r.Log("get " + Pipe(s));
            if (*count > capacity) return ZV_E_RANGE;
            std::copy(r.values.begin(), r.values.end(), v);
            return r.Log("get " + Pipe(s));
        };
        b.setParameters = [](void* c, uint32_t s, const int32_t* v, int32_t n) {
            std::string call = "set " + Pipe(s);
            for (int32_t i = 0; i < n; ++i) call += " " + std::to_string(v[i]);
            return Of(c).Log(call);
        };
        b.setEnabled = [](void* c, uint32_t s, int32_t on) {
            return Of(c).Log("enable " + Pipe(s) + " " + std::to_string(on));
        };
        b.enabled = [](void* c, uint32_t, int32_t* on) {
            *on = 7;
            return Of(c).answer;
        };
        b.setCapture = [](void* c, int32_t on) { return Of(c).Log("capture " + std::to_string(on)); };
        b.setCaptureSegmentSize = [](void* c, int64_t n) { return Of(c).Log("segment " + std::to_string(n)); };
        return b;
    }
};

// A client with server 7 and, unless told otherwise, the recorder installed.
class StationCalls : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = zv::testing::LiveObjects();
        ASSERT_EQ(zvClientCreate(&client_), ZV_OK);
        ASSERT_EQ(zvClientAddServer(client_, 7), ZV_OK);
        const zvStationBackend table = station_.Table();
        ASSERT_EQ(zvClientSetStationBackend(client_, &table), ZV_OK);
        ASSERT_EQ(zvClientGetPipeHandle(client_, &pipe_), ZV_OK);
        ASSERT_EQ(zvClientGetServerHandle(client_, 7, &server_), ZV_OK);
        ASSERT_EQ(zvServerGetPipeHandle(server_, &stationPipe_), ZV_OK);
        ASSERT_EQ(zvServerGetStorageHandle(server_, &storage_), ZV_OK);
        station_.calls.clear();
    }
    void TearDown() override {
        for (zvHandle list : lists_) EXPECT_EQ(zvArrayListDestroy(list), ZV_OK);
        EXPECT_EQ(zvClientDestroy(client_), ZV_OK);
        EXPECT_EQ(zv::testing::LiveObjects(), baseline_);
    }
    zvHandle List(int32_t type, std::vector<int32_t> items) {
        zvHandle list = nullptr;
        EXPECT_EQ(zvArrayListCreate(&list, nullptr), ZV_OK);
        EXPECT_EQ(zvArrayListInit(list, type, 0, 1), ZV_OK);
        for (int32_t v : items) EXPECT_EQ(zvArrayListAdd(list, &v), ZV_OK);
        lists_.emplace_back(list);
        return list;
    }
    static std::vector<int32_t> Items(zvHandle list) {
        const auto* data = static_cast<const int32_t*>(zvArrayListData(list));
        return std::vector<int32_t>(data, data + zvArrayListCount(list));
    }

    int64_t baseline_ = 0;
    Recorder station_;
    zvHandle client_ = nullptr, pipe_ = nullptr, server_ = nullptr, stationPipe_ = nullptr, storage_ = nullptr;
    std::vector<zvHandle> lists_;  // destroyed after the test
};

TEST_F(StationCalls, HandlesBelongToTheClientAndComeBackTheSame) {
    zvHandle again = nullptr;
    ASSERT_EQ(zvClientGetPipeHandle(client_, &again), ZV_OK);
    EXPECT_EQ(again, pipe_);
    ASSERT_EQ(zvClientGetServerHandle(client_, 7, &again), ZV_OK);
    EXPECT_EQ(again, server_);
    ASSERT_EQ(zvServerGetPipeHandle(server_, &again), ZV_OK);
    EXPECT_EQ(again, stationPipe_);
    ASSERT_EQ(zvServerGetStorageHandle(server_, &again), ZV_OK);
    EXPECT_EQ(again, storage_);
    EXPECT_NE(stationPipe_, pipe_);
    EXPECT_EQ(zvObjectType(pipe_), ZV_TYPE_PIPE);
    EXPECT_EQ(zvObjectType(server_), ZV_TYPE_SERVER);
    EXPECT_EQ(zvObjectType(storage_), ZV_TYPE_STORAGE);
    EXPECT_EQ(zvServerSerial(server_), 7u);
    for (zvHandle h : {pipe_, server_, stationPipe_, storage_}) {
        EXPECT_EQ(zvObjectDestroy(h), ZV_E_STATE);
        EXPECT_EQ(zvDataDispose(h), ZV_E_STATE);
        EXPECT_NE(zvObjectType(h), 0);  // still live
    }
    // Unknown to the client, or to the station: no handle.
    zvHandle none = pipe_;
    EXPECT_EQ(zvClientGetServerHandle(client_, 8, &none), ZV_E_NOTFOUND);
    EXPECT_EQ(none, nullptr);
    station_.answer = ZV_E_NOTFOUND;
    EXPECT_EQ(zvClientGetServerHandle(client_, 7, &none), ZV_E_NOTFOUND);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(zvServerSerial(pipe_), 0u);
    // The number that names the client's own pipe is no server's: a server
    // of that number would switch the client pipe.
    EXPECT_EQ(zvClientAddServer(client_, ZV_CLIENT_PIPE), ZV_E_ARGUMENT);
    EXPECT_EQ(zvClientGetServerHandle(client_, ZV_CLIENT_PIPE, &none), ZV_E_NOTFOUND);
    EXPECT_EQ(zvClientAddServer(client_, ZV_CLIENT_PIPE - 1), ZV_OK);
}

TEST_F(StationCalls, PipeCallsReachTheBackendForTheirPipe) {
    EXPECT_EQ(zvPipeSetCurrentMode(stationPipe_, "Calibration"), ZV_OK);
    EXPECT_EQ(zvPipeSetCurrentMode(pipe_, "Free"), ZV_OK);
    EXPECT_EQ(zvPipeDisable(pipe_), ZV_OK);
    EXPECT_EQ(zvPipeEnable(stationPipe_), ZV_OK);
    // Values by position: read, change one item, write back.
    zvHandle list = List(ZV_TYPE_UINT32, {9, 9, 9, 9, 9});
    ASSERT_EQ(zvPipeModeParameters(pipe_, list), ZV_OK);
    EXPECT_EQ(Items(list), (std::vector<int32_t>{1000, 3}));
    *static_cast<int32_t*>(zvArrayListAt(list, 1)) = 4;
    EXPECT_EQ(zvPipeSetModeParameters(pipe_, list), ZV_OK);
    EXPECT_EQ(zvClientEnableCapture(client_, 5), ZV_OK);
    EXPECT_EQ(zvClientSetCaptureSegmentSize(client_, 200000000), ZV_OK);
    EXPECT_EQ(station_.calls,
              (std::vector<std::string>{"mode 7 Calibration", "mode client Free", "enable client 0", "enable 7 1",
                                        "get client", "set client 1000 4", "capture 1", "segment 200000000"}));
    // More values than a first guess holds.
    station_.values.assign(40, 5);
    ASSERT_EQ(zvPipeModeParameters(pipe_, list), ZV_OK);
    EXPECT_EQ(Items(list), station_.values);

    char mode[8];
    EXPECT_EQ(zvPipeCurrentMode(pipe_, mode, sizeof mode), ZV_OK);
    EXPECT_STREQ(mode, "Free");
    int32_t enabled = -1;
    EXPECT_EQ(zvPipeIsEnabled(pipe_, &enabled), ZV_OK);
    EXPECT_EQ(enabled, 1);
}

TEST_F(StationCalls, RefusalsChangeNothingAndPassTheBackendsStatusBack) {
    zvHandle floats = List(ZV_TYPE_FLOAT32, {});
    zvHandle wide = List(ZV_TYPE_INT64, {});
    zvHandle uninitialised = nullptr;
    ASSERT_EQ(zvArrayListCreate(&uninitialised, nullptr), ZV_OK);
    lists_.push_back(uninitialised);
    zvHandle kept = List(ZV_TYPE_INT32, {1, 2});
    EXPECT_EQ(zvPipeModeParameters(pipe_, floats), ZV_E_TYPE);
    EXPECT_EQ(zvPipeSetModeParameters(pipe_, wide), ZV_E_TYPE);
    EXPECT_EQ(zvPipeSetModeParameters(pipe_, uninitialised), ZV_E_STATE);
    EXPECT_EQ(zvPipeModeParameters(pipe_, client_), ZV_E_TYPE);
    EXPECT_EQ(zvPipeSetCurrentMode(pipe_, nullptr), ZV_E_ARGUMENT);
    EXPECT_EQ(zvPipeSetCurrentMode(server_, "Free"), ZV_E_TYPE);
    EXPECT_EQ(zvClientSetCaptureSegmentSize(client_, 0), ZV_E_ARGUMENT);
    EXPECT_TRUE(station_.calls.empty());

    station_.answer = ZV_E_NOTFOUND;
    EXPECT_EQ(zvPipeSetCurrentMode(pipe_, "Nope"), ZV_E_NOTFOUND);
    EXPECT_EQ(zvPipeModeParameters(pipe_, kept), ZV_E_NOTFOUND);
    EXPECT_EQ(Items(kept), (std::vector<int32_t>{1, 2}));
    station_.answer = ZV_E_RANGE;
    EXPECT_EQ(zvPipeSetModeParameters(pipe_, kept), ZV_E_RANGE);

    // Without a station, pipe and capture calls cannot act; storage can.
    ASSERT_EQ(zvClientSetStationBackend(client_, nullptr), ZV_OK);
    station_.calls.clear();
    int32_t enabled = -1;
    for (zvStatus s : {zvPipeSetCurrentMode(pipe_, "Free"), zvPipeModeParameters(pipe_, kept),
                       zvPipeSetModeParameters(stationPipe_, kept), zvPipeEnable(pipe_), zvPipeDisable(stationPipe_),
                       zvPipeIsEnabled(pipe_, &enabled), zvClientEnableCapture(client_, 1),
                       zvClientSetCaptureSegmentSize(client_, 10)})
        EXPECT_EQ(s, ZV_E_STATE);
    EXPECT_TRUE(station_.calls.empty());
    int64_t size = -1;
    EXPECT_EQ(zvStorageFileSize(storage_, "Calibration.xml", &size), ZV_E_NOTFOUND);
    zvStationBackend incomplete = station_.Table();
    incomplete.enabled = nullptr;
    EXPECT_EQ(zvClientSetStationBackend(client_, &incomplete), ZV_E_ARGUMENT);
}

TEST_F(StationCalls, JournalNamesPipesServersAndValues) {
    TempFolder space;
    space.Write("SN7/Calibration.xml", "<c/>");
    zvHandle list = List(ZV_TYPE_UINT32, {1001, 3});
    zv::testing::JournalStart();
    zvHandle server = nullptr, pipe = nullptr;
    zvClientGetServerHandle(client_, 7, &server);
    zvServerGetPipeHandle(server, &pipe);
    zvPipeSetCurrentMode(pipe, "Calibration");
    zvPipeSetCurrentMode(pipe_, "Free");
    zvPipeSetModeParameters(pipe_, list);
    zvPipeDisable(pipe_);
    zvStorageDeleteFile(storage_, "Calibration.xml", 1);
    zv::testing::JournalStop();
    EXPECT_EQ(zv::testing::Journal(),
              (std::vector<std::string>{"zvClientGetServerHandle 7", "zvServerGetPipeHandle SN7",
                                        "zvPipeSetCurrentMode SN7 Calibration", "zvPipeSetCurrentMode client Free",
                                        "zvPipeSetModeParameters client 1001 3", "zvPipeDisable client",
                                        "zvStorageDeleteFile SN7 Calibration.xml 1"}));
    zv::testing::JournalClear();
}

TEST_F(StationCalls, InjectedFailuresReturnTheirStatusAndChangeNothing) {
    TempFolder space;
    space.Write("SN7/Calibration.xml", "<c/>");
    zvHandle list = List(ZV_TYPE_UINT32, {1, 2});
    int64_t size = 0;
    zvHandle out = pipe_;
    struct Case {
        const char* call;
        std::function<zvStatus()> run;
    };
    const Case cases[] = {
        {"zvClientGetPipeHandle", [&] { return zvClientGetPipeHandle(client_, &out); }},
        {"zvClientGetServerHandle", [&] { return zvClientGetServerHandle(client_, 7, &out); }},
        {"zvServerGetPipeHandle", [&] { return zvServerGetPipeHandle(server_, &out); }},
        {"zvServerGetStorageHandle", [&] { return zvServerGetStorageHandle(server_, &out); }},
        {"zvClientEnableCapture", [&] { return zvClientEnableCapture(client_, 1); }},
        {"zvClientSetCaptureSegmentSize", [&] { return zvClientSetCaptureSegmentSize(client_, 5); }},
        {"zvPipeSetCurrentMode", [&] { return zvPipeSetCurrentMode(pipe_, "Free"); }},
        {"zvPipeModeParameters", [&] { return zvPipeModeParameters(pipe_, list); }},
        {"zvPipeSetModeParameters", [&] { return zvPipeSetModeParameters(pipe_, list); }},
        {"zvPipeEnable", [&] { return zvPipeEnable(pipe_); }},
        {"zvPipeDisable", [&] { return zvPipeDisable(stationPipe_); }},
        {"zvStorageDeleteFile", [&] { return zvStorageDeleteFile(storage_, "Calibration.xml", 1); }},
        {"zvStorageFileSize", [&] { return zvStorageFileSize(storage_, "Calibration.xml", &size); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        out = pipe_;
        zv::testing::FailCall(c.call, 1, kInjected);
        EXPECT_EQ(c.run(), kInjected);
        zv::testing::ClearFaults();
        EXPECT_TRUE(station_.calls.empty());
        EXPECT_EQ(Items(list), (std::vector<int32_t>{1, 2}));
        EXPECT_TRUE(space.Exists("SN7/Calibration.xml"));
        EXPECT_EQ(size, 0);
        if (std::string(c.call).find("Handle") != std::string::npos) {
            EXPECT_EQ(out, nullptr);
        }
    }
    zv::testing::FailCall("zvServerSerial", 1, kInjected);
    EXPECT_EQ(zvServerSerial(server_), 0u);
    zv::testing::ClearFaults();

    // The objects made on first request: no memory, no object, none lost.
    zvHandle client = nullptr;
    ASSERT_EQ(zvClientCreate(&client), ZV_OK);
    ASSERT_EQ(zvClientAddServer(client, 7), ZV_OK);
    for (auto get : {+[](zvHandle c, zvHandle*o) { return zvClientGetPipeHandle(c, o); },
                     +[](zvHandle c, zvHandle*o) { return zvClientGetServerHandle(c, 7, o); }}) {
        const int64_t before = zv::testing::LiveObjects();
        zv::testing::FailAllocation(1);
        EXPECT_EQ(get(client, &out), ZV_E_NOMEM);
        EXPECT_EQ(zv::testing::LiveObjects(), before);
        EXPECT_EQ(get(client, &out), ZV_OK);
    }
    zv::testing::ClearFaults();
    EXPECT_EQ(zvClientDestroy(client), ZV_OK);
}

TEST_F(StationCalls, StorageIsTheServersFolderWithItsRules) {
    TempFolder space;
    space.Write("sn7/Calibration.xml", "<calibration/>");
    int64_t size = -1;
    EXPECT_EQ(zvStorageFileSize(storage_, "CALIBRATION.XML", &size), ZV_OK);
    EXPECT_EQ(size, 14);

    // A plain name only: nothing outside the folder is reached, not even
    // the server's own file space neighbours.
    space.Write("SN8/Calibration.xml", "x");
    space.Write("Calibration.xml", "x");
    std::filesystem::create_symlink("/etc/hostname", space.Path() / "sn7" / "out.xml");
    std::filesystem::create_directory(space.Path() / "sn7" / "Folder");
    ASSERT_EQ(::mkfifo((space.Path() / "sn7" / "pipe.xml").c_str(), 0644), 0);
    struct Case {
        const char* name;
        zvStatus status;
    };
    for (const Case& c : {Case{"..\\SN8\\Calibration.xml", ZV_E_ACCESS}, Case{"../Calibration.xml", ZV_E_ACCESS},
                          Case{"\\Calibration.xml", ZV_E_ACCESS}, Case{"..", ZV_E_ACCESS}, Case{".", ZV_E_ACCESS},
                          Case{"", ZV_E_ARGUMENT}, Case{"out.xml", ZV_E_ACCESS}, Case{"Folder", ZV_E_NOTFOUND},
                          Case{"pipe.xml", ZV_E_NOTFOUND}, Case{"Missing.xml", ZV_E_NOTFOUND}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(zvStorageFileSize(storage_, c.name, &size), c.status);
        EXPECT_EQ(zvStorageDeleteFile(storage_, c.name, 1), c.status);
    }
    EXPECT_EQ(zvStorageDeleteFile(storage_, nullptr, 1), ZV_E_ARGUMENT);
    EXPECT_TRUE(space.Exists("SN8/Calibration.xml") && space.Exists("Calibration.xml"));
    EXPECT_TRUE(std::filesystem::exists("/etc/hostname"));

    // A read-only file stays; the others go, whatever case they are named in.
    std::filesystem::permissions(space.Path() / "sn7" / "Calibration.xml", std::filesystem::perms::owner_read);
    EXPECT_EQ(zvStorageDeleteFile(storage_, "Calibration.xml", 1), ZV_E_IO);
    std::filesystem::permissions(space.Path() / "sn7" / "Calibration.xml", std::filesystem::perms::owner_all);
    EXPECT_EQ(zvStorageDeleteFile(storage_, "calibration.xml", 1), ZV_OK);
    EXPECT_FALSE(space.Exists("sn7/Calibration.xml"));
    EXPECT_EQ(zvStorageDeleteFile(storage_, "Calibration.xml", 1), ZV_E_NOTFOUND);
}

TEST_F(StationCalls, StorageSeesWhatTheFileSpaceWroteUnderEitherCase) {
    TempFolder space;
    space.Write("SN7/Settings.xml", "<old/>");
    for (const char* path : {"\\SN7\\settings.xml", "\\SN7\\Settings.xml"}) {
        SCOPED_TRACE(path);
        zvHandle file = nullptr;
        ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
        ASSERT_EQ(zvFileInit(file, path, ZV_FILE_WRITE), ZV_OK);
        ASSERT_EQ(zvFileWrite(file, "<settings/>", 11), ZV_OK);
        ASSERT_EQ(zvFileDestroy(file), ZV_OK);
        int64_t size = -1;
        EXPECT_EQ(zvStorageFileSize(storage_, "SETTINGS.xml", &size), ZV_OK);
        EXPECT_EQ(size, 11);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(space.Path() / "SN7"), {}), 1);
        EXPECT_EQ(space.Read("SN7/Settings.xml"), "<settings/>");
    }
}

}  // namespace
