// The libudev monitor behind platform/device_monitor.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/device_monitor.h"

namespace fw {

// "udev" when udevd runs under `root` (its control socket <root>/run/udev/control exists), else
// "kernel": without udevd only the kernel's own uevents arrive, and a "udev" monitor stays silent.
std::string DeviceEventSource(const std::string& root = "/");

// A monitor of block-device events from `source` ("udev" or "kernel"); nullptr with *error.
// With `onlyDisks` not empty, only events of those whole disks ("loop3", "sdb") and their
// partitions count: the same restriction as the block backend's (FLASHWRIGHT_BLOCK_DEVICES).
std::unique_ptr<DeviceMonitor> OpenUdevMonitor(const std::string& source,
                                               const std::vector<std::string>& onlyDisks,
                                               std::string* error);

}  // namespace fw
