// The system's reaction to fresh partitions while the program runs. Linux desktops show no
// "format this disk?" prompt, so the prompt hook has nothing to close and only logs; but they
// automount and open fresh partitions, which can seize a drive in the middle of a job. While the
// program runs (the span in which AutoRun is off) it holds the session manager's automount
// inhibitor where a desktop session offers one.
#pragma once

#include <cstdint>

#include "platform/automount_inhibitor.h"

namespace fw {

// 1 when the hook is (or already was) installed: always, as there is no prompt to watch for.
int32_t SetFormatPromptHook();
void ClrFormatPromptHook();

// Holds the automount inhibitor (logged either way); true when one is held.
bool HoldAutomountInhibitor();
bool HoldAutomountInhibitor(AutomountInhibitor& inhibitor);
// Releases the inhibitor held, if any.
void ReleaseAutomountInhibitor();

// Puts the four into the start-up hooks (app/startup.h): the prompt hook at its place in
// start-up and shutdown, the inhibitor with AutoRun off and its restore.
void InstallFormatPromptHooks();

}  // namespace fw
