#include "gui/display.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fw::qt {
namespace {

QtMessageHandler previousHandler = nullptr;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void GuardHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    const std::string display = Environment("DISPLAY");
    std::fprintf(stderr,
                 "flashwright: cannot open the display%s; as root start the program with pkexec "
                 "flashwright or sudo -E flashwright, and over SSH use flashwright-cli\n",
                 display.empty() ? "" : (" \"" + display + "\"").c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }
  // The platform plugin's own complaints about the display lead to the line above.
  if (context.category != nullptr && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
  if (previousHandler != nullptr) previousHandler(type, context, message);
}

}  // namespace

std::string NoDisplayHint() {
  if (!Environment("QT_QPA_PLATFORM").empty() || !Environment("DISPLAY").empty() ||
      !Environment("WAYLAND_DISPLAY").empty())
    return "";
  return "flashwright: no display to open the window on; over SSH or on a console use "
         "flashwright-cli (see flashwright-cli --help)";
}

void GuardDisplayOpening() { previousHandler = qInstallMessageHandler(GuardHandler); }

void EndDisplayGuard() { qInstallMessageHandler(previousHandler); }

}  // namespace fw::qt
