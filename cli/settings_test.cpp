// The CLI end to end: global options, the settings command and the exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/cli_run_test_support.h"

namespace {

namespace fs = std::filesystem;

using fw::test::CliRun;
using fw::test::RunCli;

int Lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fw_cli_settings_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // The registry store goes to the test's folder, never to the user's configuration.
  CliRun Run(const std::string& args) {
    return RunCli("env XDG_CONFIG_HOME='" + dir_.string() + "/cfg' '" FW_CLI_PATH "' " + args,
                  dir_);
  }
  fs::path dir_;
};

TEST_F(CliTest, SettingsPrintsTheRulesAppliedAndWritesNothing) {
  const std::string original = "[Data Settings]\nQuickFormat = 5\nBootPartitionSize = 64\n";
  std::ofstream(dir_ / "s.ini") << original;
  CliRun r = Run("--settings s.ini --no-pauses settings");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.compare(0, 5, "\xEF\xBB\xBF\r\n"), 0);
  EXPECT_NE(r.out.find("QuickFormat = 1\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("BootPartitionSize = 64\r\n"), std::string::npos);
  EXPECT_EQ(ReadAll(dir_ / "s.ini"), original);
  EXPECT_FALSE(fs::exists(dir_ / "UserDL.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "cfg" / "flashwright" / "registry.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "ZORDebug.log"));

  // A missing settings file shows the defaults and stays missing.
  CliRun d = Run("--settings none.ini settings");
  EXPECT_EQ(d.status, 0);
  EXPECT_NE(d.out.find("Boot_records = Clover\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "none.ini"));

  // The log is the user's choice and is kept even for a query.
  std::ofstream(dir_ / "log.ini") << "[Data Settings]\nLogEnable = 1\n";
  EXPECT_EQ(Run("--settings log.ini settings").status, 0);
  EXPECT_NE(ReadAll(dir_ / "ZORDebug.log").find("(LoadSetting) LoadSetting: LogEnable=1\r\n"),
            std::string::npos);
}

TEST_F(CliTest, WithoutSettingsOptionTheDesktopProgramsFileIsRead) {
  // A copy of the CLI in a writable folder reads the desktop program's settings beside it.
  fs::copy_file(FW_CLI_PATH, dir_ / "flashwright-cli");
  std::ofstream(dir_ / "flashwright.ini") << "[Data Settings]\nBootPartitionSize = 64\n";
  CliRun r =
      RunCli("env XDG_CONFIG_HOME='" + dir_.string() + "/cfg' ./flashwright-cli settings", dir_);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("BootPartitionSize = 64\r\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir_ / "flashwright-cli.ini"));
}

TEST_F(CliTest, CommandsThatRunSaveTheSettingsAtExit) {
  std::ofstream(dir_ / "s.ini") << "[Data Settings]\nQuickFormat = 5\n";
  // test-data-zip stands for any command that is not a query: it fails here (no such zip).
  CliRun r = Run("--settings s.ini test-data-zip missing.zip");
  EXPECT_EQ(r.status, 1) << r.out;
  const std::string saved = ReadAll(dir_ / "s.ini");
  EXPECT_NE(saved.find("\r\nQuickFormat = 1\r\n"), std::string::npos);
  EXPECT_EQ(saved, Run("--settings s.ini settings").out);
  EXPECT_TRUE(fs::exists(dir_ / "UserDL.ini"));
  EXPECT_EQ(Run("--settings s.ini test-data-zip missing.zip").status, 1);
  // The AutoRun value the run switched off is back as it was (none before: 0).
  EXPECT_NE(ReadAll(dir_ / "cfg" / "flashwright" / "registry.txt").find("NoDriveTypeAutoRun\t4\t0"),
            std::string::npos);
}

// The format options hold for one run: whether it fails early, stops on a usage error or
// formats, the settings file keeps what it had.
TEST_F(CliTest, FormatOptionsNeverReachTheSettingsFile) {
  std::ofstream(dir_ / "s.ini") << "[Data Settings]\nBoot_records = Clover\nVolumeLabel = KEEP\n";
  const std::string cli = "env FLASHWRIGHT_BLOCK_DEVICES= XDG_CONFIG_HOME='" + dir_.string() +
                          "/cfg' '" FW_CLI_PATH "' --settings s.ini --no-pauses ";
  struct Case {
    std::string args;
    int status;
  };
  for (const Case& c :
       {Case{"format --boot-records FreeDos --label LEAKED --disk 7", 1},
        Case{"format --label LEAKED --file-system NTFS --align 5", 2},
        Case{"--yes --image d.img --create 64M format --boot-records Windows --file-system FAT32 "
             "--multi-partitions 0 --label LEAKED",
             0}}) {
    SCOPED_TRACE(c.args);
    const CliRun r = RunCli(cli + c.args, dir_);
    EXPECT_EQ(r.status, c.status) << r.out;
    const std::string saved = ReadAll(dir_ / "s.ini");
    EXPECT_NE(saved.find("\r\nBoot_records = Clover\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\r\nVolumeLabel = KEEP\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("LEAKED"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("FileSystem = NTFS"), std::string::npos) << saved;
  }
}

TEST_F(CliTest, UsageErrorsAndVersion) {
  for (const char* args : {"--settings s.ini settings extra", "--bogus settings", "--settings", "",
                           "--no-pauses", "frobnicate"}) {
    CliRun r = Run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(Lines(r.out), 1) << args << ": " << r.out;
    EXPECT_EQ(r.out.rfind("flashwright-cli: ", 0), 0u) << args;
  }
  CliRun v = Run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "Flashwright v2.1.029 Beta (23.09.2022)\n");
  // Nothing but the single-instance lock file is left behind.
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename(), "flashwright-cli.lock");
}

}  // namespace
