// The desktop program ends cleanly on every exit path: each run formats (or starts to format) an
// image from the Format button in a process of its own (fw_gui_desktop_runner) and leaves through
// Exit, Esc, the close box or the end of the session. The process must end with status 0, with its
// settings saved: a worker thread still running or never joined when main returns aborts it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "platform/imagedisk/image_disk.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
  int status = -1;  // waitpid status
  std::string output;
};

class DesktopExitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fw-desktop-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::owner_all);  // it is the runner's XDG_RUNTIME_DIR too
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the scenario with a disk image of `bytes`; a run that takes over 90 s is killed. A
  // `normalUser` run sees only the block device `device` and runs as the user nobody.
  ProgramRun RunScenario(const std::string& scenario, int64_t bytes, bool normalUser = false,
                         const std::string& device = "") {
    EXPECT_EQ(CreateImageFile((dir_ / "disk.img").string(), bytes, /*replace=*/true), 1);
    const std::string out = (dir_ / "out.txt").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      // Only the image (or the one device): no other disk of this machine is listed.
      ::setenv("FLASHWRIGHT_BLOCK_DEVICES", device.c_str(), 1);
      if (normalUser) {
        // pkexec is a stand-in that writes down how it was called.
        ::setenv("PATH", ((dir_ / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
        ::setenv("HOME", dir_.c_str(), 1);
        ::setenv("DISPLAY", ":5", 1);
        ::unsetenv("XAUTHORITY");
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
          ::_exit(125);
      }
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
      ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
      ::execl(FW_GUI_RUNNER, FW_GUI_RUNNER, scenario.c_str(), dir_.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ProgramRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (::waitpid(pid, &run.status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &run.status, 0);
        ADD_FAILURE() << scenario << " did not end within 90 s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ifstream in(out);
    std::stringstream ss;
    ss << in.rdbuf();
    run.output = ss.str();
    return run;
  }
  bool SettingsSaved() const { return fs::exists(dir_ / "flashwright.ini"); }

  fs::path dir_;
};

bool ExitedCleanly(const ProgramRun& r) {
  return WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0;
}

std::string Describe(const ProgramRun& r) {
  std::string s = WIFEXITED(r.status)     ? "exit status " + std::to_string(WEXITSTATUS(r.status))
                  : WIFSIGNALED(r.status) ? "signal " + std::to_string(WTERMSIG(r.status))
                                          : "status " + std::to_string(r.status);
  return s + "\n" + r.output;
}

TEST_F(DesktopExitTest, ExitEscapeAndCloseBoxAfterAFormatEndTheProgramCleanly) {
  struct Case {
    const char* scenario;
    const char* outcome;
  };
  for (const Case c : {Case{"format-exit", "outcome ran=1 ok=1 failure=\n"},
                       Case{"cancel-escape",
                            "outcome ran=0 ok=0 failure=the disk is not a USB disk "
                            "and the warning was cancelled\n"},
                       Case{"format-close", "outcome ran=1 ok=1 failure=\n"}}) {
    SCOPED_TRACE(c.scenario);
    const ProgramRun r = RunScenario(c.scenario, 64 << 20);
    EXPECT_TRUE(ExitedCleanly(r)) << Describe(r);
    EXPECT_NE(r.output.find("job ended"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.outcome), std::string::npos) << r.output;
    EXPECT_TRUE(SettingsSaved());
    fs::remove(dir_ / "flashwright.ini");
  }
}

TEST_F(DesktopExitTest, EndOfSessionDuringAFormatStopsTheJobAndEndsCleanly) {
  const ProgramRun r = RunScenario("term-during-format", int64_t{1} << 30);
  EXPECT_TRUE(ExitedCleanly(r)) << Describe(r);
  EXPECT_NE(r.output.find("session ends while the job runs"), std::string::npos) << r.output;
  // The job saw the cancel and ended through its own end sequence.
  EXPECT_NE(r.output.find("outcome ran=1 ok=0 failure=cancelled"), std::string::npos) << r.output;
  EXPECT_TRUE(SettingsSaved());
}

// A fault once the program runs: the crash handler, installed first, writes the report to the
// debug log, runs the crash box (a script here) and waits for it, and the process ends by the
// signal without its shutdown steps, so the settings file stays as it was.
TEST_F(DesktopExitTest, AFaultShowsTheReportInABoxAndSkipsTheShutdown) {
  const std::string settings = "[Data Settings]\r\nLogEnable = 1\r\n";
  std::ofstream(dir_ / "flashwright.ini", std::ios::binary) << settings;
  std::ofstream(dir_ / "box.sh") << "#!/bin/sh\nprintf '%s\\n%s' \"$1\" \"$2\" > box.txt\n"
                                    "sleep 0.5\necho closed > box-closed\n";
  fs::permissions(dir_ / "box.sh", fs::perms::owner_all);
  const ProgramRun r = RunScenario("fault", 64 << 20);
  EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGSEGV) << Describe(r);
  std::ifstream box(dir_ / "box.txt");
  const std::string shown((std::istreambuf_iterator<char>(box)), {});
  EXPECT_EQ(
      shown.rfind("OnError Info <fw_gui_desktop_runner>\nA program error was detected:\r\r"
                  "Error Message:\tInvalid memory access (SIGSEGV)\rError Code:\t-1073741819\r",
                  0),
      0u)
      << shown;
  // The last statement logged before the fault: ours, unless a start-up worker logged since.
  EXPECT_NE(shown.find("\rTarget Address:\t0\rSource Code file:\t"), std::string::npos) << shown;
  EXPECT_TRUE(fs::exists(dir_ / "box-closed"));  // waited for
  std::ifstream log(dir_ / "ZORDebug.log", std::ios::binary);
  const std::string logged((std::istreambuf_iterator<char>(log)), {});
  EXPECT_LT(logged.find("fault on purpose\r\n"), logged.find("A program error was detected:"));
  EXPECT_NE(logged.find("A program error was detected:"), std::string::npos);
  std::ifstream kept(dir_ / "flashwright.ini", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), settings);
}

// Run by a normal user whose USB disk (here a loop device, offered as a fixed disk) cannot be
// opened, the program says so and offers to start again through pkexec: Yes ends it (settings
// saved) and becomes pkexec starting it again with the display; No keeps it running.
TEST_F(DesktopExitTest, ANormalUserIsOfferedAStartThroughPkexec) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a loop device and drop to nobody";
  EXPECT_EQ(CreateImageFile((dir_ / "usb.img").string(), 8 << 20, true), 1);
  FILE* p =
      ::popen(("losetup -f --show '" + (dir_ / "usb.img").string() + "' 2>/dev/null").c_str(), "r");
  char name[64] = {};
  const bool got = p != nullptr && std::fgets(name, sizeof name, p) != nullptr;
  if (p) ::pclose(p);
  std::string loop = got ? std::string(name) : "";
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  if (loop.empty()) GTEST_SKIP() << "no loop device";
  const std::string device = fs::path(loop).filename().string();

  fs::create_directories(dir_ / "bin");
  std::ofstream(dir_ / "bin/pkexec")
      << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << (dir_ / "pkexec-args").string() << "'\n";
  fs::permissions(dir_ / "bin/pkexec",
                  fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);
  for (const char* scenario : {"root-offer-no", "root-offer-yes"}) {
    SCOPED_TRACE(scenario);
    std::ofstream(dir_ / "flashwright.ini") << "[Data Settings]\r\nEnableFixedDisks = 1\r\n";
    for (const auto& entry : fs::recursive_directory_iterator(dir_))
      EXPECT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(::chown(dir_.c_str(), 65534, 65534), 0);
    const ProgramRun r = RunScenario(scenario, 1 << 20, true, device);
    EXPECT_TRUE(ExitedCleanly(r)) << Describe(r);
    EXPECT_NE(r.output.find("status USB disks need administrator rights"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("box Flashwright: USB disks need administrator rights; disk-image "
                            "files work without them."),
              std::string::npos)
        << r.output;
    // The program saved its settings on the way out, whatever the answer.
    std::ifstream ini(dir_ / "flashwright.ini");
    std::stringstream saved;
    saved << ini.rdbuf();
    EXPECT_NE(saved.str().find("[Application Info]"), std::string::npos) << saved.str();
  }
  std::ifstream in(dir_ / "pkexec-args");
  std::vector<std::string> args;
  for (std::string line; std::getline(in, line);) args.push_back(line);
  EXPECT_EQ(args, (std::vector<std::string>{"env", "DISPLAY=:5", FW_GUI_RUNNER}));
  std::system(("losetup -d " + loop).c_str());
}

}  // namespace
}  // namespace fw
