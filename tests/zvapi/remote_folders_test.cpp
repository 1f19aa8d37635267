// Folders another machine serves, behind a table the test makes up: which
// paths go there, what reads, writes and listings see, and what a failing
// server leaves.
#include "zvapi/zv_remote_folders.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvapi/zvapi.h"

namespace {

// A server's folder "SN2" held in memory; `down` makes every call fail as an
// unreachable server's does.
class Served : public zv::files::RemoteFolders {
public:
    std::map<std::string, std::string> files;  // path below the folder -> bytes
    bool down = false;
    std::vector<std::string> calls;

    bool Serves(const std::string& folder) const override { return folder == "SN2" || folder == "sn2"; }
    zvStatus Read(const std::string&, const std::string& path, std::string* bytes, std::string* why) override {
        calls.push_back("read " + path);
        if (down) return Down(why);
        auto it = files.find(path);
        if (it == files.end()) return ZV_E_NOTFOUND;
        *bytes = it->second;
        return ZV_OK;
    }
    zvStatus Write(const std::string&, const std::string& path, std::string_view bytes, std::string* why) override {
        calls.push_back("write " + path);
        if (down) return Down(why);
        files[path] = std::string(bytes);
        return ZV_OK;
    }
    zvStatus Stat(const std::string&, const std::string& path, int* kind, int64_t* size, std::string* why) override {
        if (down) return Down(why);
        auto it = files.find(path);
        *kind = path.empty() ? 2 : it != files.end() ? 1 : 0;
        *size = it != files.end() ? static_cast<int64_t>(it->second.size()) : 0;
        return ZV_OK;
    }
    zvStatus List(const std::string&, const std::string& path, std::vector<Entry>* entries, std::string* why) override {
        if (down) return Down(why);
        if (!path.empty()) return ZV_E_NOTFOUND;
        for (const auto& [name, bytes] : files) entries->push_back({name, false, static_cast<int64_t>(bytes.size())});
        entries->push_back({"masks", true, 0});
        return ZV_OK;
    }
    zvStatus MakeFolder(const std::string&, const std::string& path, std::string* why) override {
        calls.push_back("mkdir " + path);
        return down ? Down(why) : ZV_OK;
    }
    zvStatus Delete(const std::string&, const std::string& path, std::string* why) override {
        if (down) return Down(why);
        return files.erase(path) != 0 ? ZV_OK : ZV_E_NOTFOUND;
    }

private:
    static zvStatus Down(std::string* why) {
        *why = "server 2 is offline";
        return ZV_E_IO;
    }
};

class RemoteFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        space_.Write("SN1/Settings.xml", "<local/>");
        space_.Write("SN2/Settings.xml", "<the client's stale copy/>");
        served_.files["Settings.xml"] = "<served/>";
        zv::files::SetRemoteFolders(&served_);
    }
    void TearDown() override { zv::files::SetRemoteFolders(nullptr); }

    std::string Read(const char* path) {
        std::string text;
        return zv::files::ReadFile(path, 1 << 20, &text) > 0 ? text : "(failed)";
    }

    zvtest::TempFileSpace space_{"zvremote"};
    Served served_;
};

// However a path is spelled, it goes to the server when it names its
// folder, and stays on this machine when it does not.
TEST_F(RemoteFoldersTest, PathsInTheServedFolderGoThereAndOthersStayHere) {
    for (const char* path : {"\\SN2\\Settings.xml", "SN2/Settings.xml", "C:\\SN2\\Settings.xml", "sn2\\.\\Settings.xml",
                             "\\SN1\\..\\SN2\\Settings.xml", "/SN2//Settings.xml"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Read(path), "<served/>");
    }
    EXPECT_EQ(Read("\\SN2\\..\\SN1\\Settings.xml"), "<local/>");
    EXPECT_EQ(Read("\\SN1\\Settings.xml"), "<local/>");
    // A path that leaves the space is the file space's to refuse.
    EXPECT_EQ(Read("\\..\\SN2\\Settings.xml"), "(failed)");
    EXPECT_EQ(zvFileExists("\\SN2\\Settings.xml"), 1);
    EXPECT_EQ(zvFileExists("\\SN2\\missing.xml"), 0);
    EXPECT_EQ(zvFileExists("\\SN2"), 0);
}

// A written file reaches the server whole at its close, and not before; a
// write that failed on the way is never sent.
TEST_F(RemoteFoldersTest, AWrittenFileIsSentWholeAtCloseAndAFailedOneNever) {
    zvHandle file = nullptr;
    ASSERT_EQ(zvFileCreate(&file, nullptr), 1);
    ASSERT_EQ(zvFileInit(file, "\\SN2\\Calibration.xml", ZV_FILE_WRITE), 1) << zvLastErrorText();
    ASSERT_EQ(zvFileWrite(file, "<cal", 4), 1);
    EXPECT_EQ(served_.files.count("Calibration.xml"), 0u);
    ASSERT_EQ(zvFileWrite(file, "/>", 2), 1);
    ASSERT_EQ(zvFileDestroy(file), 1);
    EXPECT_EQ(served_.files["Calibration.xml"], "<cal/>");
    EXPECT_FALSE(space_.Exists("SN2/Calibration.xml"));

    ASSERT_EQ(zvFileCreate(&file, nullptr), 1);
    ASSERT_EQ(zvFileInit(file, "\\SN2\\Calibration.xml", ZV_FILE_WRITE), 1);
    EXPECT_LE(zvFileWrite(file, nullptr, 5), 0);  // a failed write poisons the file
    EXPECT_LE(zvFileDestroy(file), 0);
    EXPECT_EQ(served_.files["Calibration.xml"], "<cal/>");

    // zvFileCopy without overwrite makes the copy only where nothing is.
    EXPECT_EQ(zvFileCopy("\\SN1\\Settings.xml", "\\SN2\\Settings.xml", 0), ZV_E_STATE);
    EXPECT_EQ(served_.files["Settings.xml"], "<served/>");
    ASSERT_EQ(zvFileCopy("\\SN1\\Settings.xml", "\\SN2\\Copy.xml", 0), 1) << zvLastErrorText();
    EXPECT_EQ(served_.files["Copy.xml"], "<local/>");
}

// An unreachable server fails reads, writes, listings and folders with its
// reason, and the client's own folder of its name is never used instead.
TEST_F(RemoteFoldersTest, AnUnreachableServerFailsEveryCallWithItsReason) {
    served_.down = true;
    std::string text;
    zvLastErrorClear();
    EXPECT_EQ(zv::files::ReadFile("\\SN2\\Settings.xml", 1 << 20, &text), ZV_E_IO);
    EXPECT_NE(std::string(zvLastErrorText()).find("server 2 is offline"), std::string::npos) << zvLastErrorText();
    EXPECT_EQ(zv::files::WriteFile("\\SN2\\Settings.xml", "new"), ZV_E_IO);
    EXPECT_EQ(space_.Read("SN2/Settings.xml"), "<the client's stale copy/>");
    std::vector<zv::files::Entry> entries;
    EXPECT_EQ(zv::files::ListFolder("SN2", &entries), ZV_E_IO);
    EXPECT_EQ(zvDirectoryCreate("\\SN2\\masks"), ZV_E_IO);
    EXPECT_EQ(zvFileDelete("\\SN2\\Settings.xml"), ZV_E_IO);

    // Back, it is listed as it is: its files and folders apart.
    served_.down = false;
    zvHandle names = nullptr;
    ASSERT_EQ(zvArrayListCreate(&names, nullptr), 1);
    ASSERT_EQ(zvArrayListInit(names, ZV_TYPE_STRING, 0, 0), 1);
    ASSERT_EQ(zvDirectoryGetDirectories("\\SN2", names), 1) << zvLastErrorText();
    EXPECT_EQ(zvArrayListCount(names), 1);
    ASSERT_EQ(zvDirectoryGetFiles("\\SN2", names), 1) << zvLastErrorText();
    EXPECT_EQ(zvArrayListCount(names), 2);
    zvArrayListDestroy(names);
    ASSERT_EQ(zv::files::ListFolder("SN2", &entries), 1);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "masks");
    EXPECT_EQ(entries[1].name, "Settings.xml");
}

}  // namespace
