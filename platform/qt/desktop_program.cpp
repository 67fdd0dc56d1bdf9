#include "platform/qt/desktop_program.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
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
#include "platform/qt/qt_front_end.h"

namespace fw::qt {
namespace {

// The end of the session reaches the program as SIGTERM (SIGHUP when its terminal goes, SIGINT
// for Ctrl-C there). The handler only writes a byte into a pipe; the event loop reads it and the
// program leaves through its own exit path: workers stopped and joined, settings saved.
class SessionEnd {
 public:
  explicit SessionEnd(QtFrontEnd& front) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
      fds_[0] = fds_[1] = -1;
      return;
    }
    writeFd_ = fds_[1];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &front] {
      char c[16];
      while (::read(fds_[0], c, sizeof c) > 0) {
      }
      FW_LOG_MAIN("The session ends: the program ends");
      front.EndQuestions();
      QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = [](int) {
      const int saved = errno;
      const char c = 1;
      [[maybe_unused]] const ssize_t n = ::write(writeFd_, &c, 1);
      errno = saved;
    };
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &sa, &old_[i]);
  }
  ~SessionEnd() {
    if (fds_[0] < 0) return;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &old_[i], nullptr);
    notifier_.reset();
    writeFd_ = -1;
    ::close(fds_[0]);
    ::close(fds_[1]);
  }

 private:
  static constexpr int kSignals[3] = {SIGTERM, SIGHUP, SIGINT};
  static inline int writeFd_ = -1;
  int fds_[2];
  struct sigaction old_[3]{};
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
