// The file space below the zv calls: its system-call table, the failing
// fake, and fault loops that fail the disk's calls one at a time under
// writes of whole files, inside the space and outside it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/fault_loop.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

namespace fs = std::filesystem;
using zvtest::TempFileSpace;

zvStatus WriteThrough(const char* path, const std::string& text) {
    zvHandle f = nullptr;
    zvStatus status = zvFileCreate(&f, nullptr);
    if (status > 0) status = zvFileInit(f, path, ZV_FILE_WRITE);
    if (status > 0) status = zvFileWrite(f, text.data(), static_cast<int64_t>(text.size()));
    if (status > 0) status = zvFileFlush(f);
    const zvStatus closed = f != nullptr ? zvFileDestroy(f) : ZV_OK;
    return status > 0 ? closed : status;
}

// A failure of these is never survived by a write: its status says so.
bool WriteMustFail(const zvtest::Fault& fault) {
    if (fault.call == "write") return fault.error != zv::testing::kShortTransfer;
    if (fault.call == "fsync") return fault.k == 1;  // the file's; the folder's comes after the rename
    return fault.call == "renameat";
}

TEST(SystemCalls, TheRealTableIsInstalledAndTheFakeComesAndGoes) {
    EXPECT_EQ(&zv::sys::Current(), &zv::sys::Real());
    {
        zv::testing::FailingSystemCalls fake;
        EXPECT_EQ(&zv::sys::Current(), &zv::testing::FailingSystemCalls::Table());
        TempFileSpace space;
        ASSERT_EQ(WriteThrough("\\a.txt", "text"), ZV_OK);
        const auto counts = fake.Counts();
        for (const char* name : {"openat", "write", "fsync", "renameat", "flock"}) {
            EXPECT_GT(counts.count(name) ? counts.at(name) : 0, 0) << name;
        }
        // A table of another version is refused.
        zv::sys::Calls other = zv::sys::Real();
        other.version = zv::sys::kCallsVersion + 1;
        EXPECT_EQ(zv::sys::Install(&other), &zv::testing::FailingSystemCalls::Table());
        EXPECT_EQ(&zv::sys::Current(), &zv::testing::FailingSystemCalls::Table());
    }
    EXPECT_EQ(&zv::sys::Current(), &zv::sys::Real());
}

// The first failing system call of each kind under a write, by hand: the
// old file stays, no temporary file is left, and the status says so.
TEST(SystemCalls, ADiskThatFailsUnderAWriteLeavesTheOldFile) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "old");
    zv::testing::FailingSystemCalls fake;
    struct Case {
        const char* call;
        int error;
        int k;
    };
    for (const Case& c : {Case{"write", ENOSPC, 1}, Case{"write", EFBIG, 1}, Case{"fsync", EIO, 1},
                          Case{"renameat", EIO, 1}, Case{"openat", EACCES, 2}}) {
        SCOPED_TRACE(std::string(c.call) + " " + strerrorname_np(c.error));
        fake.Fail(c.call, c.k, c.error);
        EXPECT_EQ(WriteThrough("\\SN7\\Settings.xml", "new"), ZV_E_IO);
        EXPECT_FALSE(fake.Pending());
        EXPECT_EQ(space.Read("SN7/Settings.xml"), "old");
        EXPECT_EQ(space.List("SN7"), std::vector<std::string>{"Settings.xml"});
        fake.Clear();
    }
    // A short write is continued: the file is whole.
    fake.Fail("write", 1, zv::testing::kShortTransfer);
    EXPECT_EQ(WriteThrough("\\SN7\\Settings.xml", "new text"), ZV_OK);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "new text");
}

TEST(SystemCalls, EveryFailingCallUnderAFileWriteLeavesTheOldFileOrTheNewOne) {
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "old settings");
    const std::string text(100000, 'x');  // several writes' worth
    zvtest::FaultLoop loop;
    loop.operation = [&] { return WriteThrough("\\sn7\\settings.xml", text); };
    loop.intact = {space.Host("SN7/Settings.xml")};
    loop.allocations = false;
    loop.systemCalls = true;
    loop.systemCheck = [&](const zvtest::Fault& fault, zvStatus status) {
        if (WriteMustFail(fault)) {
            EXPECT_EQ(status, ZV_E_IO);
        }
        if (status > 0) {
            EXPECT_TRUE(space.Read("SN7/Settings.xml") == text) << "a write reported whole is not";
        }
    };
    EXPECT_GT(loop.Run(), 10);
}

// The helpers of zv_file_space.hpp, inside the space and outside it: the
// same promise.
TEST(SystemCalls, EveryFailingCallUnderTheWholeFileHelpersLeavesTheOldFileOrTheNewOne) {
    TempFileSpace outside("zvtest-outside", TempFileSpace::Root::kLeave);
    TempFileSpace space;
    space.Write("station.json", "old");
    outside.Write("Free-Plot.png", "old picture");
    const std::string text(70000, 'y');
    struct Case {
        const char* name;
        fs::path host;
        std::function<zvStatus()> write;
    };
    for (const Case& c :
         {Case{"inside", space.Host("station.json"), [&] { return zv::files::WriteFile("station.json", text); }},
          Case{"outside", outside.Host("Free-Plot.png"),
               [&] { return zv::files::WriteOutsideFile(outside / "Free-Plot.png", text); }}}) {
        SCOPED_TRACE(c.name);
        zvtest::FaultLoop loop;
        loop.operation = c.write;
        loop.intact = {c.host};
        loop.allocations = false;
        loop.systemCalls = true;
        loop.systemCheck = [&](const zvtest::Fault& fault, zvStatus status) {
            if (WriteMustFail(fault)) {
                EXPECT_EQ(status, ZV_E_IO);
            }
            if (status <= 0) {
                EXPECT_NE(std::string(zvLastErrorText()), "") << "a failure without a reason";
            }
            if (status > 0) {
                EXPECT_TRUE(zvtest::ReadHostFile(c.host) == text) << "a write reported whole is not";
            }
        };
        EXPECT_GT(loop.Run(), 10);
    }
}

// Reads survive short reads and report the rest; a file past the limit is
// refused before any of it is read.
TEST(SystemCalls, ReadsAreBoundedBeforeAByteIsRead) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.MakeFolder("SN7");
    {
        const int fd = ::open(space.Host("SN7/Settings.xml").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);  // a sparse GiB
        ::close(fd);
    }
    zv::testing::FailingSystemCalls fake;
    std::string text = "kept?";
    EXPECT_EQ(zv::files::ReadFile("SN7/Settings.xml", 64 << 20, &text), ZV_E_RANGE);
    EXPECT_EQ(text, "");
    EXPECT_NE(std::string(zvLastErrorText()).find("larger than"), std::string::npos) << zvLastErrorText();
    zvHandle document = nullptr;
    EXPECT_EQ(zvXmlLoad("\\SN7\\Settings.xml", &document), ZV_E_PARSE);
    EXPECT_EQ(fake.Counts().count("read"), 0u) << "the file was read before its size was looked at";

    space.Write("SN7/Settings.xml", "<SensorGroup/>");
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        std::string read;
        const zvStatus status = zv::files::ReadFile("\\SN7\\Settings.xml", 1000, &read);
        if (status > 0) {
            EXPECT_EQ(read, "<SensorGroup/>");
        }
        return status;
    };
    loop.allocations = false;
    loop.systemCalls = true;
    EXPECT_GT(loop.Run(), 3);
}

}  // namespace
