// What the safe removal of a disk (disk/safe_removal.h) asks of the system. The core decides
// which of these a disk gets and how often it is tried; each call here is one request.
#pragma once

#include <string>

namespace fw {

class DriveRemovalService {
 public:
  virtual ~DriveRemovalService() = default;

  // Writes what the system still caches for the device (or image file) to it. False with
  // *reason when the device cannot be opened or reports a write error.
  virtual bool Flush(const std::string& devicePath, std::string* reason) = 0;

  // True when the udisks2 service answers on the system bus; *reason says why not.
  virtual bool UDisksAnswers(std::string* reason) = 0;
  // One request to udisks2 for the drive behind the block device `devicePath`: Drive.PowerOff
  // when the drive CanPowerOff, else Drive.Eject. False with the service's refusal in *reason.
  virtual bool UDisksRemove(const std::string& devicePath, std::string* reason) = 0;

  // Tells the kernel to let go of the disk `name` ("sdb"): its SCSI device is deleted, which a USB
  // stick survives unharmed (unplugging and plugging it in again brings it back).
  virtual bool DeleteDevice(const std::string& name, std::string* reason) = 0;

  // Detaches the loop device `devicePath` from its backing file.
  virtual bool DetachLoop(const std::string& devicePath, std::string* reason) = 0;
};

// The system's service (udisks2 over D-Bus, sysfs, loop ioctls).
DriveRemovalService& SystemDriveRemoval();

}  // namespace fw
