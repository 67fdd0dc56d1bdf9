// flashwright-cli [--image FILE] eject [--disk N]: safe removal of a disk, as the Eject button
// does it (unmounted, flushed, then powered off by udisks2, deleted from the kernel's SCSI layer,
// detached as a loop device, or an image file let go of).
#include <iostream>

#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "disk/inventory.h"
#include "disk/safe_removal.h"

namespace fw::cli {
namespace {

int EjectCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  int64_t diskNumber = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--disk") return Fail(kExitUsage, "eject takes only --disk N");
    if (i + 1 >= args.size() || !ParseInt(args[++i], 0, 49, &diskNumber))
      return Fail(kExitUsage, "--disk takes 0..49");
  }
  if (const int status = AttachCommandImage(options)) return status;
  UpdateAllDrives();
  if (const int status = ChooseCommandDisk(options, "eject", &diskNumber)) return status;
  if (!SetCurrentDisk(static_cast<int32_t>(diskNumber), -1))
    return Fail(kExitFailure, "disk " + std::to_string(diskNumber) +
                                  " is not in the drive list (see `flashwright-cli list`)");
  std::string why;
  const int32_t removed = RemoveDriveByLetter(SystemDriveRemoval(), &why);
  UpdateAllDrives();
  if (!removed) return Fail(kExitFailure, "disk " + std::to_string(diskNumber) + ": " + why);
  std::cout << "Disk " << diskNumber << " can be unplugged safely\n";
  return kExitOk;
}

}  // namespace

FW_CLI_HELP("eject", "", "",
            "Prepares the disk for unplugging as the Eject button does: its volumes unmounted, "
            "its caches flushed, then the drive powered off through udisks2 (or removed from the "
            "kernel's SCSI layer); a loop device is detached, an image file let go of.\n\n"
            "--disk N\tthe disk number that list shows (not needed with --image)");
FW_CLI_COMMAND("eject", "eject [--disk N]     safe removal of the disk (or of the --image file)",
               EjectCommand);

}  // namespace fw::cli
