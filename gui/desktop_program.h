// The desktop program from start to end: start-up, the main window, the event loop and the
// shutdown. gui/main.cpp is nothing but a call of RunDesktopProgram; tests run it in a
// process of their own to drive the real program through its own exit paths.
#pragma once

#include <functional>
#include <string>

#include "app/startup.h"

namespace fw::qt {

class QtFrontEnd;

struct DesktopRun {
  // Where the settings, the lock and the registry store live (the program itself: the defaults).
  StartupOptions startup;
  // The program that shows the crash report in a box; "" = flashwright-crash-box beside the
  // program.
  std::string crashBoxProgram;
  // Called once the main window is open and the start-up has run, before the event loop.
  std::function<void(QtFrontEnd&)> afterMainWindow;
};

// Runs the desktop program; the value to return from main.
int RunDesktopProgram(int argc, char** argv, const DesktopRun& run = {});

}  // namespace fw::qt
