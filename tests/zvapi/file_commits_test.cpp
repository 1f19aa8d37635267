// The file space's log of the files it changed: what the host reports as a
// page's files, in place of comparing folder listings.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_space.hpp"
#include "zvapi/zv_file_commits.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using Change = zv::files::Commit::Change;

zvStatus Save(const char* path, const std::string& text) {
    zvHandle file = nullptr;
    zvStatus status = zvFileCreate(&file, nullptr);
    if (status > 0) status = zvFileInit(file, path, ZV_FILE_WRITE);
    if (status > 0) status = zvFileWrite(file, text.data(), static_cast<int64_t>(text.size()));
    const zvStatus closed = zvFileDestroy(file);
    return status > 0 ? closed : status;
}

std::string Shown(const std::vector<zv::files::Commit>& commits) {
    std::string text;
    for (const auto& c : commits) {
        const char* change = c.change == Change::Created   ? "created"
                             : c.change == Change::Written ? "written"
                                                           : "deleted";
        text += c.path + " " + change + " " + std::to_string(c.size) + "; ";
    }
    return text;
}

class FileCommitsTest : public ::testing::Test {
protected:
    void SetUp() override { zv::files::LogCommits(true); }
    void TearDown() override {
        zv::files::LogCommits(false);
        zv::testing::ClearFaults();
    }
    zvtest::TempFileSpace space_;
};

TEST_F(FileCommitsTest, EachWholeWriteAndEachDeletionInOrder) {
    space_.MakeFolder("sn1");
    ASSERT_EQ(Save("\\SN1\\Settings.xml", "<a/>"), ZV_OK);
    ASSERT_EQ(Save("\\SN1\\Settings.xml", "<ab/>"), ZV_OK);
    ASSERT_EQ(Save("\\station.json", "{}"), ZV_OK);
    ASSERT_EQ(zvFileDelete("\\SN1\\settings.XML"), ZV_OK);
    // Named as the folders hold them, whatever case the caller used.
    EXPECT_EQ(Shown(zv::files::TakeCommits()),
              "sn1/Settings.xml created 4; sn1/Settings.xml written 5; station.json created 2; "
              "sn1/Settings.xml deleted -1; ");
    EXPECT_TRUE(zv::files::TakeCommits().empty());  // taken once
}

TEST_F(FileCommitsTest, AFailedWriteOrAnUnusedLogHoldsNothing) {
    zv::testing::FailCall("zvFileCommit", 1, ZV_E_IO);
    EXPECT_LE(Save("\\a.txt", "x"), 0);
    EXPECT_EQ(zvFileDelete("\\missing.txt"), ZV_E_NOTFOUND);
    EXPECT_EQ(Shown(zv::files::TakeCommits()), "");
    zv::files::LogCommits(false);
    ASSERT_EQ(Save("\\a.txt", "x"), ZV_OK);
    zv::files::LogCommits(true);
    EXPECT_EQ(Shown(zv::files::TakeCommits()), "");
}

TEST_F(FileCommitsTest, ALogNobodyTakesKeepsTheLatest) {
    for (size_t i = 0; i < zv::files::kMaxCommits + 3; ++i) ASSERT_EQ(Save("\\a.txt", std::to_string(i)), ZV_OK);
    const std::vector<zv::files::Commit> commits = zv::files::TakeCommits();
    ASSERT_EQ(commits.size(), zv::files::kMaxCommits);
    EXPECT_EQ(commits.back().size, static_cast<int64_t>(std::to_string(zv::files::kMaxCommits + 2).size()));
    EXPECT_EQ(commits.front().change, Change::Written);
}

}  // namespace
