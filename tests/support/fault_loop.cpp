#include "support/fault_loop.hpp"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <tuple>

#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace zvtest {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxRuns = 20000;

struct Snapshot {
    fs::path path;
    std::optional<std::string> bytes;  // none: no file there
};

Snapshot Take(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return {path, std::nullopt};
    return {path, ReadHostFile(path)};
}

void Restore(const Snapshot& s) {
    std::error_code ignored;
    if (s.bytes) {
        WriteHostFile(s.path, *s.bytes);
    } else {
        fs::remove(s.path, ignored);
    }
}

void ExpectIntact(const Snapshot& s) {
    const Snapshot now = Take(s.path);
    if (s.bytes) {
        EXPECT_TRUE(now.bytes.has_value()) << s.path << " is gone";
        if (now.bytes) {
            EXPECT_TRUE(*now.bytes == *s.bytes) << s.path << " changed";
        }
    } else {
        EXPECT_FALSE(now.bytes.has_value()) << s.path << " was made";
    }
    // Writes go through hidden temporary files beside their target.
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(s.path.parent_path(), ignored)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find(".zvtmp."), std::string::npos) << "left behind: " << entry.path();
    }
}

}  // namespace

std::string Fault::Describe() const {
    std::string text = (Allocation() ? std::string("allocation") : call) + " #" + std::to_string(k);
    if (system) {
        text += error == zv::testing::kShortTransfer ? std::string(" (short)")
                                                     : " (" + std::string(strerrorname_np(error)) + ")";
    }
    return text;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* listing = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(listing)) count += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(listing);
    }
    return count;
}

std::map<std::string, int64_t> SystemCallsOf(const std::function<zvStatus()>& operation) {
    zv::testing::FailingSystemCalls fake;
    const zvStatus status = operation();
    EXPECT_GT(status, 0) << "the operation must succeed without faults";
    return fake.Counts();
}

bool Injectable(const std::string& name) {
    static const std::set<std::string> accessors = {
        "zvArrayListAt", "zvArrayListCount", "zvArrayListItemSize", "zvArrayListData", "zvObjectIs", "zvObjectType",
        "zvMalloc",      "zvFree",           "zvTypeBlock",         "zvTypeSize"};
    if (name.size() >= 7 && name.compare(name.size() - 7, 7, "Destroy") == 0) return false;
    if (name == "zvDataDispose" || name == "zvDispose") return false;  // releases, as destroys
    return accessors.count(name) == 0;
}

std::vector<std::string> CallsOf(const std::function<zvStatus()>& operation) {
    zv::testing::Scope scope;
    zv::testing::JournalStart();
    const zvStatus status = operation();
    zv::testing::JournalStop();
    EXPECT_GT(status, 0) << "the operation must succeed without faults";
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const std::string& entry : zv::testing::Journal()) {
        const std::string name = entry.substr(0, entry.find(' '));
        if (seen.insert(name).second) names.push_back(name);
    }
    zv::testing::JournalClear();
    return names;
}

namespace {

// The loop's system-call phase (see the header).
int RunSystemCalls(const FaultLoop& loop, const std::vector<Snapshot>& files, int64_t objects, int64_t bytes) {
    const auto& [operation, cleanup, systemErrors, systemCheck] =
        std::tie(loop.operation, loop.cleanup, loop.systemErrors, loop.systemCheck);
    const std::map<std::string, int64_t> counts = SystemCallsOf(operation);
    for (const Snapshot& s : files) Restore(s);
    if (cleanup) cleanup();
    EXPECT_FALSE(counts.empty()) << "the operation makes no system call of the file space";
    zv::testing::FailingSystemCalls fake;
    int failed = 0;
    for (const auto& [name, count] : counts) {
        std::vector<int> errors = {EIO};
        if (name == "write") errors = {zv::testing::kShortTransfer, ENOSPC, EFBIG};
        if (name == "read" || name == "pread") errors = {zv::testing::kShortTransfer, EIO};
        if (auto it = systemErrors.find(name); it != systemErrors.end()) errors = it->second;
        for (int error : errors) {
            for (int k = 1;; ++k) {
                Fault fault{name, k, 0, true, error};
                SCOPED_TRACE(fault.Describe());
                const int descriptors = OpenDescriptors();
                fake.Fail(name, k, error);
                const zvStatus status = operation();
                const bool fired = !fake.Pending();
                fake.Clear();
                if (fired) {
                    ++failed;
                    if (status <= 0) {
                        for (const Snapshot& s : files) ExpectIntact(s);
                    }
                    if (systemCheck) systemCheck(fault, status);
                } else {
                    EXPECT_GT(status, 0) << "the operation failed without a fault";
                }
                if (cleanup) cleanup();
                EXPECT_EQ(zv::testing::LiveObjects(), objects) << "objects left alive";
                EXPECT_EQ(zv::testing::LiveBytes(), bytes) << "bytes left allocated";
                EXPECT_EQ(OpenDescriptors(), descriptors) << "descriptors left open";
                for (const Snapshot& s : files) Restore(s);
                if (!fired) break;
                if (k >= kMaxRuns) {
                    ADD_FAILURE() << name << " never stopped failing";
                    break;
                }
            }
        }
    }
    return failed;
}

}  // namespace

int FaultLoop::Run() {
    if (!operation) {
        ADD_FAILURE() << "a fault loop needs an operation";
        return 0;
    }
    std::vector<Snapshot> files;
    for (const fs::path& path : intact) files.push_back(Take(path));

    std::vector<std::string> names = calls;
    if (names.empty()) {
        for (const std::string& name : CallsOf(operation))
            if (Injectable(name)) names.push_back(name);
        names.push_back("zvFileCommit");
        for (const Snapshot& s : files) Restore(s);
        if (cleanup) cleanup();
        EXPECT_FALSE(names.empty()) << "the operation calls no injectable zv function";
    }

    zv::testing::Scope scope;
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    int failed = 0;
    // One run with `fault` armed by `arm`; true when the fault fired.
    auto attempt = [&](const Fault& fault, const std::function<void()>& arm) {
        SCOPED_TRACE(fault.Describe());
        arm();
        const zvStatus status = operation();
        const bool fired = !zv::testing::FaultPending();
        zv::testing::ClearFaults();
        if (fired) {
            ++failed;
            if (check) {
                check(fault, status);
            } else if (fault.Allocation()) {
                EXPECT_NE(std::find(noMemory.begin(), noMemory.end(), status), noMemory.end()) << "status " << status;
            } else {
                EXPECT_EQ(status, fault.Expected());
            }
            if (verify) verify(fault);
        } else {
            EXPECT_GT(status, 0) << "the operation failed without a fault";
        }
        if (cleanup) cleanup();
        EXPECT_EQ(zv::testing::LiveObjects(), objects) << "objects left alive";
        EXPECT_EQ(zv::testing::LiveBytes(), bytes) << "bytes left allocated";
        for (const Snapshot& s : files) {
            if (fired) {
                ExpectIntact(s);
            } else {
                Restore(s);
            }
        }
        return fired;
    };

    for (const std::string& name : names) {
        for (int k = 1;; ++k) {
            const Fault fault{name, k, injected};
            if (!attempt(fault, [&] { zv::testing::FailCall(name, k, injected); })) break;
            if (k >= kMaxRuns) {
                ADD_FAILURE() << name << " never stopped failing";
                break;
            }
        }
    }
    if (allocations) {
        for (int k = 1;; ++k) {
            const Fault fault{"", k, ZV_E_NOMEM};
            if (!attempt(fault, [&] { zv::testing::FailAllocation(k); })) break;
            if (k >= kMaxRuns) {
                ADD_FAILURE() << "the operation never ran through its allocations";
                break;
            }
        }
    }
    if (systemCalls) failed += RunSystemCalls(*this, files, objects, bytes);
    return failed;
}

}  // namespace zvtest
