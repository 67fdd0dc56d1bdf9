#include "app/work_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

namespace fw {
namespace {

namespace fs = std::filesystem;

class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = fs::temp_directory_path() /
           ("fw_work_test_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(tmp_);
    fs::create_directories(tmp_);
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    setenv("TMPDIR", tmp_.c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    fs::remove_all(tmp_);
  }
  fs::path tmp_;
  std::string oldTmp_;
};

TEST_F(WorkFolderTest, NewWorkFolderReplacesEarlierOnes) {
  fs::create_directories(tmp_ / "ZORTemp1234" / "inner");
  fs::create_directories(tmp_ / "ZORTempOld");
  fs::create_directories(tmp_ / "zortemp1234");
  std::ofstream(tmp_ / "ZORTempFile") << "a file, not a folder";
  ASSERT_EQ(CreateTempWorkDir(), 1);
  const std::string dir = ZorTempWorkDir();
  EXPECT_TRUE(std::regex_match(dir, std::regex(tmp_.string() + "/ZORTemp[1-9][0-9]{3}/")));
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_FALSE(fs::exists(tmp_ / "ZORTempOld"));
  EXPECT_TRUE(fs::exists(tmp_ / "zortemp1234"));
  EXPECT_TRUE(fs::exists(tmp_ / "ZORTempFile"));
  int entries = 0;
  for (auto& e : fs::directory_iterator(tmp_))
    entries += e.path().filename().string().rfind("ZORTemp", 0) == 0 && e.is_directory();
  EXPECT_EQ(entries, 1);
  ASSERT_EQ(CreateTempWorkDir(), 1);
  if (ZorTempWorkDir() != dir) {
    EXPECT_FALSE(fs::exists(dir));
  }
  RemoveTempWorkDir();
  EXPECT_EQ(ZorTempWorkDir(), "");
}

// Another running copy of the program keeps its work folder while it runs; once it has ended,
// its folder counts as left over and goes like any other.
TEST_F(WorkFolderTest, AnotherRunningCopysFolderIsKeptUntilItEnds) {
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char go = 0;
    // A forked copy draws the same folder numbers as this process: its second folder is one
    // that this process's next draw does not repeat.
    CreateTempWorkDir();
    const std::string dir = CreateTempWorkDir() == 1 ? ZorTempWorkDir() : std::string();
    (void)!write(toParent[1], dir.data(), dir.size());
    close(toParent[1]);
    (void)!read(toChild[0], &go, 1);  // hold the folder until the parent says so
    _exit(0);
  }
  close(toParent[1]);
  close(toChild[0]);
  char buffer[512];
  const ssize_t n = read(toParent[0], buffer, sizeof buffer);
  close(toParent[0]);
  ASSERT_GT(n, 0);
  const std::string other(buffer, static_cast<size_t>(n));
  fs::create_directories(tmp_ / "ZORTemp4321" / "left-over");

  ASSERT_EQ(CreateTempWorkDir(), 1);
  const std::string mine = ZorTempWorkDir();
  EXPECT_TRUE(fs::is_directory(other)) << "a running copy lost its work folder";
  EXPECT_FALSE(fs::exists(tmp_ / "ZORTemp4321"));
  // This process's own earlier folder is not protected from its next one.
  ASSERT_EQ(CreateTempWorkDir(), 1);
  if (ZorTempWorkDir() != mine) {
    EXPECT_FALSE(fs::exists(mine));
  }

  (void)!write(toChild[1], "x", 1);
  close(toChild[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(CreateTempWorkDir(), 1);
  EXPECT_FALSE(fs::exists(other));
  RemoveTempWorkDir();
}

TEST_F(WorkFolderTest, TempFileNamesClearEarlierTempFiles) {
  std::ofstream(tmp_ / "TEMP5555") << "x";
  fs::create_directories(tmp_ / "TEMPdir");
  std::string name = CreateTempFileName(tmp_.string());
  EXPECT_TRUE(std::regex_match(name, std::regex(tmp_.string() + "/TEMP[1-9][0-9]{3}")));
  EXPECT_FALSE(fs::exists(tmp_ / "TEMP5555"));
  EXPECT_TRUE(fs::exists(tmp_ / "TEMPdir"));
  EXPECT_FALSE(fs::exists(name));
  EXPECT_EQ(CreateTempFileName(""), "");
}

TEST_F(WorkFolderTest, FolderPathsAreCreatedComponentByComponent) {
  EXPECT_EQ(CreateDirectoryPath(tmp_.string() + "/a/b/c"), 1);
  EXPECT_TRUE(fs::is_directory(tmp_ / "a" / "b" / "c"));
  EXPECT_EQ(CreateDirectoryPath(tmp_.string() + "\\w\\x"), 1);
  EXPECT_TRUE(fs::is_directory(tmp_ / "w" / "x"));
  EXPECT_EQ(CreateDirectoryPath(""), 0);
  std::ofstream(tmp_ / "file") << "x";
  EXPECT_EQ(CreateDirectoryPath(tmp_.string() + "/file/sub"), 0);
  CreateDirectoryRecursive(tmp_.string() + "/r/s/t/");
  EXPECT_TRUE(fs::is_directory(tmp_ / "r" / "s" / "t"));
  CreateDirectoryRecursive(tmp_.string() + "/r2/s2");
  EXPECT_TRUE(fs::is_directory(tmp_ / "r2" / "s2"));
}

}  // namespace
}  // namespace fw
