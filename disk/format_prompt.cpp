#include "disk/format_prompt.h"

#include <mutex>
#include <string>

#include "app/globals.h"
#include "app/log.h"
#include "app/startup.h"

namespace fw {
namespace {

std::mutex mutex;
bool promptHook = false;
AutomountInhibitor* heldBy = nullptr;
uint32_t heldCookie = 0;

}  // namespace

int32_t SetFormatPromptHook() {
  std::lock_guard<std::mutex> lock(mutex);
  if (promptHook) return 1;
  promptHook = true;
  FW_LOG("SetFormatPromptHook: this system shows no format prompt; nothing to close");
  return 1;
}

void ClrFormatPromptHook() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!promptHook) return;
  promptHook = false;
  FW_LOG("ClrFormatPromptHook: nothing to unhook");
}

bool HoldAutomountInhibitor() { return HoldAutomountInhibitor(SessionAutomountInhibitor()); }

bool HoldAutomountInhibitor(AutomountInhibitor& inhibitor) {
  std::lock_guard<std::mutex> lock(mutex);
  if (heldBy) return true;
  uint32_t cookie = 0;
  std::string reason;
  if (!inhibitor.Inhibit(kProgramName, "Preparing and writing disks", &cookie, &reason)) {
    FW_LOG("No automount inhibitor offered: " + reason);
    return false;
  }
  heldBy = &inhibitor;
  heldCookie = cookie;
  FW_LOG("Automount inhibitor held: cookie " + std::to_string(cookie));
  return true;
}

void ReleaseAutomountInhibitor() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!heldBy) return;
  std::string reason;
  if (heldBy->Uninhibit(heldCookie, &reason))
    FW_LOG("Automount inhibitor released: cookie " + std::to_string(heldCookie));
  else
    FW_LOG("Automount inhibitor release failed: " + reason);
  heldBy = nullptr;
  heldCookie = 0;
}

void InstallFormatPromptHooks() {
  StartupHooks& h = Hooks();
  h.setFormatPromptHook = [] { return SetFormatPromptHook() == 1; };
  h.clrFormatPromptHook = [] { ClrFormatPromptHook(); };
  h.holdAutomountInhibitor = [] { HoldAutomountInhibitor(); };
  h.releaseAutomountInhibitor = [] { ReleaseAutomountInhibitor(); };
}

}  // namespace fw
