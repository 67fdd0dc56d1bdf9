// The automount inhibitor of a GNOME-compatible session manager (org.gnome.SessionManager
// Inhibit with the "automount" flag 16) over sd-bus.
#pragma once

#include <memory>
#include <string>

#include "platform/automount_inhibitor.h"

namespace fw {

// `busAddress` "" = the user's session bus. The connection stays open while an inhibitor is
// held: the session manager drops the inhibitors of a connection that closes.
std::unique_ptr<AutomountInhibitor> MakeSessionAutomountInhibitor(const std::string& busAddress);

}  // namespace fw
