// The Linux safe removal: udisks2 over D-Bus, the sysfs delete of a SCSI disk, loop detach.
#pragma once

#include <memory>
#include <string>

#include "platform/drive_removal.h"

namespace fw {

struct LinuxDriveRemovalConfig {
  // udisks2's bus; "" = the system bus.
  std::string busAddress;
  // Root of the sysfs tree that DeleteDevice writes under ("/" normally).
  std::string sysRoot = "/";
};

std::unique_ptr<DriveRemovalService> MakeLinuxDriveRemoval(const LinuxDriveRemovalConfig& config);

}  // namespace fw
