// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/FileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tallowin {
namespace {

class FileIOTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tallowin-fileio-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(FileIOTest, AtomicWriteReplacesWithPrivateModeAndLeavesNoTempFile) {
    const auto path = dir_ / "vault.tlwvault";
    ASSERT_FALSE(writeFileAtomically(path, toBytes("old")));
    ASSERT_FALSE(writeFileAtomically(path, toBytes("new content")));
    Bytes read;
    ASSERT_FALSE(readFile(path, read, 1024));
    EXPECT_EQ(toString(read), "new content");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(FileIOTest, ReadRefusesMissingOversizedAndNonRegularFiles) {
    Bytes read;
    EXPECT_EQ(readFile(dir_ / "missing", read, 10), std::errc::no_such_file_or_directory);
    ASSERT_FALSE(writeFileAtomically(dir_ / "big", Bytes(11, 'x')));
    EXPECT_EQ(readFile(dir_ / "big", read, 10), std::errc::file_too_large);
    EXPECT_TRUE(read.empty());
    EXPECT_TRUE(readFile(dir_, read, 10));
}

TEST_F(FileIOTest, ReadRefusesAFifoWithoutWaitingForAWriter) {
    const auto path = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    Bytes read;
    EXPECT_EQ(readFile(path, read, 10), std::errc::invalid_argument);
}

TEST_F(FileIOTest, WriteIntoMissingFolderFails) {
    EXPECT_TRUE(writeFileAtomically(dir_ / "nope" / "file", toBytes("x")));
}

} // namespace
} // namespace tallowin
