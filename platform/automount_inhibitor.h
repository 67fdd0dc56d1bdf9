// The desktop session's switch for automounting. Desktops mount and open fresh partitions as
// soon as they appear, which can seize a drive in the middle of a job; a session manager that
// offers the "automount" inhibitor stops that while the inhibitor is held.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

class AutomountInhibitor {
 public:
  virtual ~AutomountInhibitor() = default;
  // Asks the session manager to hold automounting for `appId` (with `why` shown to the user by
  // the desktop). True with the inhibitor's *cookie; false with *reason when no session offers it.
  virtual bool Inhibit(const std::string& appId, const std::string& why, uint32_t* cookie,
                       std::string* reason) = 0;
  // Releases the inhibitor `cookie`; false with *reason when the session manager refused.
  virtual bool Uninhibit(uint32_t cookie, std::string* reason) = 0;
};

// The user's session (org.gnome.SessionManager on the session bus).
AutomountInhibitor& SessionAutomountInhibitor();

}  // namespace fw
