#include "base/FileIO.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;
using testsupport::fileMode;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileIO, WriteAtomicReplacesWithTheRequestedModeAndLeavesNoTemporary) {
    TempDir tmp;
    writeFile(tmp / "f", "old");
    fs::permissions(tmp / "f", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::others_read);
    std::error_code error;
    ASSERT_TRUE(FileIO::writeAtomic(tmp / "f", "new content", 0600, error)) << error.message();
    EXPECT_EQ(readFile(tmp / "f"), "new content");
    EXPECT_EQ(fileMode(tmp / "f"), 0600u);
    ASSERT_TRUE(FileIO::writeAtomic(tmp / "g", "", 0644, error));
    EXPECT_EQ(fileMode(tmp / "g"), 0644u);
    EXPECT_EQ(entries(tmp.path()), (std::vector<std::string>{"f", "g"}));
}

TEST(FileIO, WriteAtomicFailureLeavesTheTargetUntouched) {
    TempDir tmp;
    fs::create_directories(tmp / "target-is-dir" / "x");
    std::error_code error;
    EXPECT_FALSE(FileIO::writeAtomic(tmp / "target-is-dir", "data", 0600, error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(fs::is_directory(tmp / "target-is-dir" / "x"));
    EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{"target-is-dir"});
    EXPECT_FALSE(FileIO::writeAtomic(tmp / "missing-dir" / "f", "data", 0600, error));
}

TEST(FileIO, AConditionalReplaceAsksLastAndLeavesAFileChangedMeanwhile) {
    // Someone else rewrites the file in place while the new content is being flushed: asked just
    // before the rename, the condition sees that write, and nothing replaces it.
    TempDir tmp;
    writeFile(tmp / "f", "old");
    std::error_code error;
    EXPECT_FALSE(FileIO::writeAtomicIf(tmp / "f", "ours", 0600, error, [&] {
        writeFile(tmp / "f", "theirs");
        return readFile(tmp / "f") == "old";
    }));
    EXPECT_EQ(error, std::errc::operation_canceled);
    EXPECT_EQ(readFile(tmp / "f"), "theirs");
    EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{"f"}) << "no temporary file is left";

    bool asked = false;
    ASSERT_TRUE(FileIO::writeAtomicIf(tmp / "f", "ours", 0600, error, [&] {
        asked = true;
        return readFile(tmp / "f") == "theirs";
    })) << error.message();
    EXPECT_TRUE(asked);
    EXPECT_EQ(readFile(tmp / "f"), "ours");
    EXPECT_EQ(fileMode(tmp / "f"), 0600u);
}

TEST(FileIO, CopyNoReplaceNeverReplacesAndCopiesLargeFilesWhole) {
    TempDir tmp;
    std::string big(3 << 20, 'x');
    big[12345] = '\0';
    writeFile(tmp / "src", big);
    std::error_code error;
    ASSERT_TRUE(FileIO::copyNoReplace(tmp / "src", tmp / "dst", 0600, error)) << error.message();
    EXPECT_EQ(readFile(tmp / "dst"), big);
    writeFile(tmp / "src", "other");
    EXPECT_FALSE(FileIO::copyNoReplace(tmp / "src", tmp / "dst", 0600, error));
    EXPECT_EQ(error, std::errc::file_exists);
    EXPECT_EQ(readFile(tmp / "dst"), big);
    EXPECT_FALSE(FileIO::copyNoReplace(tmp / "nothing", tmp / "dst2", 0600, error));
    EXPECT_EQ(entries(tmp.path()), (std::vector<std::string>{"dst", "src"}));
}

TEST(FileIO, ReadFileLimitsSizeAndRefusesNonRegularFiles) {
    TempDir tmp;
    writeFile(tmp / "f", std::string(1000, 'a'));
    std::error_code error;
    EXPECT_EQ(FileIO::readFile(tmp / "f", 1000, error), std::string(1000, 'a'));
    EXPECT_FALSE(FileIO::readFile(tmp / "f", 999, error));
    EXPECT_EQ(error, std::errc::file_too_large);
    EXPECT_FALSE(FileIO::readFile(tmp.path(), 1000, error));
    EXPECT_FALSE(FileIO::readFile(tmp / "missing", 1000, error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(FileIO, CreateDirectoriesGivesTheLastComponentItsMode) {
    TempDir tmp;
    std::error_code error;
    ASSERT_TRUE(FileIO::createDirectories(tmp / "a" / "b" / "c", 0700, error));
    EXPECT_EQ(fileMode(tmp / "a" / "b" / "c"), 0700u);
    EXPECT_TRUE(FileIO::createDirectories(tmp / "a" / "b" / "c", 0700, error));
    writeFile(tmp / "file", "");
    EXPECT_FALSE(FileIO::createDirectories(tmp / "file", 0700, error));
    EXPECT_FALSE(FileIO::createDirectories(tmp / "file" / "sub", 0700, error));
}

} // namespace
