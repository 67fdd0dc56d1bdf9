#include "gui/desktop_program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <thread>

#include "app/clock.h"
#include "app/crash_report.h"
#include "app/job_wiring.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/workers.h"
#include "disk/device_events.h"
#include "disk/format_prompt.h"
#include "gui/front_end.h"
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

}  // namespace

int RunDesktopProgram(int argc, char** argv, const DesktopRun& run) {
  InstallCrashHandler(run.crashBoxProgram.empty() ? CrashBoxBesideProgram() : run.crashBoxProgram);
  QApplication app(argc, argv);
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
  return 0;
}

}  // namespace fw::qt
