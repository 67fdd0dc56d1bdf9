// Root's rights for the desktop program: USB disks need them, disk-image files do not. Started as
// a normal user, the program offers once per run to start again through pkexec.
#pragma once

#include <string>
#include <vector>

namespace fw {

// The polkit action that the installed program comes with: polkit reads actions from this folder
// only, whatever the program's prefix.
inline constexpr const char* kPolkitActionFile =
    "/usr/share/polkit-1/actions/io.github.flashwright-mivo.flashwright.policy";

// True when the polkit action text `actionText` names `programPath` as the program it runs.
bool PolkitActionNamesProgram(const std::string& actionText, const std::string& programPath);

// What the program started through pkexec needs to reach the user's display.
struct DisplayEnvironment {
  std::string display;     // DISPLAY
  std::string xauthority;  // XAUTHORITY, or the user's ~/.Xauthority when that is unset
};

// The command that starts `programPath` again with root's rights. With an action that names the
// program, pkexec keeps DISPLAY and XAUTHORITY itself (allow_gui); any other copy (one run from its
// build folder, say) goes through "env", which sets them for the program.
std::vector<std::string> PkexecCommand(const std::string& pkexec, const std::string& programPath,
                                       bool actionNamesProgram, const DisplayEnvironment& env);

// The desktop program runs as a normal user (`asRoot` false) and the inventory could not open USB
// disks for lack of rights (`rightsProblem`, the inventory's text; "" when it could). The first
// time in a run the status line says so: without pkexec (`pkexec` empty) it says to start the
// program with sudo -E; with it, a box then asks whether to start again through pkexec.
// True when the user answered Yes: the program then ends normally and calls RestartAsRoot().
// Resets with ResetRootRestartOffer() (tests).
bool OfferRootRestart(bool asRoot, const std::string& rightsProblem, const std::string& pkexec);
void ResetRootRestartOffer();

// Replaces the process by pkexec starting this program again. Returns only when that failed, with
// the reason.
std::string RestartAsRoot();

}  // namespace fw
