// udisks2 and the session manager as the program meets them: over D-Bus, through sd-bus, on a
// private dbus-daemon with fake services.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/log.h"
#include "app/quiet_ui_test_support.h"
#include "app/registry.h"
#include "app/scratch_folder_test_support.h"
#include "app/settings.h"
#include "app/startup.h"
#include "disk/disk_record.h"
#include "disk/drive_letters.h"
#include "disk/format_prompt.h"
#include "disk/inventory.h"
#include "disk/safe_removal.h"
#include "disk/system_fakes_test_support.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/linux/drive_removal.h"
#include "platform/linux/session_inhibitor.h"
#include "tests/system/private_bus.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using bustest::FakeSessionManager;
using bustest::FakeUDisks;
using bustest::PrivateBus;

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    bus = std::make_unique<PrivateBus>(dir);
    ASSERT_FALSE(bus->Address().empty()) << "dbus-daemon did not start";
    CloseLog();
    ASSERT_TRUE(OpenLog((dir / "debug.log").string()));
  }
  void TearDown() override {
    CloseLog();
    bus.reset();
  }
  std::string Log() const {
    std::ifstream in(dir / "debug.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  ScratchFolder scratch{"fw-dbus"};
  fs::path dir = scratch.path();
  std::unique_ptr<PrivateBus> bus;
};

// A USB stick "sdz" (a file posing as its node) selected in the drive tree.
class EjectOverUDisks : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    stick = disks.Add(dir, "sdz", 7, {8});
    DiskBackends() = {&disks};
    ResetDriveLetters();
    SetClockForTesting(&clock);
    UpdateAllDrives();
    AssignDriveLetter(DriveListRows()[0].diskNumber, 0);
    SelectDriveListRow(1);
    LinuxDriveRemovalConfig config;
    config.busAddress = bus->Address();
    config.sysRoot = (dir / "root").string();
    removal = MakeLinuxDriveRemoval(config);
  }
  void TearDown() override {
    SetClockForTesting(nullptr);
    ResetDiskBackends();
    ResetDriveLetters();
    BusTest::TearDown();
  }
  FileDiskBackend disks;
  DiskInfo stick;
  SteppingClock clock;
  std::unique_ptr<DriveRemovalService> removal;
};

TEST_F(EjectOverUDisks, PowerOffAcceptedOnTheFirstTry) {
  FakeUDisks udisks(bus->Address(), stick.devicePath, /*canPowerOff=*/true, /*refusals=*/0);
  ASSERT_TRUE(udisks.Ready());
  EXPECT_EQ(RemoveDriveByLetter(*removal), 1);
  EXPECT_EQ(udisks.Calls(),
            (std::vector<std::string>{"ResolveDevice " + stick.devicePath, "PowerOff"}));
  EXPECT_TRUE(clock.pauses.empty());
  EXPECT_NE(Log().find("Success"), std::string::npos);
}

TEST_F(EjectOverUDisks, ADriveThatCannotPowerOffIsEjected) {
  FakeUDisks udisks(bus->Address(), stick.devicePath, /*canPowerOff=*/false, 0);
  EXPECT_EQ(RemoveDriveByLetter(*removal), 1);
  EXPECT_EQ(udisks.Calls().back(), "Eject");
}

TEST_F(EjectOverUDisks, FiveRefusalsGiveFailureAfterTwoAndAHalfSeconds) {
  FakeUDisks udisks(bus->Address(), stick.devicePath, true, /*refusals=*/99);
  EXPECT_EQ(RemoveDriveByLetter(*removal), 0);
  EXPECT_EQ(clock.TotalPausedMs(), 2500);
  std::vector<std::string> calls = udisks.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "PowerOff"), 5);
  const std::string log = Log();
  size_t at = 0;
  for (int n = 1; n <= 5; ++n) {
    at = log.find("Tries #" + std::to_string(n), at);
    EXPECT_NE(at, std::string::npos) << n;
  }
  EXPECT_NE(log.find("Failed PowerOff: org.freedesktop.UDisks2.Error.Failed: Error powering off "
                     "drive: device is busy"),
            std::string::npos)
      << log;
}

TEST_F(EjectOverUDisks, WithoutUDisksAUsbDiskIsDeletedThroughSysfs) {
  // Nobody owns org.freedesktop.UDisks2 on this bus.
  const fs::path deleteFile = dir / "root/sys/block/sdz/device/delete";
  fs::create_directories(deleteFile.parent_path());
  std::ofstream{deleteFile};
  EXPECT_EQ(RemoveDriveByLetter(*removal), 1);
  std::ifstream in(deleteFile);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "1");
  EXPECT_NE(Log().find("udisks2 does not answer: org.freedesktop.DBus.Error.ServiceUnknown"),
            std::string::npos)
      << Log();
}

TEST_F(EjectOverUDisks, UDisksThatDoesNotKnowTheDeviceIsARefusal) {
  FakeUDisks udisks(bus->Address(), "/dev/other", true, 0);
  std::string reason;
  EXPECT_TRUE(removal->UDisksAnswers(&reason)) << reason;
  EXPECT_FALSE(removal->UDisksRemove(stick.devicePath, &reason));
  EXPECT_EQ(reason, "udisks2 knows no block device " + stick.devicePath);
}

class SilentUi final : public QuietUi {
 public:
  void ShowStatus(const std::string&, int) override {}
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    return MsgAnswer::Ok;
  }
};

TEST_F(BusTest, TheAutomountInhibitorIsHeldWhileTheProgramRuns) {
  FakeSessionManager session(bus->Address());
  ASSERT_TRUE(session.Ready());
  // The program's own inhibitor finds the session bus through the environment.
  const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = old ? old : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", bus->Address().c_str(), 1);
  SilentUi ui;
  SetUi(&ui);
  const StartupHooks before = Hooks();
  InstallFormatPromptHooks();
  StartupOptions options;
  options.programPath = (dir / "flashwright").string();
  options.settingsFile = (dir / "flashwright.ini").string();
  options.lockFolder = dir.string();
  options.registryFile = (dir / "registry.txt").string();
  options.writeUserDlExample = false;
  ASSERT_TRUE(StartUp(options));
  StartUpAfterMainWindow();
  const auto held = session.Held();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].appId, "Flashwright");
  EXPECT_EQ(held[0].flags, 16u);
  EXPECT_EQ(held[0].toplevel, 0u);
  ShutDown();
  EXPECT_TRUE(session.Held().empty());
  EXPECT_EQ(session.Released(), std::vector<uint32_t>{held[0].cookie});

  Hooks() = before;
  SetUi(nullptr);
  if (old)
    setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  else
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
  SetSettingsPath("");
  SetRegistryStorePath("");
}

TEST_F(BusTest, WithoutASessionManagerTheLogSaysNoneIsOffered) {
  auto inhibitor = MakeSessionAutomountInhibitor(bus->Address());
  EXPECT_FALSE(HoldAutomountInhibitor(*inhibitor));
  ReleaseAutomountInhibitor();  // nothing held: nothing to do
  EXPECT_NE(Log().find("No automount inhibitor offered: the session bus has no "
                       "org.gnome.SessionManager"),
            std::string::npos)
      << Log();
  auto noBus = MakeSessionAutomountInhibitor("unix:path=" + (dir / "no-such-bus").string());
  EXPECT_FALSE(HoldAutomountInhibitor(*noBus));
  EXPECT_NE(Log().find("No automount inhibitor offered: no session bus"), std::string::npos);
}

}  // namespace
}  // namespace fw
