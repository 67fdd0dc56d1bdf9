#include "app/root_restart.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/globals.h"
#include "app/quiet_ui_test_support.h"

namespace fw {
namespace {

struct Box {
  std::string text;
  MsgButtons buttons;
  MsgIcon icon;
};

class AnsweringUi : public QuietUi {
 public:
  MsgAnswer answer = MsgAnswer::No;
  std::vector<Box> boxes;
  std::vector<std::string> statuses;
  void ShowStatus(const std::string& text, int) override { statuses.push_back(text); }
  MsgAnswer MessageBox(const std::string&, const std::string& text, MsgButtons buttons,
                       MsgIcon icon) override {
    boxes.push_back({text, buttons, icon});
    return answer;
  }
};

const std::string kProblem = "USB disks need administrator rights";

class RootRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRootRestartOffer();
    SetUi(&ui);
  }
  void TearDown() override {
    SetUi(nullptr);
    ResetRootRestartOffer();
  }
  AnsweringUi ui;
};

// The action file as the install renders it for a program in /usr/bin.
std::string InstalledAction() {
  std::ifstream in(std::string(std::getenv("FW_SOURCE_DIR")) +
                   "/dist/io.github.flashwright-mivo.flashwright.policy.in");
  std::ostringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  const std::string placeholder = "@FW_POLKIT_EXEC_PATH@";
  const size_t at = s.find(placeholder);
  if (at != std::string::npos) s.replace(at, placeholder.size(), "/usr/bin/flashwright");
  return s;
}

TEST(RootRestartCommand, TheActionOfTheInstalledProgramKeepsTheDisplayItself) {
  const std::string action = InstalledAction();
  ASSERT_NE(action.find("exec.allow_gui"), std::string::npos);
  EXPECT_TRUE(PolkitActionNamesProgram(action, "/usr/bin/flashwright"));
  for (const char* other :
       {"/usr/bin/flash", "/usr/bin/flashwright2", "/home/u/build/flashwright", ""})
    EXPECT_FALSE(PolkitActionNamesProgram(action, other)) << other;
  EXPECT_FALSE(PolkitActionNamesProgram("", "/usr/bin/flashwright"));

  const DisplayEnvironment env{":0", "/home/u/.Xauthority"};
  EXPECT_EQ(PkexecCommand("/usr/bin/pkexec", "/usr/bin/flashwright", true, env),
            (std::vector<std::string>{"/usr/bin/pkexec", "/usr/bin/flashwright"}));
  // A copy no action names runs under the generic action, which keeps no display: env sets it.
  EXPECT_EQ(PkexecCommand("/usr/bin/pkexec", "/home/u/build/app/flashwright", false, env),
            (std::vector<std::string>{"/usr/bin/pkexec", "env", "DISPLAY=:0",
                                      "XAUTHORITY=/home/u/.Xauthority",
                                      "/home/u/build/app/flashwright"}));
  EXPECT_EQ(PkexecCommand("pkexec", "/p/flashwright", false, {":1", ""}),
            (std::vector<std::string>{"pkexec", "env", "DISPLAY=:1", "/p/flashwright"}));
}

TEST_F(RootRestartTest, OnlyANormalUserWithoutRightsIsAskedAndOnlyOncePerRun) {
  EXPECT_FALSE(OfferRootRestart(true, kProblem, "/usr/bin/pkexec"));
  EXPECT_FALSE(OfferRootRestart(false, "", "/usr/bin/pkexec"));
  EXPECT_TRUE(ui.boxes.empty());

  ui.answer = MsgAnswer::Yes;
  EXPECT_TRUE(OfferRootRestart(false, kProblem, "/usr/bin/pkexec"));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Question);
  EXPECT_NE(ui.boxes[0].text.find("disk-image files work without them"), std::string::npos);
  EXPECT_NE(ui.boxes[0].text.find("pkexec"), std::string::npos);
  // The status line says why first.
  ASSERT_FALSE(ui.statuses.empty());
  EXPECT_EQ(ui.statuses[0], kProblem);
  // A later refresh that still lacks the rights does not ask again.
  EXPECT_FALSE(OfferRootRestart(false, kProblem, "/usr/bin/pkexec"));
  EXPECT_EQ(ui.boxes.size(), 1u);

  ResetRootRestartOffer();
  ui.answer = MsgAnswer::No;
  EXPECT_FALSE(OfferRootRestart(false, kProblem, "/usr/bin/pkexec"));
  EXPECT_EQ(ui.boxes.size(), 2u);
}

TEST_F(RootRestartTest, WithoutPkexecTheStatusLineNamesSudo) {
  EXPECT_FALSE(OfferRootRestart(false, kProblem, ""));
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_EQ(ui.statuses.size(), 1u);
  EXPECT_NE(ui.statuses[0].find("sudo -E flashwright"), std::string::npos);
}

TEST(RootRestartCommand, RestartReplacesTheProcessByPkexec) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("fw_pkexec_" + std::to_string(getpid()));
  fs::create_directories(dir);
  // A stand-in for pkexec that writes down how it was called.
  std::ofstream(dir / "pkexec") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \""
                                << (dir / "args").string() << "\"\n";
  fs::permissions(dir / "pkexec", fs::perms::owner_all);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("PATH", dir.c_str(), 1);
    setenv("DISPLAY", ":7", 1);
    setenv("XAUTHORITY", "/run/user/1000/xauth", 1);
    Program().path = (dir / "flashwright").string();
    RestartAsRoot();
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(dir / "args");
  std::vector<std::string> args;
  for (std::string line; std::getline(in, line);) args.push_back(line);
  EXPECT_EQ(args, (std::vector<std::string>{"env", "DISPLAY=:7", "XAUTHORITY=/run/user/1000/xauth",
                                            (dir / "flashwright").string()}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fw
