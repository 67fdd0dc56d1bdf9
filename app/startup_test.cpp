#include "app/startup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/quiet_ui_test_support.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/work_folder.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
const char* const kExplorer =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

class RecordingUi : public QuietUi {
 public:
  void ShowStatus(const std::string&, int) override {}
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons,
                       MsgIcon) override {
    messages += title + "|" + text + "\n";
    return MsgAnswer::Ok;
  }
  std::string messages;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fw_startup_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
    oldCwd_ = fs::current_path();
    fs::current_path(dir_);
    options_.programPath = (dir_ / "bin" / "flashwright").string();
    options_.lockFolder = dir_.string();
    options_.registryFile = (dir_ / "registry.txt").string();
    SetUi(&ui_);
  }
  void TearDown() override {
    SetUi(nullptr);
    SetRegistryStorePath("");
    SetSettingsPath("");
    fs::current_path(oldCwd_);
    fs::remove_all(dir_);
  }
  fs::path dir_, oldCwd_;
  StartupOptions options_;
  RecordingUi ui_;
};

// A second process that takes a lock with `take` and holds it until Release (or destruction).
class LockHolder {
 public:
  explicit LockHolder(bool (*take)(const fs::path&), const fs::path& dir) {
    if (pipe(ready_) != 0 || pipe(done_) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      char c = take(dir) ? '1' : '0';
      (void)!write(ready_[1], &c, 1);
      (void)!read(done_[0], &c, 1);
      _exit(0);
    }
    char c = 0;
    took_ = child_ > 0 && read(ready_[0], &c, 1) == 1 && c == '1';
  }
  ~LockHolder() {
    Release();
    for (int fd : {ready_[0], ready_[1], done_[0], done_[1]})
      if (fd >= 0) close(fd);
  }
  bool took() const { return took_; }
  void Release() {
    if (child_ <= 0) return;
    (void)!write(done_[1], "x", 1);
    waitpid(child_, nullptr, 0);
    child_ = -1;
  }

 private:
  int ready_[2] = {-1, -1}, done_[2] = {-1, -1};
  pid_t child_ = -1;
  bool took_ = false;
};

TEST_F(StartupTest, SecondInstanceIsRefusedBeforeTouchingAnything) {
  LockHolder first([](const fs::path& d) { return AcquireInstanceLock(d.string(), "flashwright"); },
                   dir_);
  ASSERT_TRUE(first.took());
  EXPECT_FALSE(StartUp(options_));
  EXPECT_EQ(ui_.messages, "flashwright|Программа уже запущена.\n");
  ui_.messages.clear();
  EXPECT_FALSE(fs::exists(dir_ / "bin" / "flashwright.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "registry.txt"));
  // A copy that waits gives up only after its time.
  options_.lockWaitMs = 300;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(StartUp(options_));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
  options_.lockWaitMs = 0;
  // Another program name does not see the lock.
  EXPECT_TRUE(AcquireInstanceLock(dir_.string(), "flashwright-cli"));
  ReleaseInstanceLock();
  first.Release();
  // The lock dies with its process.
  EXPECT_TRUE(AcquireInstanceLock(dir_.string(), "flashwright"));
  ReleaseInstanceLock();
}

TEST_F(StartupTest, PlantedLockFilesNeitherBlockNorRedirect) {
  // A link in the lock folder is not followed: its target is not created.
  fs::create_symlink(dir_ / "target", dir_ / "flashwright.lock");
  EXPECT_TRUE(AcquireInstanceLock(dir_.string(), "flashwright"));
  ReleaseInstanceLock();
  EXPECT_FALSE(fs::exists(dir_ / "target"));
  fs::remove(dir_ / "flashwright.lock");
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a lock file of another user";
  // A lock file of another user, locked by a process of theirs, does not refuse the start.
  std::ofstream(dir_ / "flashwright.lock") << "";
  ASSERT_EQ(chown((dir_ / "flashwright.lock").c_str(), 65534, 65534), 0);
  LockHolder other(
      [](const fs::path& d) {
        int fd = open((d / "flashwright.lock").c_str(), O_RDWR);
        return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
      },
      dir_);
  ASSERT_TRUE(other.took());
  ASSERT_TRUE(StartUp(options_));
  ShutDown();
  EXPECT_EQ(ui_.messages, "");
}

TEST_F(StartupTest, AutoRunIsOffWhileRunningAndRestoredAtExit) {
  ASSERT_TRUE(StartUp(options_));
  EXPECT_EQ(SettingsPath(), (dir_ / "bin" / "flashwright.ini").string());
  EXPECT_EQ(Registry::ReadValue(kExplorer, "NoDriveTypeAutoRun"), "255");
  EXPECT_EQ(OrigNoDriveTypeAutoRun(), "");
  ShutDown();
  EXPECT_EQ(Registry::ReadValue(kExplorer, "NoDriveTypeAutoRun"), "0");
  EXPECT_TRUE(fs::exists(dir_ / "bin" / "flashwright.ini"));
  std::ifstream in(dir_ / "UserDL.ini", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(
      s.str().compare(
          0, 64, "\xEF\xBB\xBF\r\n; This is Example of UserDL.ini. Do not remove this lines\r\n"),
      0);
  EXPECT_EQ(UserDlExampleLines().size(), 10u);

  // A value present before start comes back unchanged; an existing UserDL.ini stays.
  Registry::WriteValue(kExplorer, "NoDriveTypeAutoRun", "145", REG_DWORD);
  std::ofstream(dir_ / "UserDL.ini", std::ios::trunc) << "mine";
  ASSERT_TRUE(StartUp(options_));
  EXPECT_EQ(OrigNoDriveTypeAutoRun(), "145");
  EXPECT_EQ(Registry::ReadValue(kExplorer, "NoDriveTypeAutoRun"), "255");
  ShutDown();
  EXPECT_EQ(Registry::ReadValue(kExplorer, "NoDriveTypeAutoRun"), "145");
  std::ifstream mine(dir_ / "UserDL.ini");
  std::string line;
  std::getline(mine, line);
  EXPECT_EQ(line, "mine");
}

TEST_F(StartupTest, ShutDownRemovesTheWorkFolderAndAQueryLeavesNoTrace) {
  setenv("TMPDIR", dir_.c_str(), 1);
  ASSERT_TRUE(StartUp(options_));
  ASSERT_EQ(CreateTempWorkDir(), 1);
  const std::string work = ZorTempWorkDir();
  std::ofstream(work + "scratch") << "x";
  ShutDown();
  unsetenv("TMPDIR");
  EXPECT_FALSE(fs::exists(work));
  EXPECT_EQ(ZorTempWorkDir(), "");

  fs::remove(dir_ / "UserDL.ini");
  fs::remove(dir_ / "bin" / "flashwright.ini");
  fs::remove(dir_ / "registry.txt");
  options_.saveSettingsAtExit = false;
  options_.writeUserDlExample = false;
  options_.switchAutoRun = false;
  ASSERT_TRUE(StartUp(options_));
  ShutDown();
  EXPECT_FALSE(fs::exists(dir_ / "UserDL.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "bin" / "flashwright.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "registry.txt"));
}

TEST_F(StartupTest, BaseNameLosesOnlyARealExtension) {
  options_.programPath = (dir_ / "bin" / "tool.exe").string();
  ASSERT_TRUE(StartUp(options_));
  EXPECT_EQ(SettingsPath(), (dir_ / "bin" / "tool.ini").string());
  ShutDown();
}

}  // namespace
}  // namespace fw
