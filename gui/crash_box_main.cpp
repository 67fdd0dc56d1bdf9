// flashwright-crash-box TITLE REPORT: the crash report of the desktop program in a box.
#include <QApplication>
#include <cstdio>

#include "gui/crash_box.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: flashwright-crash-box TITLE REPORT\n");
    return 2;
  }
  // Qt takes its own options out of argv; the two texts are read before it sees them.
  const QString title = QString::fromLocal8Bit(argv[1]);
  const QString report = QString::fromLocal8Bit(argv[2]);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  fw::qt::ShowCrashBox(title, report);
  return 0;
}
