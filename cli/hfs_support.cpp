// flashwright-cli hfs-support status|install|remove: HFS+ read support through the kernel's
// hfsplus module, as Tools > Install / UnInstall do it (the question is answered by --yes).
#include "datasets/hfs_support.h"

#include <iostream>

#include "cli/cli.h"
#include "cli/help.h"

namespace fw::cli {
namespace {

int HfsSupportCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail(kExitUsage, "hfs-support takes status, install or remove");
  KernelModules& modules = SystemKernelModules();
  const std::string& action = args[0];
  const bool before = CheckIfExistHFSDrivers(modules) == 1;
  if (action == "status") {
    std::cout << (before ? "installed: " : "not installed: ") << HfsModulesLoadPath(modules)
              << (before ? "" : " is missing")
              << "\nhfsplus module: " << (modules.IsLoaded(kHfsModule) ? "loaded" : "not loaded")
              << "\n";
    return kExitOk;
  }
  if (action == "install") {
    InstallHFSDrivers(modules);
    return CheckIfExistHFSDrivers(modules) == 1 && !before ? kExitOk : kExitFailure;
  }
  if (action == "remove") {
    UnInstallHFSDrivers(modules);
    return CheckIfExistHFSDrivers(modules) == 0 && before ? kExitOk : kExitFailure;
  }
  return Fail(kExitUsage, "hfs-support takes status, install or remove");
}

}  // namespace

FW_CLI_HELP("hfs-support", "", "",
            "The kernel's hfsplus module, which reads HFS+ volumes such as a restored Recovery "
            "HD. Installing and removing need root; installing asks first (--yes answers).\n\n"
            "status\twhether the support is installed and the module loaded\n"
            "install\tname the module in the modules-load folder (loaded at every start) and "
            "load it now\n"
            "remove\tdelete that file and unload the module when nothing uses it");
// It changes the system, not the program's own settings: nothing of those is saved.
FW_CLI_QUERY_COMMAND("hfs-support",
                     "hfs-support status|install|remove   HFS+ read support (hfsplus module)",
                     HfsSupportCommand);

}  // namespace fw::cli
