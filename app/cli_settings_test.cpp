// The CLI end to end: global options, the settings command and the exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status;
  std::string out;
};

CliRun RunCli(const std::string& args, const fs::path& cwd) {
  std::string cmd = "cd '" + cwd.string() + "' && '" FW_CLI_PATH "' " + args + " 2>&1 </dev/null";
  CliRun r{-1, ""};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(CliTest, SettingsCommandPrintsTheRulesAppliedAndSavesAtExit) {
  fs::path dir = fs::temp_directory_path() / "fw_cli_settings_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "s.ini") << "[Data Settings]\nQuickFormat = 5\nBootPartitionSize = 64\n";
  CliRun r = RunCli("--settings s.ini --no-pauses settings", dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.compare(0, 5, "\xEF\xBB\xBF\r\n"), 0);
  EXPECT_NE(r.out.find("QuickFormat = 1\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("BootPartitionSize = 64\r\n"), std::string::npos);
  std::ifstream saved(dir / "s.ini", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, r.out);
  EXPECT_TRUE(fs::exists(dir / "UserDL.ini"));
  EXPECT_FALSE(fs::exists(dir / "ZORDebug.log"));

  std::ofstream(dir / "log.ini") << "[Data Settings]\nLogEnable = 1\n";
  EXPECT_EQ(RunCli("--settings log.ini settings", dir).status, 0);
  EXPECT_TRUE(fs::exists(dir / "ZORDebug.log"));

  EXPECT_EQ(RunCli("--settings s.ini settings extra", dir).status, 2);
  EXPECT_EQ(RunCli("--bogus settings", dir).status, 2);
  EXPECT_EQ(RunCli("--settings", dir).status, 2);
  CliRun v = RunCli("--version", dir);
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("Flashwright v2.1.029 Beta", 0), 0u);
  fs::remove_all(dir);
}

}  // namespace
