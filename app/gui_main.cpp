// flashwright: the desktop program. It takes no command-line arguments.
#include <QApplication>

#include "app/clock.h"
#include "platform/qt/qt_front_end.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Flashwright");
  QApplication::setDesktopFileName("flashwright");
  fw::qt::SetUpApplicationLook();
  fw::SetPausesEnabled(true);

  fw::qt::QtFrontEnd frontEnd;
  frontEnd.OpenMainWindow();
  return QApplication::exec();
}
