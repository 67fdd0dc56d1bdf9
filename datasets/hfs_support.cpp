#include "datasets/hfs_support.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "app/log.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/ui.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

constexpr const char* kFailedInstall = "Failed to install HFS+ drivers.";
constexpr const char* kFailedRemove = "Failed to remove HFS+ drivers.";

bool FileExists(const std::string& path) {
  std::ifstream in(path);
  return in.good();
}

void ShowInstallFailure(const std::string& why) {
  FW_LOGP("InstallHFSDrivers", "InstallHFSDrivers: " + why);
  FW_LOGP("InstallHFSDrivers", std::string("InstallHFSDrivers: ") + kFailedInstall);
  MessageBox("Error", std::string(kFailedInstall) + "\r\n" + why, MsgButtons::Ok, MsgIcon::Error);
}

// Writes the file through a temporary beside it, so that a full disk leaves no half file that
// would count as installed.
bool WriteModulesLoadFile(const std::string& path, std::string* why) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "# Written by Flashwright: the HFS+ driver, loaded at every start to read HFS+ volumes\n"
        << kHfsModule << "\n";
    out.flush();
    if (!out) {
      *why = "cannot write " + temporary + ": " + ErrnoText(errno);
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (!RenameFile(temporary, path)) {
    *why = "cannot write " + path + ": " + ErrnoText(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string HfsModulesLoadPath(KernelModules& modules) {
  std::string folder = modules.ModulesLoadFolder();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + kHfsModulesLoadFile;
}

int32_t CheckIfExistHFSDrivers() { return CheckIfExistHFSDrivers(SystemKernelModules()); }

int32_t CheckIfExistHFSDrivers(KernelModules& modules) {
  const std::string path = HfsModulesLoadPath(modules);
  const bool installed = FileExists(path);
  FW_LOG((installed ? "DriverExists: " : "DriverNotExists: ") + path);
  TheWindows().SetMenuItemEnabled(menu_item::kInstallHfs, !installed);
  TheWindows().SetMenuItemEnabled(menu_item::kUnInstallHfs, installed);
  return installed ? 1 : 0;
}

void InstallHFSDrivers() { InstallHFSDrivers(SystemKernelModules()); }

void InstallHFSDrivers(KernelModules& modules) {
  const std::string path = HfsModulesLoadPath(modules);
  FW_LOG("InstallHFSDrivers: Drivers_Dir$=" + modules.ModulesLoadFolder());
  const MsgAnswer answer = MessageBox("Boot Camp HFS+ ReadOnly drivers",
                                      "Do you want to Install the Boot Camp HFS+ ReadOnly "
                                      "drivers?\r\nTo Continue with this operation, click "
                                      "OK.\r\nTo Quit click CANCEL.",
                                      MsgButtons::OkCancel, MsgIcon::Warning);
  if (answer != MsgAnswer::Ok) {
    FW_LOG("InstallHFSDrivers: Cancel to Install the Boot Camp HFS+ ReadOnly drivers.");
    CheckIfExistHFSDrivers(modules);
    return;
  }
  // The module first: a kernel without it must not get a file that names it.
  const bool wasLoaded = modules.IsLoaded(kHfsModule);
  if (!wasLoaded) {
    std::string reason;
    switch (modules.Load(kHfsModule, &reason)) {
      case ModuleLoad::kLoaded:
        FW_LOG("InstallHFSDrivers: modprobe hfsplus: loaded");
        break;
      case ModuleLoad::kNoSuchModule:
        ShowInstallFailure("This kernel has no HFS+ driver (the hfsplus module): " + reason);
        CheckIfExistHFSDrivers(modules);
        return;
      case ModuleLoad::kFailed:
        ShowInstallFailure("modprobe hfsplus failed: " + reason);
        CheckIfExistHFSDrivers(modules);
        return;
    }
  }
  std::string why;
  if (!WriteModulesLoadFile(path, &why)) {
    ShowInstallFailure(why);
  } else {
    FW_LOG("InstallHFSDrivers: Drivers_Dir$=" + path);
    // Linux needs no restart: the module is loaded now, and the file loads it at every start.
    MessageBox("WARNING",
               wasLoaded ? "The HFS+ driver (hfsplus) was already loaded: HFS+ partitions can be "
                           "read now, and it will be loaded at every start."
                         : "The HFS+ driver (hfsplus) is loaded: HFS+ partitions can be read now, "
                           "and it will be loaded at every start.",
               MsgButtons::Ok, MsgIcon::Information);
  }
  CheckIfExistHFSDrivers(modules);
}

void UnInstallHFSDrivers() { UnInstallHFSDrivers(SystemKernelModules()); }

void UnInstallHFSDrivers(KernelModules& modules) {
  const std::string path = HfsModulesLoadPath(modules);
  FW_LOG("UnInstallHFSDrivers: Drivers_Dir$=" + modules.ModulesLoadFolder());
  if (std::remove(path.c_str()) != 0) {
    FW_LOG("UnInstallHFSDrivers: Error Delete " + path + " (" + ErrnoText(errno) + ")");
    MessageBox("Error", kFailedRemove, MsgButtons::Ok, MsgIcon::Error);
    CheckIfExistHFSDrivers(modules);
    return;
  }
  FW_LOG("UnInstallHFSDrivers: Success Delete " + path);
  std::string text =
      "The HFS+ driver (hfsplus) is removed: it will not be loaded at the next start.";
  if (modules.IsLoaded(kHfsModule)) {
    std::string reason;
    if (modules.Unload(kHfsModule, &reason)) {
      FW_LOG("UnInstallHFSDrivers: Success UnInstall hfsplus");
      text = "The HFS+ driver (hfsplus) is removed and unloaded.";
    } else {
      // In use (a mounted HFS+ volume) or built into the kernel: it stays until the restart.
      FW_LOG("UnInstallHFSDrivers: Error UnInstall hfsplus (" + reason + ")");
      text = "To complete the remove HFS drivers, you need to restart the computer.";
    }
  }
  MessageBox("WARNING", text, MsgButtons::Ok, MsgIcon::Information);
  CheckIfExistHFSDrivers(modules);
}

}  // namespace fw
