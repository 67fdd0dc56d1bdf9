#include "app/registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace fw {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per process: ctest runs these tests side by side.
    path_ = std::filesystem::temp_directory_path() /
            ("fw_registry_test_" + std::to_string(getpid())) / "sub" / "registry.txt";
    std::filesystem::remove_all(path_.parent_path().parent_path());
    SetRegistryStorePath(path_.string());
  }
  void TearDown() override {
    SetRegistryStorePath("");
    std::filesystem::remove_all(path_.parent_path().parent_path());
  }
  std::filesystem::path path_;
};

const char* const kKey = "HKEY_LOCAL_MACHINE\\Software\\Test\\Policies";

TEST_F(RegistryTest, ValueEncodingsByType) {
  EXPECT_EQ(Registry::KeyExists(kKey), 0);
  EXPECT_EQ(Registry::WriteValue(kKey, "v", "1", REG_SZ), 0);  // no key yet
  ASSERT_EQ(Registry::CreateKey(kKey), 1);
  EXPECT_EQ(Registry::KeyExists("hkey_local_machine\\SOFTWARE\\test"), 1);  // intermediate key
  EXPECT_EQ(Registry::WriteValue(kKey, "NoDriveTypeAutoRun", "255", REG_DWORD), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "NoDriveTypeAutoRun"), "255");
  EXPECT_EQ(Registry::WriteValue(kKey, "d", "", REG_DWORD), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "d"), "0");
  EXPECT_EQ(Registry::WriteValue(kKey, "d", "4294967297", REG_DWORD), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "d"), "1");  // kept as a 32-bit number
  EXPECT_EQ(Registry::WriteValue(kKey, "bin", "0A0b", REG_BINARY), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "bin"), "0A0B");
  EXPECT_EQ(Registry::WriteValue(kKey, "s", "text with = and spaces", REG_SZ), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "S"), "text with = and spaces");
  EXPECT_EQ(Registry::WriteValue(kKey, "x", "1", 7), 1);  // other types write nothing
  EXPECT_EQ(Registry::ValueExists(kKey, "x"), 0);
  EXPECT_EQ(Registry::ValueExists(kKey, "bin"), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "missing"), "");
}

TEST_F(RegistryTest, RemoteComputersAndUnknownRootsFail) {
  EXPECT_EQ(Registry::CreateKey(kKey, "otherhost"), 0);
  EXPECT_EQ(Registry::CreateKey("HKEY_NOWHERE\\x"), 0);
  ASSERT_EQ(Registry::CreateKeyAndWriteValue(kKey, "v", "1", REG_SZ), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "v", "otherhost"), "");
  EXPECT_EQ(Registry::KeyExists(kKey, "otherhost"), 0);
}

TEST_F(RegistryTest, StoredTextsThatLookLikeKeysStayValues) {
  ASSERT_EQ(Registry::CreateKey(kKey), 1);
  EXPECT_EQ(Registry::WriteValue(kKey, "[name]", "[data]", REG_SZ), 1);
  EXPECT_EQ(Registry::WriteValue(kKey, "after", "x", REG_SZ), 1);
  EXPECT_EQ(Registry::ReadValue(kKey, "[name]"), "[data]");
  EXPECT_EQ(Registry::ReadValue(kKey, "after"), "x");
  EXPECT_EQ(Registry::CreateKey("HKEY_LOCAL_MACHINE\\bad\nkey"), 0);
  EXPECT_EQ(Registry::KeyExists("HKEY_LOCAL_MACHINE\\bad"), 0);
  EXPECT_EQ(Registry::ReadValue(kKey, "after"), "x");
}

TEST_F(RegistryTest, DeleteRemovesTheWholeTreeOnly) {
  ASSERT_EQ(Registry::CreateKeyAndWriteValue("HKEY_LOCAL_MACHINE\\A\\B\\C\\D", "v", "1", REG_SZ),
            1);
  ASSERT_EQ(Registry::CreateKey("HKEY_LOCAL_MACHINE\\AB"), 1);
  EXPECT_EQ(Registry::DeleteKey("hkey_local_machine\\A\\B"), 1);
  EXPECT_EQ(Registry::KeyExists("HKEY_LOCAL_MACHINE\\A\\B\\C\\D"), 0);
  EXPECT_EQ(Registry::KeyExists("HKEY_LOCAL_MACHINE\\A\\B"), 0);
  EXPECT_EQ(Registry::KeyExists("HKEY_LOCAL_MACHINE\\A"), 1);
  EXPECT_EQ(Registry::KeyExists("HKEY_LOCAL_MACHINE\\AB"), 1);
  EXPECT_EQ(Registry::DeleteKey("HKEY_LOCAL_MACHINE\\A\\B"), 0);  // gone already
}

}  // namespace
}  // namespace fw
