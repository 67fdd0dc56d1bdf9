// flashwright: the desktop program. It takes no command-line arguments.
#include <QApplication>

#include "app/clock.h"
#include "app/job_wiring.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/ui.h"
#include "platform/qt/qt_front_end.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Flashwright");
  QApplication::setDesktopFileName("flashwright");
  fw::qt::SetUpApplicationLook();
  fw::SetPausesEnabled(true);

  fw::qt::QtFrontEnd frontEnd;
  // The second-copy message needs a Ui before the main window exists.
  fw::SetUi(&frontEnd);
  fw::WireJobs();
  // Entries the job modules have not filled themselves.
  fw::Jobs& jobs = fw::TheJobs();
  if (!jobs.SaveSetting) jobs.SaveSetting = [] { fw::SaveSetting(); };
  if (!fw::Hooks().updateAllDrives) fw::Hooks().updateAllDrives = [] { fw::RefreshDriveTree(); };

  if (!fw::StartUp(fw::StartupOptions{})) return 0;
  frontEnd.OpenMainWindow();
  fw::StartUpAfterMainWindow();
  QApplication::exec();
  fw::ShutDown();
  return 0;
}
