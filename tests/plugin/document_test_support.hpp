// Shared helpers of the document tests: a temporary file space, file access
// beside the platform, and fault loops over the platform's injection seams.
#ifndef TESTS_PLUGIN_DOCUMENT_TEST_SUPPORT_HPP
#define TESTS_PLUGIN_DOCUMENT_TEST_SUPPORT_HPP

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace doctest {

// A fresh folder as the client's file space, with a server folder "SN7";
// removed with everything in it at the end.
class TempFileSpace {
public:
    TempFileSpace() {
        std::string pattern = (std::filesystem::temp_directory_path() / "torvane-docs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        std::filesystem::create_directory(root_ / "SN7");
        char previous[1024] = {};
        zvFileSpaceRoot(previous, sizeof previous);
        previous_ = previous;
        if (zvFileSpaceSetRoot(root_.c_str()) <= 0) throw std::runtime_error("cannot set the file space");
    }
    ~TempFileSpace() {
        zvFileSpaceSetRoot(previous_.empty() ? "." : previous_.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempFileSpace(const TempFileSpace&) = delete;
    TempFileSpace& operator=(const TempFileSpace&) = delete;

    // Host path of a file-space path relative to the root ("SN7/Settings.xml").
    std::filesystem::path Host(const std::string& relative) const { return root_ / relative; }

    void Write(const std::string& relative, const std::string& text) const {
        std::ofstream out(Host(relative), std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::string Read(const std::string& relative) const {
        std::ifstream in(Host(relative), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool Exists(const std::string& relative) const { return std::filesystem::exists(Host(relative)); }
    // Names in the server folder (temporary files of failed writes show here).
    std::vector<std::string> ServerFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root_ / "SN7"))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    std::filesystem::path root_;
    std::string previous_;
};

// A run's engine whose console text is kept in `text`.
struct ConsoleEngine {
    ConsoleEngine() {
        if (zvClientCreate(&client) <= 0 || zvPipeEngineCreate(&handle, client) <= 0 ||
            zvPipeEngineSetConsole(handle, &ConsoleEngine::Append, this) <= 0)
            throw std::runtime_error("cannot make an engine");
    }
    ~ConsoleEngine() {
        zvPipeEngineDestroy(handle);
        zvClientDestroy(client);
    }
    ConsoleEngine(const ConsoleEngine&) = delete;
    ConsoleEngine& operator=(const ConsoleEngine&) = delete;

    static void Append(void* context, const char* text) { static_cast<ConsoleEngine*>(context)->text += text; }

    zvHandle client = nullptr;
    zvHandle handle = nullptr;
    std::string text;
};

// Names of the journal entries (the text before the first space).
inline std::vector<std::string> CallNames(const std::vector<std::string>& journal) {
    std::vector<std::string> names;
    for (const std::string& entry : journal) names.push_back(entry.substr(0, entry.find(' ')));
    return names;
}

// Calls a fault may not be injected into: a failed destroy leaks by design,
// and accessors report failures by value rather than status.
inline bool Injectable(const std::string& name) {
    static const std::set<std::string> accessors = {"zvArrayListAt", "zvArrayListCount",
                                                    "zvArrayListItemSize", "zvArrayListData",
                                                    "zvObjectIs", "zvObjectType", "zvMalloc",
                                                    "zvFree", "zvTypeBlock", "zvTypeSize"};
    if (name.size() >= 7 && name.compare(name.size() - 7, 7, "Destroy") == 0) return false;
    if (name == "zvDataDispose" || name == "zvDispose") return false;
    return accessors.count(name) == 0;
}

// Runs `operation` once with the journal on, then again with each
// injectable call of that run failing in turn (the k-th call of its name
// returns `injected`). After each failing run `check` sees the call and the
// status; objects and bytes must be back to where they started.
inline void CallFaultLoop(const std::function<zvStatus()>& operation,
                          const std::function<void(const std::string& call, zvStatus status)>& check,
                          zvStatus injected = -77) {
    zv::testing::Scope scope;
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    zv::testing::JournalStart();
    ASSERT_GT(operation(), 0);
    zv::testing::JournalStop();
    const std::vector<std::string> names = CallNames(zv::testing::Journal());
    zv::testing::JournalClear();
    ASSERT_FALSE(names.empty());

    std::map<std::string, int> seen;
    for (const std::string& name : names) {
        const int k = ++seen[name];
        if (!Injectable(name)) continue;
        SCOPED_TRACE(name + " #" + std::to_string(k));
        zv::testing::FailCall(name, k, injected);
        const zvStatus status = operation();
        EXPECT_FALSE(zv::testing::FaultPending());
        zv::testing::ClearFaults();
        check(name, status);
        EXPECT_EQ(zv::testing::LiveObjects(), objects);
        EXPECT_EQ(zv::testing::LiveBytes(), bytes);
    }
}

// Fails the k-th allocation for k = 1.. until `operation` runs without the
// fault firing; each failing run must give -995, the platform's ZV_E_NOMEM,
// or 0 (XmlFindChild's status for its name buffer), and leave nothing behind. `after` runs after every attempt (checks of the
// file on disk). Returns the number of failing runs.
inline int AllocationFaultLoop(const std::function<zvStatus()>& operation,
                               const std::function<void()>& after = [] {}) {
    zv::testing::Scope scope;
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    int failures = 0;
    for (int k = 1; k < 10000; ++k) {
        SCOPED_TRACE("allocation #" + std::to_string(k));
        zv::testing::FailAllocation(k);
        const zvStatus status = operation();
        const bool fired = !zv::testing::FaultPending();
        zv::testing::ClearFaults();
        after();
        EXPECT_EQ(zv::testing::LiveObjects(), objects);
        EXPECT_EQ(zv::testing::LiveBytes(), bytes);
        if (!fired) {
            EXPECT_GT(status, 0);
            return failures;
        }
        ++failures;
        EXPECT_TRUE(status == -995 || status == ZV_E_NOMEM || status == 0) << "status " << status;
    }
    ADD_FAILURE() << "the operation never ran through";
    return failures;
}

}  // namespace doctest

#endif
