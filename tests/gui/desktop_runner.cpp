// The desktop program as it runs for a user, driven through its widgets by a script, for
// desktop_exit_test.cpp: fw_gui_desktop_runner SCENARIO FOLDER. It formats the disk-image file
// FOLDER/disk.img from the Format button, answers the boxes like a user, and then leaves through
// the program's own exit path; what main would return is this process's exit status. Lines on
// stdout tell the test what happened.
//
// Scenarios: format-exit (Exit button after a format), cancel-escape (Cancel at the first
// question, then Esc), format-close (the close box after a format), term-during-format (the end
// of the session, SIGTERM, while a full format writes), fault (a null access on the UI thread
// once the main window is open; FOLDER/box.sh stands in for the crash box); root-offer-yes and
// root-offer-no (run as a normal user: the offer to start again through pkexec answered Yes, or
// No and then Exit).
#include <signal.h>
#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <string>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "gui/desktop_program.h"
#include "gui/front_end.h"
#include "modal_watchdog.h"
#include "platform/imagedisk/image_disk.h"
#include "prepare/format_job.h"
#include "tests/system/fault_on_purpose.h"

namespace fw::qt {
namespace {

class Script {
 public:
  Script(QtFrontEnd& front, std::string scenario, std::string folder)
      : front_(front), scenario_(std::move(scenario)), folder_(std::move(folder)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(50);
  }
  bool failed = false;

 private:
  QPushButton* Button(int control) {
    return qobject_cast<QPushButton*>(front_.Control(kMainWindow, control));
  }
  void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  void Tick() {
    if (scenario_.rfind("root-offer", 0) == 0) {
      RootOffer();
      return;
    }
    if (step_ == 0) {
      Start();
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Say("box " + box->windowTitle().toStdString());
      const bool cancel = scenario_ == "cancel-escape" && box->windowTitle() == "Warning";
      box->button(cancel ? QMessageBox::Cancel : QMessageBox::Ok)->click();
      return;
    }
    QWidget* main = front_.Window(kMainWindow);
    if (step_ == 1 && scenario_ == "term-during-format" &&
        Button(main_ctl::kFormat)->text() == "Cancel") {
      Say("session ends while the job runs");
      step_ = 2;
      ::kill(::getpid(), SIGTERM);
      return;
    }
    if (step_ == 1 && format_op_in_progress == 0 &&
        Button(main_ctl::kFormat)->text() == "Format Disk" && scenario_ != "term-during-format") {
      step_ = 2;
      Say("job ended");
      if (scenario_ == "format-exit") {
        QTest::mouseClick(Button(main_ctl::kExit), Qt::LeftButton);
      } else if (scenario_ == "cancel-escape") {
        QTest::keyClick(main, Qt::Key_Escape);
      } else if (scenario_ == "format-close") {
        main->close();
      }
    }
  }

  // Answers the offer to start again as root; after a No, leaves through Exit.
  void RootOffer() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Say("status " + front_.StatusText());
      Say("box " + box->windowTitle().toStdString() + ": " + box->text().toStdString());
      const bool yes = scenario_ == "root-offer-yes";
      box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
      step_ = 1;
      return;
    }
    if (step_ == 1 && scenario_ == "root-offer-no") {
      step_ = 2;
      Say("declined");
      QTest::mouseClick(Button(main_ctl::kExit), Qt::LeftButton);
    }
  }

  void Start() {
    step_ = 1;
    if (scenario_ == "fault") {
      FW_LOG_MAIN("fault on purpose");
      faulttest::ReadNull();
    }
    SetPausesEnabled(false);
    SettingsRecord& s = Settings();
    s.Boot_records = "Windows";
    s.FileSystem = "FAT32";
    s.MultiPartitions = 0;
    s.QuickFormat = scenario_ == "term-during-format" ? 0 : 1;
    if (AttachImageDisk(folder_ + "/disk.img", 512) != 1) {
      Say("cannot attach the image");
      failed = true;
      QCoreApplication::exit(0);
      return;
    }
    front_.Dispatch({kMainWindow, UiEventKind::Refresh, 0});
    auto* tree = qobject_cast<QTreeWidget*>(front_.Control(kMainWindow, main_ctl::kDriveTree));
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::mouseClick(Button(main_ctl::kFormat), Qt::LeftButton);
  }

  QtFrontEnd& front_;
  std::string scenario_, folder_;
  QTimer timer_;
  int step_ = 0;
};

}  // namespace
}  // namespace fw::qt

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fw_gui_desktop_runner SCENARIO FOLDER\n");
    return 2;
  }
  const std::string scenario = argv[1], folder = argv[2];
  fw::qt::DesktopRun run;
  run.startup.settingsFile = folder + "/flashwright.ini";
  run.startup.lockFolder = folder;
  run.startup.registryFile = folder + "/registry.txt";
  run.crashBoxProgram = folder + "/box.sh";
  std::unique_ptr<fw::qt::Script> script;
  std::unique_ptr<fw::qt::ModalWatchdog> watchdog;
  bool failed = false;
  run.afterMainWindow = [&](fw::qt::QtFrontEnd& front) {
    script = std::make_unique<fw::qt::Script>(front, scenario, folder);
    watchdog = std::make_unique<fw::qt::ModalWatchdog>([&](const QString& text) {
      std::printf("unexpected window: %s\n", text.toStdString().c_str());
      failed = true;
    });
    // Their timers go with the front end, while the application still exists.
    QObject::connect(&front, &QObject::destroyed, [&] {
      failed = failed || script->failed;
      script.reset();
      watchdog.reset();
    });
  };
  char* args[] = {argv[0], nullptr};
  const int status = fw::qt::RunDesktopProgram(1, args, run);
  const fw::FormatOutcome& outcome = fw::LastFormatOutcome();
  std::printf("outcome ran=%d ok=%d failure=%s\n", outcome.ran ? 1 : 0, outcome.ok ? 1 : 0,
              outcome.failure.c_str());
  std::fflush(stdout);
  return failed ? 3 : status;
}
