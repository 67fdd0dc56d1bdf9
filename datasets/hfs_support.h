// HFS+ read support: the kernel's hfsplus module, which mounts HFS+ volumes (journaled ones
// read-only), so that a restored Recovery HD image can be read. Installing writes a file naming
// the module into the modules-load folder (loaded at every start) and loads it now; removing
// deletes that file and unloads the module when nothing uses it. The file decides whether the
// support counts as installed, and so which of the Tools menu items 2 (Install) and 3 (UnInstall)
// is enabled.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel_modules.h"

namespace fw {

inline constexpr const char* kHfsModule = "hfsplus";
inline constexpr const char* kHfsModulesLoadFile = "flashwright-hfsplus.conf";

// 1 when the file is there; sets the enabled state of the two menu items.
int32_t CheckIfExistHFSDrivers();
int32_t CheckIfExistHFSDrivers(KernelModules& modules);
// The two commands (on the UI thread; they ask and report through message boxes).
void InstallHFSDrivers();
void InstallHFSDrivers(KernelModules& modules);
void UnInstallHFSDrivers();
void UnInstallHFSDrivers(KernelModules& modules);

// Path of the file in the modules-load folder.
std::string HfsModulesLoadPath(KernelModules& modules);

}  // namespace fw
