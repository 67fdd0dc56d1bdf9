#include "gui/desktop_program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/clock.h"
#include "app/crash_report.h"
#include "app/globals.h"
#include "app/job_wiring.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/root_restart.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/workers.h"
#include "disk/device_events.h"
#include "disk/format_prompt.h"
#include "disk/inventory.h"
#include "gui/display.h"
#include "gui/front_end.h"
#include "platform/process.h"
#include "platform/session_signals.h"
#include "platform/sysinfo.h"

namespace fw::qt {
namespace {

// The end of the session (SIGTERM, SIGHUP, SIGINT) is read by the event loop, and the program
// leaves through its own exit path: workers stopped and joined, settings saved.
class SessionEnd {
 public:
  explicit SessionEnd(QtFrontEnd& front) {
    if (signals_.ReadFd() < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(signals_.ReadFd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &front] {
      signals_.Drain();
      FW_LOG_MAIN("The session ends: the program ends");
      front.EndQuestions();
      QCoreApplication::exit(0);
    });
  }

 private:
  SessionSignals signals_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// The crash box: a program of its own beside this one, since a faulting process cannot safely
// run the toolkit any more.
std::string CrashBoxBesideProgram() {
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash + 1) + "flashwright-crash-box";
}

// Offers a normal user whose USB disks cannot be opened to start again through pkexec, when the
// drive tree shows that and nothing else waits for the user; ends the event loop on a Yes.
void OfferRootAfterTreeDrawn(QtFrontEnd& frontEnd, bool* restartAsRoot) {
  frontEnd.SetAfterDriveTreeDrawn([restartAsRoot] {
    if (format_op_in_progress != 0 || QApplication::activeModalWidget() != nullptr) return;
    const std::string problem = InventoryAccessProblem();
    if (!OfferRootRestart(RunningAsRoot(), problem == kNeedRightsText ? problem : "",
                          FindProgram("pkexec")))
      return;
    *restartAsRoot = true;
    QCoreApplication::exit(0);
  });
}

// The program from start-up to shutdown; `restartAsRoot` tells whether the user chose to start it
// again through pkexec.
int RunWindows(int argc, char** argv, const DesktopRun& run, bool* restartAsRoot) {
  GuardDisplayOpening();
  QApplication app(argc, argv);
  EndDisplayGuard();
  QApplication::setApplicationName("Flashwright");
  QApplication::setDesktopFileName("flashwright");
  SetUpApplicationLook();
  SetPausesEnabled(true);

  QtFrontEnd frontEnd;
  // The second-copy message needs a Ui before the main window exists.
  SetUi(&frontEnd);
  WireJobs();
  // Entries the job modules have not filled themselves.
  Jobs& jobs = TheJobs();
  if (!jobs.SaveSetting) jobs.SaveSetting = [] { SaveSetting(); };
  if (!Hooks().updateAllDrives) Hooks().updateAllDrives = [] { RefreshDriveTree(); };
  InstallFormatPromptHooks();

  if (!StartUp(run.startup)) return 0;
  frontEnd.OpenMainWindow();
  // Devices that come and go refresh the tree by themselves, one refresh per settled burst.
  StartDriveArrivalWatch([&frontEnd] {
    frontEnd.PostEvent({kMainWindow, UiEventKind::Refresh, UM_UPDATE_ALL_DRIVES});
  });
  OfferRootAfterTreeDrawn(frontEnd, restartAsRoot);
  StartUpAfterMainWindow();
  if (run.afterMainWindow) run.afterMainWindow(frontEnd);
  {
    SessionEnd sessionEnd(frontEnd);
    QApplication::exec();
  }
  StopDriveArrivalWatch();
  // Whatever ended the loop, no worker outlives main: a running job is asked to stop and waited
  // for, the event loop still serving its calls to the UI thread meanwhile.
  frontEnd.EndQuestions();
  EndWorkers([] {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  QCoreApplication::processEvents();
  ShutDown();
  SetUi(nullptr);
  return 0;
}

}  // namespace

int RunDesktopProgram(int argc, char** argv, const DesktopRun& run) {
  InstallCrashHandler(run.crashBoxProgram.empty() ? CrashBoxBesideProgram() : run.crashBoxProgram);
  if (const std::string hint = NoDisplayHint(); !hint.empty()) {
    std::fprintf(stderr, "%s\n", hint.c_str());
    return 1;
  }
  bool restartAsRoot = false;
  const int status = RunWindows(argc, argv, run, &restartAsRoot);
  if (!restartAsRoot) return status;
  // The window and the settings are closed: the process becomes pkexec, which starts the program
  // again as root (only a failure comes back here).
  std::fprintf(stderr, "flashwright: %s\n", RestartAsRoot().c_str());
  return 1;
}

}  // namespace fw::qt
