#include "gui/desktop_program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <thread>

#include "app/clock.h"
#include "app/job_wiring.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/workers.h"
#include "gui/front_end.h"
#include "platform/session_signals.h"

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

}  // namespace

int RunDesktopProgram(int argc, char** argv, const DesktopRun& run) {
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

  if (!StartUp(run.startup)) return 0;
  frontEnd.OpenMainWindow();
  StartUpAfterMainWindow();
  if (run.afterMainWindow) run.afterMainWindow(frontEnd);
  {
    SessionEnd sessionEnd(frontEnd);
    QApplication::exec();
  }
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
