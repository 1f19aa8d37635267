// Shared by the upgrade suites: a temporary station disk set up as the
// zvApi file space, file helpers and console capture.
#ifndef TESTS_UPGRADE_TEST_SUPPORT_HPP
#define TESTS_UPGRADE_TEST_SUPPORT_HPP

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace brenvik_test {

namespace fs = std::filesystem;

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A station disk: the file-space root holds drive C with the application
// home "C:\Anvora" (with the OpenGL library sources) and "C:\Station".
class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().string().empty());
        ASSERT_GT(zvInitialize(), 0);
        root_ = temp_.Path().string() + "/root";
        fs::create_directories(root_ + "/C/Station");
        WriteText(root_ + "/C/Anvora/opengl32.dll_", "opengl library");
        WriteText(root_ + "/C/Anvora/glu32.dll_", "glu library");
        ASSERT_GT(zvFileSpaceSetRoot(root_.c_str()), 0);
        ASSERT_GT(zvDirectorySetAppHome("C:\\Anvora"), 0);
        liveAtStart_ = zv::testing::LiveObjects();
    }
    void TearDown() override {
        EXPECT_EQ(zv::testing::LiveObjects(), liveAtStart_) << "zvApi objects left alive";
        zvTerminate();
    }
    std::string Host(const std::string& relative) const { return root_ + "/" + relative; }

    // Runs `body`, returning what it printed on standard output.
    template <class F>
    std::string Output(F&& body) {
        ::testing::internal::CaptureStdout();
        body();
        return ::testing::internal::GetCapturedStdout();
    }

    zv::testing::Scope seams_;
    zvtest::TempFileSpace temp_{"brenvik", zvtest::TempFileSpace::Root::kLeave};
    std::string root_;
    int64_t liveAtStart_ = 0;
};

}  // namespace brenvik_test

#endif
