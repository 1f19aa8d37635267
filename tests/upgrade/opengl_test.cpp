#include <gtest/gtest.h>

#include "brenvik.hpp"
#include "support/fault_loop.hpp"
#include "support/temp_space.hpp"
#include "test_support.hpp"
#include "winsvc/scripted_services.hpp"

namespace {

using namespace brenvik_test;
using winsvc::ScriptedServices;
using Lines = std::vector<std::string>;
using zvtest::TempFileSpace;

class OpenGlTest : public StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        WriteText(Host("C/App/zvControls.dll"), "controls");
        WriteText(Host("C/App/b/ZVCONTROLS.DLL"), "controls");
        WriteText(Host("C/App/b/glu32.dll"), "kept");
        WriteText(Host("C/App/a/readme.txt"), "no controls here");
        WriteText(Host("C/App/a/deep/zvcontrols.dll"), "controls");
    }
    ScriptedServices services_;
};

TEST_F(OpenGlTest, EveryFolderWithTheControlsGetsBothLibraries) {
    ASSERT_EQ(brenvik::AddOpenGl(services_, "C:\\App"), ZV_OK);
    for (const char* folder : {"C/App", "C/App/a/deep"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(ReadText(Host(std::string(folder) + "/opengl32.dll")), "opengl library");
        EXPECT_EQ(ReadText(Host(std::string(folder) + "/glu32.dll")), "glu library");
    }
    EXPECT_EQ(ReadText(Host("C/App/b/opengl32.dll")), "opengl library");
    EXPECT_EQ(ReadText(Host("C/App/b/glu32.dll")), "kept");  // an existing copy stays
    EXPECT_FALSE(fs::exists(Host("C/App/a/opengl32.dll")));
    EXPECT_FALSE(fs::exists(Host("C/App/a/glu32.dll")));
    EXPECT_EQ(services_.Calls(), Lines{"LoadLibraryA(opengl32.dll)"});
}

TEST_F(OpenGlTest, TheWalkIsDepthFirstInListingOrder) {
    zv::testing::JournalStart();
    ASSERT_EQ(brenvik::CopyOpenGlTree("C:\\App"), ZV_OK);
    Lines copies = zv::testing::JournalOf("zvFileCopy");
    zv::testing::JournalStop();
    ASSERT_EQ(copies.size(), 5u);
    EXPECT_NE(copies[0].find("C:\\App\\opengl32.dll"), std::string::npos) << copies[0];
    EXPECT_NE(copies[1].find("C:\\App\\glu32.dll"), std::string::npos) << copies[1];
    EXPECT_NE(copies[2].find("C:\\App\\a\\deep\\opengl32.dll"), std::string::npos) << copies[2];
    EXPECT_NE(copies[3].find("C:\\App\\a\\deep\\glu32.dll"), std::string::npos) << copies[3];
    EXPECT_NE(copies[4].find("C:\\App\\b\\opengl32.dll"), std::string::npos) << copies[4];
}

TEST_F(OpenGlTest, NothingIsCopiedWhenTheSystemHasOpenGl) {
    services_.libraries.insert("opengl32.dll");
    ASSERT_EQ(brenvik::AddOpenGl(services_, "C:\\App"), ZV_OK);
    EXPECT_EQ(services_.Calls(), (Lines{"LoadLibraryA(opengl32.dll)", "FreeLibrary(4)"}));
    EXPECT_FALSE(fs::exists(Host("C/App/opengl32.dll")));
    EXPECT_EQ(services_.OpenHandleCount(), 0u);
}

TEST_F(OpenGlTest, TheFirstFailureEndsTheWalk) {
    fs::remove(Host("C/Anvora/glu32.dll_"));
    EXPECT_EQ(brenvik::CopyOpenGlTree("C:\\App"), ZV_E_NOTFOUND);
    EXPECT_TRUE(fs::exists(Host("C/App/opengl32.dll")));
    EXPECT_FALSE(fs::exists(Host("C/App/a/deep/opengl32.dll")));
    EXPECT_EQ(brenvik::CopyOpenGlTree("C:\\NoSuchFolder"), ZV_E_NOTFOUND);
}

// Every failure of a call or an allocation ends the walk with its status,
// and nothing leaks; the copies a failed walk made are taken away again so
// that every run starts alike.
TEST_F(OpenGlTest, EveryFailureEndsTheWalkWithItsStatus) {
    zvtest::FaultLoop loop;
    loop.operation = [] { return brenvik::CopyOpenGlTree("C:\\App"); };
    loop.cleanup = [&] {
        for (const char* copy : {"C/App/opengl32.dll", "C/App/glu32.dll", "C/App/a/deep/opengl32.dll",
                                 "C/App/a/deep/glu32.dll", "C/App/b/opengl32.dll"})
            fs::remove(Host(copy));
    };
    loop.check = [](const zvtest::Fault& fault, zvStatus status) {
        // zvFileExists answers 0 or 1: a failed look copies, or is refused
        // by the copy that keeps what is there.
        if (fault.call == "zvFileExists") return;
        if (fault.Allocation()) {
            EXPECT_TRUE(status == ZV_E_NOMEM || status == -995) << status;
        } else {
            EXPECT_EQ(status, fault.Expected());
        }
    };
    loop.verify = [&](const zvtest::Fault&) { EXPECT_EQ(ReadText(Host("C/App/b/glu32.dll")), "kept"); };
    EXPECT_GT(loop.Run(), 10);
}

// A folder link that leads out of the station, or back up into the walk,
// is skipped with a message; the rest of the tree is still walked.
TEST_F(OpenGlTest, LinksOutOfTheStationOrBackUpAreSkippedAndTheWalkGoesOn) {
    TempFileSpace outside("brenvik-outside", TempFileSpace::Root::kLeave);
    outside.Write("zvcontrols.dll", "controls");
    fs::create_directory_symlink(outside.Path(), Host("C/App/a0-out"));
    fs::create_directory_symlink("../../App", Host("C/App/a/loop"));
    zvStatus status = ZV_E_FAIL;
    const std::string out = Output([&] { status = brenvik::AddOpenGl(services_, "C:\\App"); });
    EXPECT_EQ(status, ZV_OK);
    EXPECT_NE(out.find("Skipped C:\\App\\a0-out: it leads out of the station\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Skipped C:\\App\\a\\loop: it leads back into a folder above it\n"), std::string::npos) << out;
    EXPECT_EQ(ReadText(Host("C/App/a/deep/opengl32.dll")), "opengl library");
    EXPECT_EQ(ReadText(Host("C/App/b/opengl32.dll")), "opengl library");
    EXPECT_EQ(outside.List(), std::vector<std::string>{"zvcontrols.dll"});
}

TEST_F(OpenGlTest, PathsTooLongForTheStationEndTheWalkWithAMessage) {
    std::string deep = "C/App/" + std::string(120, 'd') + "/" + std::string(120, 'e');
    WriteText(Host(deep + "/zvcontrols.dll"), "controls");
    zvStatus status = ZV_OK;
    std::string out = Output([&] { status = brenvik::CopyOpenGlTree("C:\\App"); });
    EXPECT_EQ(status, ZV_E_RANGE);
    EXPECT_NE(out.find("Path too long"), std::string::npos) << out;
}

}  // namespace
