// Fault loops over the platform's own whole-file and folder calls: every
// failure, of a call, an allocation or the commit of a written file, is
// reported, leaks nothing and leaves the files as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fault_loop.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using zvtest::TempFileSpace;

zvHandle NameList() {
    zvHandle list = nullptr;
    EXPECT_EQ(zvArrayListCreate(&list, nullptr), ZV_OK);
    EXPECT_EQ(zvArrayListInit(list, ZV_TYPE_STRING, 0, 0), ZV_OK);
    return list;
}

TEST(PlatformFaults, CopyKeepsTheOldDestination) {
    TempFileSpace space;
    space.Write("SN7/a.bin", std::string(200000, 'a'));
    space.Write("SN7/b.bin", "old b");
    zvtest::FaultLoop loop;
    loop.operation = [] { return zvFileCopy("\\SN7\\a.bin", "\\SN7\\b.bin", 1); };
    loop.intact = {space.Host("SN7/b.bin"), space.Host("SN7/a.bin")};
    EXPECT_EQ(loop.Run(), 2);  // the call itself, and its commit
}

TEST(PlatformFaults, ListingsAreAllOrNothing) {
    TempFileSpace space;
    for (const char* name : {"a.xml", "B.xml", "c.bin"}) space.Write(std::string("SN7/") + name, "x");
    for (const char* name : {"Masks", "old"}) space.MakeFolder(std::string("SN7/") + name);
    for (bool folders : {false, true}) {
        SCOPED_TRACE(folders ? "folders" : "files");
        zvHandle list = NameList();
        zvtest::FaultLoop loop;
        loop.operation = [&] {
            const zvStatus status =
                folders ? zvDirectoryGetDirectories("\\SN7", list) : zvDirectoryGetFiles("\\SN7", list);
            EXPECT_EQ(zvArrayListCount(list), status > 0 ? (folders ? 2 : 3) : 0);
            return status;
        };
        loop.cleanup = [&] { ASSERT_EQ(zvArrayListResize(list, 0), ZV_OK); };
        EXPECT_GT(loop.Run(), folders ? 2 : 3);
        zvArrayListDestroy(list);
    }
}

TEST(PlatformFaults, FolderCreationFailuresMakeNothing) {
    TempFileSpace space;
    zvtest::FaultLoop loop;
    loop.operation = [] { return zvDirectoryCreate("\\SN7\\Masks\\2024"); };
    loop.cleanup = [&] { std::filesystem::remove_all(space.Host("SN7")); };
    loop.verify = [&](const zvtest::Fault&) { EXPECT_FALSE(space.Exists("SN7")); };
    loop.Run();
}

TEST(PlatformFaults, DocumentWritesNeverReplaceTheFileHalfWay) {
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "<old/>");
    zvtest::FaultLoop loop;
    loop.operation = [] {
        zvHandle doc = nullptr;
        zvHandle file = nullptr;
        zvStatus status = zvXMLCreate(&doc, nullptr);
        if (status > 0) status = zvXMLInit(doc, 0);
        if (status > 0) status = zvXMLUnflatten(doc, "<SensorGroup><Name>System</Name></SensorGroup>");
        if (status > 0) status = zvFileCreate(&file, nullptr);
        if (status > 0) status = zvFileInit(file, "\\SN7\\Settings.xml", ZV_FILE_WRITE);
        if (status > 0) status = zvXMLWrite(doc, file);
        const zvStatus closed = zvFileDestroy(file);
        zvXMLDestroy(doc);
        return status > 0 ? closed : status;
    };
    loop.intact = {space.Host("SN7/Settings.xml")};
    loop.Run();
}

TEST(PlatformFaults, FlattenReportsEveryFailure) {
    zvtest::FaultLoop loop;
    loop.operation = [] {
        zvHandle doc = nullptr;
        zvStatus status = zvXMLCreate(&doc, nullptr);
        if (status > 0) status = zvXMLInit(doc, 0);
        if (status > 0) status = zvXMLUnflatten(doc, "<r><a>1</a></r>");
        int64_t size = 0;
        if (status > 0) status = zvXMLFlatten(doc, nullptr, 0, &size);
        std::string text(static_cast<size_t>(size), '\0');
        if (status > 0) status = zvXMLFlatten(doc, text.data(), size, &size);
        zvXMLDestroy(doc);
        return status;
    };
    loop.Run();
}

// The rename that ends a write fails for real: the old file is not a file
// any more but a folder with something in it.
TEST(PlatformFaults, AFailedRenameAtCloseKeepsWhatWasThere) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Settings.xml", "old");
    zvHandle file = nullptr;
    ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(file, "\\SN7\\Settings.xml", ZV_FILE_WRITE), ZV_OK);
    ASSERT_EQ(zvFileWrite(file, "new", 3), ZV_OK);
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    space.Write("SN7/Settings.xml/inside", "kept");
    zvLastErrorClear();
    EXPECT_EQ(zvFileDestroy(file), ZV_E_IO);
    EXPECT_NE(std::string(zvLastErrorText()).find("Settings.xml"), std::string::npos);
    EXPECT_EQ(space.Read("SN7/Settings.xml/inside"), "kept");
    EXPECT_EQ(space.List("SN7"), std::vector<std::string>{"Settings.xml"});
}

}  // namespace
