#include "app/work_folder.h"

#include <gtest/gtest.h>

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
