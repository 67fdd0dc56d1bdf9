// For the GUI tests: the one QApplication of a test program, on the offscreen platform, with Qt's
// own dialogs (a desktop portal's would be out of the tests' reach) and the program's look.
#pragma once

#include <QApplication>

#include "gui/front_end.h"

namespace fw::qt {

inline QApplication* OffscreenApp(const char* programName) {
  static int argc = 1;
  static char* argv[] = {const_cast<char*>(programName), nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* a = new QApplication(argc, argv);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    SetUpApplicationLook();
    return a;
  }();
  return app;
}

}  // namespace fw::qt
