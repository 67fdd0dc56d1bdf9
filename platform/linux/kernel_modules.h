// Kernel modules on Linux: modprobe, /etc/modules-load.d, /sys/module and /proc/filesystems.
#pragma once

#include <memory>
#include <string>

#include "platform/kernel_modules.h"

namespace fw {

struct LinuxKernelModulesConfig {
  std::string modulesLoadFolder = "/etc/modules-load.d";
  // The loader: a name looked up on PATH and in the sbin folders, or a full path.
  std::string modprobe = "modprobe";
  // Root under which sys/module and proc/filesystems are read.
  std::string root = "/";
};

// The configuration of the running system: the defaults above, with the folder and the loader
// taken from FLASHWRIGHT_MODULES_LOAD_DIR and FLASHWRIGHT_MODPROBE when they are set (so that a
// test of the whole program writes into a folder of its own and runs a loader of its own).
LinuxKernelModulesConfig SystemKernelModulesConfig();

std::unique_ptr<KernelModules> MakeLinuxKernelModules(const LinuxKernelModulesConfig& config);

}  // namespace fw
