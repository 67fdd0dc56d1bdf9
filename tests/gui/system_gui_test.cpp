// The system's side in the desktop program, headless: the drive tree follows device events by
// itself, the Eject button removes the selected loop device, the Tools menu items 2 and 3 follow
// the HFS+ modules-load file, and the crash box shows a report. Loop devices are made over files
// of the test's own folder (root; those tests are skipped otherwise).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/globals.h"
#include "app/job_wiring.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/scratch_folder_test_support.h"
#include "app/settings.h"
#include "disk/device_events.h"
#include "disk/drive_letters.h"
#include "disk/inventory.h"
#include "gui/crash_box.h"
#include "gui/front_end.h"
#include "offscreen_app.h"
#include "platform/linux/block_backend.h"
#include "platform/process.h"
#include "tests/gui/gui_test_support.h"

namespace fw::qt {
namespace {

namespace fs = std::filesystem;

// The folder and the loader of the program's kernel modules: set from the environment when they
// are first used, before any main window opens, so no test reaches /etc/modules-load.d or loads
// a module of this machine.
const fs::path& ModulesFolder() {
  static ScratchFolder folder("fw-gui-modules");
  static const bool set = [] {
    std::ofstream(folder.path() / "modprobe") << "#!/bin/sh\nexit 0\n";
    fs::permissions(folder.path() / "modprobe", fs::perms::owner_all);
    setenv("FLASHWRIGHT_MODULES_LOAD_DIR", folder.path().c_str(), 1);
    setenv("FLASHWRIGHT_MODPROBE", (folder.path() / "modprobe").c_str(), 1);
    return true;
  }();
  (void)set;
  return folder.path();
}

QApplication* App() {
  ModulesFolder();
  return OffscreenApp("fw_gui_system_tests");
}

class SystemGui : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_FALSE(dir.empty());
    watchdog = FailOnUnexpectedWindow();
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    Settings().EnableFixedDisks = 1;  // loop devices are fixed disks
    DefaultBlockBackend().SetOnlyDevices({"/"});
    ResetDriveLetters();
    format_op_in_progress = 0;
    WireJobs();
    // Every box is answered OK, and noted.
    QObject::connect(&answers, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes << box->windowTitle() + "|" + box->text();
        box->button(QMessageBox::Ok)->click();
      }
    });
    answers.start(20);
  }
  void TearDown() override {
    StopDriveArrivalWatch();
    answers.stop();
    front.reset();
    for (const std::string& loop : loops) Detach(loop);
    DefaultBlockBackend().SetOnlyDevices({"/"});
    TheJobs() = Jobs{};
  }

  void Open() {
    front = std::make_unique<QtFrontEnd>();
    front->exitLoopOnQuit = false;
    front->OpenMainWindow();
    front->Dispatch({kMainWindow, UiEventKind::Refresh, 0});
  }
  QTreeWidget* Tree() {
    return qobject_cast<QTreeWidget*>(front->Control(kMainWindow, main_ctl::kDriveTree));
  }
  // A loop device over a new file of `mib` MiB holding one partition of type 0x0C.
  std::string AttachLoop(const std::string& name, int mib) {
    if (geteuid() != 0) return "";
    const fs::path file = dir / name;
    std::vector<char> mbr(512, 0);
    const uint32_t start = 2048, count = static_cast<uint32_t>(mib - 2) * 2048;
    mbr[0x1BE + 4] = 0x0C;
    std::memcpy(&mbr[0x1BE + 8], &start, 4);
    std::memcpy(&mbr[0x1BE + 12], &count, 4);
    mbr[510] = 0x55;
    mbr[511] = static_cast<char>(0xAA);
    std::ofstream(file, std::ios::binary).write(mbr.data(), 512);
    fs::resize_file(file, static_cast<uintmax_t>(mib) << 20);
    const ProcessResult r = RunProcess({"losetup", "-f", "--show", file.string()});
    if (r.exitCode != 0 || r.output.rfind("/dev/loop", 0) != 0) return "";
    loops.push_back(r.output.substr(0, r.output.find('\n')));
    return loops.back();
  }
  // Detaches a loop device while it still shows a file of ours.
  void Detach(const std::string& loop) {
    const ProcessResult r = RunProcess({"losetup", "-n", "-O", "BACK-FILE", loop});
    if (r.output.find(dir.string() + "/") != std::string::npos) RunProcess({"losetup", "-d", loop});
  }
  static std::string NameOf(const std::string& loop) { return fs::path(loop).filename(); }
  // Whether a loop device still shows the file `name` of the test's folder.
  bool Backed(const std::string& name) {
    return RunProcess({"losetup", "-a"}).output.find((dir / name).string()) != std::string::npos;
  }
  // Whether a disk row of the tree shows the file `name` (at row `row` when given).
  bool Shows(const QString& name, int row = -1) {
    for (int i = 0; i < Tree()->topLevelItemCount(); ++i)
      if ((row < 0 || row == i) && Tree()->topLevelItem(i)->text(0).contains(name)) return true;
    return false;
  }

  ScratchFolder scratch{"fw-gui-system"};
  fs::path dir = scratch.path();
  std::unique_ptr<QtFrontEnd> front;
  std::unique_ptr<ModalWatchdog> watchdog;
  QTimer answers;
  QStringList boxes;
  std::vector<std::string> loops;
};

TEST_F(SystemGui, DeviceEventsRefreshTheTreeByItselfAndASelectedDiskStaysSelected) {
  const std::string first = AttachLoop("first.img", 8), second = AttachLoop("second.img", 8);
  if (first.empty() || second.empty()) GTEST_SKIP() << "loop devices need root";
  DefaultBlockBackend().SetOnlyDevices({NameOf(first), NameOf(second)});
  Open();
  ASSERT_TRUE(StartDriveArrivalWatch([this] {
    front->PostEvent({kMainWindow, UiEventKind::Refresh, UM_UPDATE_ALL_DRIVES});
  }));
  ASSERT_EQ(Tree()->topLevelItemCount(), 2);
  Tree()->setCurrentItem(Tree()->topLevelItem(1));
  ASSERT_TRUE(Shows("second.img", 1));

  // The kernel's event, then nothing from the test. (Other programs may take the freed loop
  // device at once, so the tree is looked at by file names.)
  Detach(first);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !Shows("first.img"); }, 4000));
  ASSERT_NE(Tree()->currentItem(), nullptr);
  EXPECT_TRUE(Tree()->currentItem()->text(0).contains("second.img"))
      << Tree()->currentItem()->text(0).toStdString();
}

TEST_F(SystemGui, EjectRemovesTheSelectedLoopDeviceFromTheSystemAndTheTree) {
  const std::string loop = AttachLoop("stick.img", 8);
  if (loop.empty()) GTEST_SKIP() << "loop devices need root";
  DefaultBlockBackend().SetOnlyDevices({NameOf(loop)});
  Open();
  ASSERT_EQ(Tree()->topLevelItemCount(), 1);
  // The partition's volume gets a letter as one the program formatted would.
  ASSERT_FALSE(AssignDriveLetter(DriveListRows()[0].diskNumber, 0).empty());
  Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(0));
  QTest::mouseClick(qobject_cast<QPushButton*>(front->Control(kMainWindow, main_ctl::kEject)),
                    Qt::LeftButton);
  EXPECT_FALSE(Backed("stick.img"));
  EXPECT_FALSE(Shows("stick.img"));
  EXPECT_TRUE(boxes.isEmpty()) << boxes.join("; ").toStdString();
}

TEST_F(SystemGui, ToolsMenuItemsFollowTheHfsModulesLoadFile) {
  const fs::path conf = ModulesFolder() / "flashwright-hfsplus.conf";
  Open();
  QAction* install = front->MenuAction(menu_item::kInstallHfs);
  QAction* remove = front->MenuAction(menu_item::kUnInstallHfs);
  EXPECT_TRUE(install->isEnabled());
  EXPECT_FALSE(remove->isEnabled());

  install->trigger();
  EXPECT_TRUE(fs::exists(conf));
  EXPECT_FALSE(install->isEnabled());
  EXPECT_TRUE(remove->isEnabled());
  ASSERT_EQ(boxes.size(), 2);
  EXPECT_TRUE(boxes[0].startsWith("Boot Camp HFS+ ReadOnly drivers|Do you want to Install"));
  EXPECT_TRUE(boxes[1].startsWith("WARNING|The HFS+ driver (hfsplus) is loaded"));

  remove->trigger();
  EXPECT_FALSE(fs::exists(conf));
  EXPECT_TRUE(install->isEnabled());
  EXPECT_FALSE(remove->isEnabled());
}

TEST_F(SystemGui, TheCrashBoxShowsTheReportLineByLine) {
  QMessageBox box;
  SetUpCrashBox(box, "OnError Info <flashwright>",
                "A program error was detected:\r\rError Code:\t-1073741819\r");
  EXPECT_EQ(box.windowTitle(), "OnError Info <flashwright>");
  EXPECT_EQ(box.text(), "A program error was detected:\n\nError Code:\t-1073741819");
  EXPECT_EQ(box.icon(), QMessageBox::Critical);
  EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);

  ShowCrashBox("OnError Info <flashwright>", "report\r");  // answered OK by the test
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0], "OnError Info <flashwright>|report");
}

}  // namespace
}  // namespace fw::qt
