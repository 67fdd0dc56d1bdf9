// Without a display the window cannot open. Instead of Qt's fatal message and abort, the program
// prints one line that says what to do (the CLI over SSH, pkexec or sudo -E as root) and ends
// with status 1.
#pragma once

#include <string>

namespace fw::qt {

// The hint when there is plainly no display: neither DISPLAY nor WAYLAND_DISPLAY is set and
// QT_QPA_PLATFORM chooses no other platform; "" otherwise.
std::string NoDisplayHint();

// Until EndDisplayGuard(), a display that cannot be opened (set, but unreachable or refused)
// ends the process with the hint instead of Qt's abort, and Qt's platform warnings are kept quiet.
void GuardDisplayOpening();
void EndDisplayGuard();

}  // namespace fw::qt
