// Notifications that block devices came, went or changed: the counterpart of the device-change
// messages that the system broadcasts to every top-level window. The drive-arrival logic
// (disk/device_events.h) debounces them into one refresh of the drive tree.
#pragma once

#include <memory>
#include <string>

namespace fw {

class DeviceMonitor {
 public:
  virtual ~DeviceMonitor() = default;
  // Where the notifications come from, for the log ("udev", "kernel").
  virtual std::string Source() const = 0;
  // Waits up to `timeoutMs` (-1: without limit) for notifications about block devices. Returns
  // how many arrived (0 after the time-out or a Wake), -1 when the monitor has failed.
  virtual int Wait(int timeoutMs) = 0;
  // Makes the Wait in progress (or the next one) return at once. Callable from any thread.
  virtual void Wake() = 0;
};

// The system's monitor (libudev on the block subsystem); nullptr with *error when none can be
// opened.
std::unique_ptr<DeviceMonitor> OpenDeviceMonitor(std::string* error);

}  // namespace fw
