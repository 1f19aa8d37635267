// The file space, file objects and folders.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using zvtest::TempFileSpace;

std::string ReadThrough(const char* path) {
    zvHandle f = nullptr;
    EXPECT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    std::string text;
    if (zvFileInit(f, path, ZV_FILE_READ) == ZV_OK) {
        int64_t length = -1;
        EXPECT_EQ(zvFileLength(f, &length), ZV_OK);
        text.resize(static_cast<size_t>(length));
        int64_t done = -1;
        EXPECT_EQ(zvFileRead(f, text.data(), length, &done), ZV_OK);
        EXPECT_EQ(done, length);
    }
    EXPECT_EQ(zvFileDestroy(f), ZV_OK);
    return text;
}

zvStatus WriteThrough(const char* path, const std::string& text) {
    zvHandle f = nullptr;
    EXPECT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    zvStatus status = zvFileInit(f, path, ZV_FILE_WRITE);
    if (status > 0) status = zvFileWrite(f, text.data(), static_cast<int64_t>(text.size()));
    zvStatus closed = zvFileDestroy(f);
    return status > 0 ? closed : status;
}

std::vector<std::string> Names(zvHandle list) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < zvArrayListCount(list); ++i)
        names.emplace_back(zvStringChars(*static_cast<zvHandle*>(zvArrayListAt(list, i))));
    return names;
}

TEST(FileSpace, NamesMatchWithoutCaseAndWithEitherSeparator) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "<a/>");
    space.Write("C/Program/Model.txt", "m");
    for (const char* path : {"\\SN7\\Settings.xml", "/sn7/settings.XML", "SN7/Settings.xml", "\\\\SN7//.\\Settings.xml",
                             "\\SN7\\x\\..\\Settings.xml"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(zvFileExists(path), 1);
        EXPECT_EQ(ReadThrough(path), "<a/>");
    }
    for (const char* path : {"C:\\Program\\Model.txt", "c:/program/model.txt", "\\C\\PROGRAM\\MODEL.TXT"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(zvFileExists(path), 1);
    }
    EXPECT_EQ(zvFileExists("\\SN7"), 0);  // a folder is no file
    EXPECT_EQ(zvFileExists("\\SN8\\Settings.xml"), 0);

    // A new file under an existing folder found by another case keeps its own case.
    ASSERT_EQ(WriteThrough("\\sn7\\NewFile.Txt", "n"), ZV_OK);
    EXPECT_EQ(space.Read("SN7/NewFile.Txt"), "n");

    char resolved[ZV_PATH_MAX * 4];
    ASSERT_EQ(zvFileSpaceResolve("/sn7/SETTINGS.xml", resolved, sizeof resolved), ZV_OK);
    EXPECT_EQ(std::filesystem::path(resolved), std::filesystem::canonical(space.Path()) / "SN7" / "Settings.xml");
    char small[8];
    EXPECT_EQ(zvFileSpaceResolve("/sn7/SETTINGS.xml", small, sizeof small), ZV_E_RANGE);
    EXPECT_STREQ(small, "");
}

TEST(FileSpace, PathsLeavingTheRootAreRefused) {
    zv::testing::Scope scope;
    TempFileSpace space;
    std::filesystem::create_directories(space.Path() / "inside");
    std::filesystem::create_symlink("/tmp", space.Path() / "out");
    std::filesystem::create_symlink(space.Path() / "inside", space.Path() / "alias");
    std::filesystem::create_symlink(space.Path() / "missing", space.Path() / "dangling");
    std::filesystem::create_symlink("/nonexistent-zvtest/x", space.Path() / "dangling-out");
    std::filesystem::create_symlink("inside/../../x", space.Path() / "up");
    std::filesystem::create_symlink("loop2", space.Path() / "loop1");
    std::filesystem::create_symlink("loop1", space.Path() / "loop2");
    for (const char* path : {"..\\..\\x", "/../x", "inside/../../x", "C:\\..\\x", "out", "out/x", "OUT\\x",
                             "dangling-out", "up", "loop1", "loop1/x"}) {
        SCOPED_TRACE(path);
        char buffer[ZV_PATH_MAX * 4];
        EXPECT_EQ(zvFileSpaceResolve(path, buffer, sizeof buffer), ZV_E_ACCESS);
        zvHandle f = nullptr;
        ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
        EXPECT_EQ(zvFileInit(f, path, ZV_FILE_WRITE), ZV_E_ACCESS);
        EXPECT_EQ(zvFileDestroy(f), ZV_OK);
        EXPECT_EQ(zvFileDelete(path), ZV_E_ACCESS);
    }
    // A link that stays inside the space is followed, a dangling one too:
    // writing through it makes its target.
    ASSERT_EQ(WriteThrough("alias/x.txt", "through"), ZV_OK);
    EXPECT_EQ(space.Read("inside/x.txt"), "through");
    ASSERT_EQ(WriteThrough("dangling", "made"), ZV_OK);
    EXPECT_EQ(space.Read("missing"), "made");
    EXPECT_TRUE(std::filesystem::is_symlink(space.Path() / "dangling"));

    const std::string longPath(ZV_PATH_MAX, 'a');
    EXPECT_EQ(zvFileExists(longPath.c_str()), 0);
    EXPECT_EQ(zvFileDelete(longPath.c_str()), ZV_E_RANGE);
    EXPECT_EQ(zvFileSpaceSetRoot((space.Path() / "none").c_str()), ZV_E_NOTFOUND);
}

// A read opens what the path resolves to, whether every name is spelt as on
// the disk or not, and never a file that a link leads to outside the space.
TEST(FileSpace, ReadsOpenWhatThePathResolvesTo) {
    zv::testing::Scope scope;
    TempFileSpace elsewhere;
    elsewhere.Write("secret.txt", "secret");
    TempFileSpace space;
    space.Write("Dir/File.txt", "upper");
    space.Write("Dir/file.txt", "lower");
    space.Write("inside/x.txt", "in");
    std::filesystem::create_directories(space.Path() / "Dir" / "Sub");
    std::filesystem::create_symlink(space.Path() / "inside", space.Path() / "alias");
    std::filesystem::create_symlink(space.Path() / "inside" / "x.txt", space.Path() / "Dir" / "link.txt");
    std::filesystem::create_symlink(elsewhere.Path() / "secret.txt", space.Path() / "outside.txt");
    std::filesystem::create_symlink(elsewhere.Path(), space.Path() / "away");
    struct Case {
        const char* path;
        zvStatus status;
        const char* text;
    };
    const Case cases[] = {
        {"Dir/File.txt", ZV_OK, "upper"},
        {"\\Dir\\file.txt", ZV_OK, "lower"},
        {"dir/FILE.TXT", ZV_OK, "upper"},  // the first in byte order of those that match
        {"Dir/Sub/../File.txt", ZV_OK, "upper"},
        {"alias/x.txt", ZV_OK, "in"},
        {"Dir/link.txt", ZV_OK, "in"},
        {"outside.txt", ZV_E_ACCESS, nullptr},
        {"away/secret.txt", ZV_E_ACCESS, nullptr},
        {"AWAY/secret.txt", ZV_E_ACCESS, nullptr},
        {"../secret.txt", ZV_E_ACCESS, nullptr},
        {"Dir", ZV_E_NOTFOUND, nullptr},
        {"Dir/Sub", ZV_E_NOTFOUND, nullptr},
        {"Dir/none.txt", ZV_E_NOTFOUND, nullptr},
        {"Dir/File.txt/more", ZV_E_NOTFOUND, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        zvHandle f = nullptr;
        ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
        EXPECT_EQ(zvFileInit(f, c.path, ZV_FILE_READ), c.status);
        EXPECT_EQ(zvFileDestroy(f), ZV_OK);
        if (c.text != nullptr) {
            EXPECT_EQ(ReadThrough(c.path), c.text);
        }
    }
}

TEST(Files, AWrittenFileReplacesTheOldOneOnlyWhenClosed) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("Settings.xml", "old");
    zvHandle f = nullptr;
    ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(f, "\\Settings.xml", ZV_FILE_WRITE), ZV_OK);
    ASSERT_EQ(zvFileWrite(f, "new content", 11), ZV_OK);
    ASSERT_EQ(zvFileFlush(f), ZV_OK);
    int64_t length = 0;
    EXPECT_EQ(zvFileLength(f, &length), ZV_OK);
    EXPECT_EQ(length, 11);
    // Readers and listings still see only the old file.
    EXPECT_EQ(ReadThrough("\\Settings.xml"), "old");
    zvHandle names = nullptr;
    ASSERT_EQ(zvArrayListCreate(&names, nullptr), ZV_OK);
    ASSERT_EQ(zvArrayListInit(names, ZV_TYPE_STRING, 0, 0), ZV_OK);
    ASSERT_EQ(zvDirectoryGetFiles("\\", names), ZV_OK);
    EXPECT_EQ(Names(names), std::vector<std::string>{"Settings.xml"});
    zvArrayListDestroy(names);

    ASSERT_EQ(zvFileDestroy(f), ZV_OK);
    EXPECT_EQ(space.Read("Settings.xml"), "new content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(space.Path()), {}), 1);
}

TEST(Files, FailedWritesNeverReplaceTheOldFile) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("Settings.xml", "old");
    struct Case {
        const char* name;
        const char* failing;
        int k;
    };
    for (Case c : {Case{"first write", "zvFileWrite", 1}, Case{"second write", "zvFileWrite", 2},
                   Case{"flush", "zvFileFlush", 1}}) {
        SCOPED_TRACE(c.name);
        zvHandle f = nullptr;
        ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
        ASSERT_EQ(zvFileInit(f, "\\Settings.xml", ZV_FILE_WRITE), ZV_OK);
        zv::testing::FailCall(c.failing, c.k, ZV_E_IO);
        zvStatus first = zvFileWrite(f, "new ", 4);
        zvStatus second = zvFileWrite(f, "content", 7);
        zvStatus flushed = zvFileFlush(f);
        EXPECT_TRUE(first <= 0 || second <= 0 || flushed <= 0);
        EXPECT_EQ(zvFileDestroy(f), ZV_E_IO);
        EXPECT_EQ(space.Read("Settings.xml"), "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(space.Path()), {}), 1);
        zv::testing::ClearFaults();
    }
    // Writing to a file opened for reading is refused and changes nothing.
    zvHandle f = nullptr;
    ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(f, "\\Settings.xml", ZV_FILE_READ), ZV_OK);
    EXPECT_EQ(zvFileWrite(f, "x", 1), ZV_E_STATE);
    EXPECT_EQ(zvFileInit(f, "\\Settings.xml", ZV_FILE_READ), ZV_E_STATE);
    EXPECT_EQ(zvFileDestroy(f), ZV_OK);
    EXPECT_EQ(space.Read("Settings.xml"), "old");
}

TEST(Files, ReadOnlyFilesAreNeitherReplacedNorDeleted) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("Model.xml", "old");
    space.Write("other.xml", "other");
    std::filesystem::permissions(space.Path() / "Model.xml", std::filesystem::perms::owner_read);
    EXPECT_EQ(WriteThrough("Model.xml", "new"), ZV_E_IO);
    EXPECT_EQ(zvFileCopy("other.xml", "Model.xml", 1), ZV_E_IO);
    EXPECT_EQ(zvFileDelete("Model.xml"), ZV_E_IO);
    EXPECT_EQ(space.Read("Model.xml"), "old");
    EXPECT_EQ(ReadThrough("Model.xml"), "old");
}

TEST(Files, OpeningReportsMissingFilesAndFolders) {
    zv::testing::Scope scope;
    TempFileSpace space;
    std::filesystem::create_directories(space.Path() / "SN7");
    zvHandle f = nullptr;
    ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    EXPECT_EQ(zvFileInit(f, "\\SN7\\Settings.xml", ZV_FILE_READ), ZV_E_NOTFOUND);
    EXPECT_EQ(zvFileInit(f, "\\SN7", ZV_FILE_READ), ZV_E_NOTFOUND);
    EXPECT_EQ(zvFileInit(f, "\\SN9\\Settings.xml", ZV_FILE_WRITE), ZV_E_NOTFOUND);
    EXPECT_EQ(zvFileInit(f, "\\SN7\\Settings.xml", 5), ZV_E_ARGUMENT);
    char byte;
    int64_t done = -1;
    EXPECT_EQ(zvFileRead(f, &byte, 1, &done), ZV_E_STATE);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(zvFileDestroy(f), ZV_OK);
    EXPECT_FALSE(space.Exists("SN9"));
}

TEST(Files, ReadingStopsAtTheEndWithTheCountRead) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("data.bin", "12345");
    zvHandle f = nullptr;
    ASSERT_EQ(zvFileCreate(&f, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(f, "data.bin", ZV_FILE_READ), ZV_OK);
    char buffer[16] = {};
    int64_t done = 0;
    ASSERT_EQ(zvFileRead(f, buffer, 3, &done), ZV_OK);
    EXPECT_EQ(done, 3);
    ASSERT_EQ(zvFileRead(f, buffer, sizeof buffer, &done), ZV_OK);
    EXPECT_EQ(done, 2);
    EXPECT_EQ(std::string(buffer, 2), "45");
    ASSERT_EQ(zvFileRead(f, buffer, sizeof buffer, nullptr), ZV_OK);
    EXPECT_EQ(zvFileRead(f, nullptr, 4, &done), ZV_E_ARGUMENT);
    EXPECT_EQ(zvFileDestroy(f), ZV_OK);
}

TEST(Files, CopyHonoursOverwriteAndDeleteRemovesFilesOnly) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("a.txt", "A");
    space.Write("b.txt", "B");
    std::filesystem::create_directories(space.Path() / "dir");
    EXPECT_EQ(zvFileCopy("a.txt", "b.txt", 0), ZV_E_STATE);
    EXPECT_EQ(space.Read("b.txt"), "B");
    EXPECT_EQ(zvFileCopy("A.TXT", "b.txt", 1), ZV_OK);
    EXPECT_EQ(space.Read("b.txt"), "A");
    EXPECT_EQ(zvFileCopy("a.txt", "dir\\c.txt", 0), ZV_OK);
    EXPECT_EQ(space.Read("dir/c.txt"), "A");
    EXPECT_EQ(zvFileCopy("none.txt", "d.txt", 1), ZV_E_NOTFOUND);
    EXPECT_EQ(zvFileCopy("a.txt", "nodir\\d.txt", 1), ZV_E_NOTFOUND);

    EXPECT_EQ(zvFileDelete("\\DIR\\C.TXT"), ZV_OK);
    EXPECT_FALSE(space.Exists("dir/c.txt"));
    EXPECT_EQ(zvFileDelete("\\dir\\c.txt"), ZV_E_NOTFOUND);
    EXPECT_EQ(zvFileDelete("\\dir"), ZV_E_NOTFOUND);
    EXPECT_TRUE(space.Exists("dir"));
}

TEST(Directories, ListingsAreSortedAppendedAndSeparateFilesFromFolders) {
    zv::testing::Scope scope;
    TempFileSpace space;
    for (const char* name : {"b.txt", "A.txt", "c.TXT"}) space.Write(std::string("SN7/") + name, "x");
    for (const char* name : {"Masks", "archive"}) std::filesystem::create_directories(space.Path() / "SN7" / name);
    const int64_t objects = zv::testing::LiveObjects();

    zvHandle names = nullptr;
    ASSERT_EQ(zvArrayListCreate(&names, nullptr), ZV_OK);
    ASSERT_EQ(zvArrayListInit(names, ZV_TYPE_STRING, 0, 0), ZV_OK);
    ASSERT_EQ(zvDirectoryGetFiles("\\sn7", names), ZV_OK);
    EXPECT_EQ(Names(names), (std::vector<std::string>{"A.txt", "b.txt", "c.TXT"}));
    ASSERT_EQ(zvDirectoryGetDirectories("\\SN7\\", names), ZV_OK);
    EXPECT_EQ(Names(names), (std::vector<std::string>{"A.txt", "b.txt", "c.TXT", "archive", "Masks"}));
    EXPECT_EQ(zvDirectoryGetFiles("\\SN8", names), ZV_E_NOTFOUND);

    // A failure part-way leaves the list as it was.
    zv::testing::FailAllocation(2);
    EXPECT_EQ(zvDirectoryGetFiles("\\SN7", names), ZV_E_NOMEM);
    EXPECT_EQ(zvArrayListCount(names), 5);
    EXPECT_EQ(zv::testing::LiveObjects(), objects + 1 + 5);

    zvHandle plain = nullptr;
    ASSERT_EQ(zvArrayListCreate(&plain, nullptr), ZV_OK);
    ASSERT_EQ(zvArrayListInit(plain, ZV_TYPE_STRING, 0, 1), ZV_OK);
    EXPECT_EQ(zvDirectoryGetFiles("\\SN7", plain), ZV_E_ARGUMENT);
    zvArrayListDestroy(plain);
    zvArrayListDestroy(names);
    EXPECT_EQ(zv::testing::LiveObjects(), objects);
}

TEST(Directories, CreateMakesMissingFoldersAndAppHomeRoundTrips) {
    zv::testing::Scope scope;
    TempFileSpace space;
    EXPECT_EQ(zvDirectoryCreate("\\SN7\\Masks"), ZV_OK);
    EXPECT_TRUE(std::filesystem::is_directory(space.Path() / "SN7" / "Masks"));
    EXPECT_EQ(zvDirectoryCreate("\\sn7\\masks"), ZV_OK);  // already there
    EXPECT_FALSE(space.Exists("sn7"));
    space.Write("file", "x");
    EXPECT_EQ(zvDirectoryCreate("\\file\\sub"), ZV_E_IO);
    EXPECT_EQ(zvDirectoryCreate("..\\up"), ZV_E_ACCESS);

    char home[ZV_PATH_MAX];
    ASSERT_EQ(zvDirectorySetAppHome("\\Program\\Client"), ZV_OK);
    ASSERT_EQ(zvDirectoryGetAppHome(home, sizeof home), ZV_OK);
    EXPECT_STREQ(home, "\\Program\\Client");
    char tiny[4];
    EXPECT_EQ(zvDirectoryGetAppHome(tiny, sizeof tiny), ZV_E_RANGE);
    EXPECT_STREQ(tiny, "");
    EXPECT_EQ(zvDirectorySetAppHome("..\\x"), ZV_E_ACCESS);
    ASSERT_EQ(zvDirectorySetAppHome("\\"), ZV_OK);
}

TEST(Paths, CombinePutsOneSeparatorBetweenAndRefusesWhatDoesNotFit) {
    zv::testing::Scope scope;
    struct Case {
        const char* first;
        const char* second;
        const char* joined;
    };
    for (Case c : {Case{"\\SN7", "Settings.xml", "\\SN7\\Settings.xml"},
                   Case{"\\SN7\\", "\\Settings.xml", "\\SN7\\Settings.xml"}, Case{"C:/", "x", "C:\\x"},
                   Case{"\\", "x", "\\x"}, Case{"", "x", "x"}, Case{"a", "", "a\\"}}) {
        SCOPED_TRACE(testing::Message() << c.first << " + " << c.second);
        char buffer[64];
        ASSERT_EQ(zvPathCombine(buffer, sizeof buffer, c.first, c.second), ZV_OK);
        EXPECT_STREQ(buffer, c.joined);
    }
    char small[8];
    EXPECT_EQ(zvPathCombine(small, sizeof small, "\\SN7", "Settings.xml"), ZV_E_RANGE);
    EXPECT_STREQ(small, "");
    const std::string half(200, 'a');
    std::vector<char> big(4096);
    EXPECT_EQ(zvPathCombine(big.data(), 4096, half.c_str(), half.c_str()), ZV_E_RANGE);
    const std::string huge(100000, 'b');
    EXPECT_EQ(zvPathCombine(big.data(), 4096, huge.c_str(), "x"), ZV_E_RANGE);
    EXPECT_EQ(zvPathCombine(big.data(), 4096, nullptr, "x"), ZV_E_ARGUMENT);
    EXPECT_EQ(zvPathCombine(nullptr, 10, "a", "x"), ZV_E_ARGUMENT);
}

TEST(Files, CallsAreJournaledWithPathAndMode) {
    zv::testing::Scope scope;
    TempFileSpace space;
    zv::testing::JournalStart();
    EXPECT_EQ(WriteThrough("\\SN7\\Settings.xml", "x"), ZV_E_NOTFOUND);
    EXPECT_EQ(zv::testing::JournalOf("zvFileInit"), std::vector<std::string>{"zvFileInit \\SN7\\Settings.xml 0"});
}

}  // namespace
