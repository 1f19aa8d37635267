// The file space against a hostile disk: links swapped in while files are
// read and written, FIFOs and sockets named like documents, links inside
// the space, temporary files of interrupted writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

namespace fs = std::filesystem;
using zvtest::TempFileSpace;

std::string ReadThrough(const char* path, zvStatus* status) {
    zvHandle f = nullptr;
    EXPECT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    std::string text;
    *status = zvFileInit(f, path, ZV_FILE_READ);
    if (*status > 0) {
        char chunk[256];
        int64_t done = 0;
        while ((*status = zvFileRead(f, chunk, sizeof chunk, &done)) > 0 && done > 0)
            text.append(chunk, static_cast<size_t>(done));
    }
    EXPECT_EQ(zvFileDestroy(f), ZV_OK);
    return text;
}

zvStatus WriteThrough(const char* path, const std::string& text) {
    zvHandle f = nullptr;
    EXPECT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    zvStatus status = zvFileInit(f, path, ZV_FILE_WRITE);
    if (status > 0) status = zvFileWrite(f, text.data(), static_cast<int64_t>(text.size()));
    const zvStatus closed = zvFileDestroy(f);
    return status > 0 ? closed : status;
}

std::vector<std::string> Hidden(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.') names.push_back(entry.path().filename().string());
    return names;
}

// A folder of the space and a link to a folder outside it trade places
// again and again while the space's files are read and written: no write
// may land outside and no read may see an outside file.
TEST(FileSafety, ALinkSwappedInNeverLeadsOutOfTheSpace) {
    zv::testing::Scope scope;
    TempFileSpace outside("zvtest-outside", TempFileSpace::Root::kLeave);
    outside.Write("Settings.xml", "outside");
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "inside");
    fs::create_directory_symlink(outside.Path(), space.Host("swap"));

    std::atomic<bool> stop{false};
    std::atomic<int64_t> swaps{0};
    std::thread swapper([&] {
        const std::string a = space / "SN7";
        const std::string b = space / "swap";
        while (!stop.load()) {
            if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) ++swaps;
        }
    });
    int reads = 0, writes = 0;
    for (int i = 0; i < 3000; ++i) {
        zvStatus status = ZV_OK;
        const std::string text = ReadThrough("\\SN7\\Settings.xml", &status);
        if (status > 0) {
            ++reads;
            EXPECT_NE(text, "outside") << "a read went outside the space";
        }
        if (WriteThrough("\\SN7\\Settings.xml", "written " + std::to_string(i)) > 0) ++writes;
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_GT(reads + writes, 0);
    EXPECT_EQ(outside.Read("Settings.xml"), "outside");
    EXPECT_EQ(outside.List(), std::vector<std::string>{"Settings.xml"}) << "a write landed outside";
}

// FIFOs and sockets named like documents are refused at once, whatever
// reads them, and say so.
TEST(FileSafety, SpecialFilesAreRefusedWithoutBlocking) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.MakeFolder("SN7");
    ASSERT_EQ(::mkfifo(space.Host("SN7/Settings.xml").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = space / "SN7/Calibration.xml";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("Settings.xml", space.Host("SN7/fifo-link.xml"));

    for (const char* path :
         {"\\SN7\\Settings.xml", "\\sn7\\SETTINGS.XML", "\\SN7\\Calibration.xml", "\\SN7\\fifo-link.xml"}) {
        SCOPED_TRACE(path);
        zvLastErrorClear();
        zvStatus status = ZV_OK;
        ReadThrough(path, &status);
        EXPECT_EQ(status, ZV_E_UNSUPPORTED);
        EXPECT_NE(std::string(zvLastErrorText()).find("not a file"), std::string::npos) << zvLastErrorText();
        zvHandle document = nullptr;
        EXPECT_EQ(zvXmlLoad(path, &document), ZV_E_UNSUPPORTED);
        EXPECT_EQ(document, nullptr);
        EXPECT_EQ(zvFileExists(path), 0);
        EXPECT_EQ(WriteThrough(path, "x"), ZV_E_UNSUPPORTED);
        EXPECT_EQ(zvFileCopy(path, "\\copy.xml", 1), ZV_E_UNSUPPORTED);
    }
    EXPECT_NE(std::string(zvLastErrorText()).find("FIFO"), std::string::npos) << zvLastErrorText();
    struct stat info {};
    ASSERT_EQ(::lstat(space.Host("SN7/Settings.xml").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_FALSE(space.Exists("copy.xml"));
    ::close(sock);
}

// Writing through a link inside the space writes the file it leads to,
// beside which the temporary file is made; the link stays a link.
TEST(FileSafety, WritingThroughALinkWritesItsTarget) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("shared/Settings.xml", "old");
    space.MakeFolder("SN7");
    space.MakeFolder("SN8");
    fs::create_symlink("../shared/Settings.xml", space.Host("SN7/Settings.xml"));
    fs::create_symlink(space.Host("shared/Settings.xml"), space.Host("SN8/Settings.xml"));
    for (const char* path : {"\\SN7\\Settings.xml", "\\SN8\\settings.xml"}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(WriteThrough(path, std::string("new through ") + path), ZV_OK);
        EXPECT_EQ(space.Read("shared/Settings.xml"), std::string("new through ") + path);
        zvStatus status = ZV_OK;
        EXPECT_EQ(ReadThrough(path, &status), std::string("new through ") + path);
    }
    EXPECT_TRUE(fs::is_symlink(space.Host("SN7/Settings.xml")));
    EXPECT_TRUE(fs::is_symlink(space.Host("SN8/Settings.xml")));
    EXPECT_EQ(space.List("shared"), std::vector<std::string>{"Settings.xml"});
    // A delete takes the link, not what it leads to.
    EXPECT_EQ(zvFileDelete("\\SN7\\Settings.xml"), ZV_OK);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    EXPECT_TRUE(space.Exists("shared/Settings.xml"));
}

// The temporary files that interrupted writes leave go at the next write
// of the same file, and all of them at a sweep; those of writes still
// under way stay, and those writes still succeed.
TEST(FileSafety, TemporaryFilesOfInterruptedWritesDoNotPileUp) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "old");
    for (const char* name :
         {".Settings.xml.zvtmp.dead01", ".Settings.xml.zvtmp.dead02", ".Calibration.xml.zvtmp.dead03"})
        space.Write(std::string("SN7/") + name, "half");
    space.Write("SN7/Masks/.mask0.bin.zvtmp.dead04", "half");

    // A write still under way, of the same file.
    zvHandle live = nullptr;
    ASSERT_EQ(zvFileCreate(&live, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(live, "\\SN7\\Settings.xml", ZV_FILE_WRITE), ZV_OK);
    ASSERT_EQ(zvFileWrite(live, "live", 4), ZV_OK);

    ASSERT_EQ(WriteThrough("\\SN7\\Settings.xml", "new"), ZV_OK);
    std::vector<std::string> hidden = Hidden(space.Host("SN7"));
    ASSERT_EQ(hidden.size(), 2u) << "the live write's file and the other document's";
    EXPECT_NE(std::find(hidden.begin(), hidden.end(), ".Calibration.xml.zvtmp.dead03"), hidden.end());

    EXPECT_EQ(zvFileSpaceSweep("\\"), ZV_OK);
    hidden = Hidden(space.Host("SN7"));
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden[0].rfind(".Settings.xml.zvtmp.", 0), 0u);
    EXPECT_TRUE(Hidden(space.Host("SN7/Masks")).empty());

    ASSERT_EQ(zvFileDestroy(live), ZV_OK);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "live");
    EXPECT_TRUE(Hidden(space.Host("SN7")).empty());
    EXPECT_EQ(zvFileSpaceSweep("\\nowhere"), ZV_E_NOTFOUND);
}

// A process killed while it writes leaves its temporary file; the next
// write of the file takes it away.
TEST(FileSafety, AKilledWriterLeavesNothingPastTheNextWrite) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "old");
    for (int round = 0; round < 5; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            zvHandle f = nullptr;
            zvFileCreate(&f, nullptr);
            zvFileInit(f, "\\SN7\\Settings.xml", ZV_FILE_WRITE);
            zvFileWrite(f, "half", 4);
            (void)!::write(ready[1], "w", 1);
            ::pause();
            ::_exit(0);
        }
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    EXPECT_EQ(Hidden(space.Host("SN7")).size(), 5u);
    ASSERT_EQ(WriteThrough("\\SN7\\Settings.xml", "new"), ZV_OK);
    EXPECT_TRUE(Hidden(space.Host("SN7")).empty());
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "new");
}

}  // namespace
