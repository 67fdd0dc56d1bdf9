// flashwright-cli's help end to end: aligned columns, COMMAND --help before anything starts, and
// a global option given after the command.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "cli/cli_run_test_support.h"

namespace {

namespace fs = std::filesystem;

class CliHelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fw_cli_help_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fw::test::CliRun Run(const std::string& args) {
    return fw::test::RunCli(
        "env XDG_CONFIG_HOME='" + dir_.string() + "/cfg' '" FW_CLI_PATH "' " + args, dir_);
  }
  fs::path dir_;
};

// The lines of a section ("Commands:") up to the next empty line.
std::vector<std::string> Section(const std::string& text, const std::string& title) {
  std::vector<std::string> lines;
  std::istringstream in(text.substr(text.find("\n" + title + "\n") + title.size() + 2));
  for (std::string line; std::getline(in, line) && !line.empty();) lines.push_back(line);
  return lines;
}

TEST_F(CliHelpTest, TheCommandListIsOneAlignedLinePerCommand) {
  const fw::test::CliRun r = Run("--help");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<std::string> commands = Section(r.out, "Commands:");
  ASSERT_GE(commands.size(), 8u) << r.out;
  const size_t column = commands[0].find_first_not_of(' ', commands[0].find(' ', 2));
  for (const std::string& line : commands) {
    EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
    EXPECT_EQ(line.find_first_not_of(' ', line.find(' ', 2)), column) << line;
    EXPECT_LE(line.size(), 79u) << line;
  }
  // Each option, or a description carried on to a line of its own.
  for (const std::string& line : Section(r.out, "Global options (before the command):"))
    EXPECT_TRUE(line.rfind("  -", 0) == 0 || line.rfind("      ", 0) == 0) << line;
}

TEST_F(CliHelpTest, CommandHelpListsTheOptionsAndTouchesNothing) {
  for (const char* command : {"format", "backup", "restore", "download", "list", "volume"}) {
    const fw::test::CliRun r = Run(std::string(command) + " --help");
    EXPECT_EQ(r.status, 0) << command << ": " << r.out;
    EXPECT_EQ(r.out.rfind(std::string("usage: flashwright-cli [GLOBAL OPTIONS] ") + command, 0), 0u)
        << r.out;
  }
  const fw::test::CliRun format = Run("format --disk 3 --help");
  EXPECT_EQ(format.status, 0);
  for (const char* option : {"  --disk N ", "  --boot-records Clover|Windows|FreeDos|Not_Format\n",
                             "  --local-distr FILE "})
    EXPECT_NE(format.out.find(option), std::string::npos) << option << format.out;
  // No lock, no settings, no example download list: the folder stays empty.
  EXPECT_TRUE(fs::is_empty(dir_)) << fs::directory_iterator(dir_)->path();
}

TEST_F(CliHelpTest, AGlobalOptionAfterTheCommandIsToldWhereItBelongs) {
  fw::test::CliRun r = Run("format --yes");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "flashwright-cli: --yes is a global option: give it before the command "
            "(flashwright-cli --yes format ...)\n");
  r = Run("list --image disk.img");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("(flashwright-cli --image disk.img list ...)"), std::string::npos) << r.out;
  r = Run("backup --partition 1 --output x.bin --no-pauses");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("--no-pauses is a global option"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
