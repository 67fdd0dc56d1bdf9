// flashwright-cli [--image FILE [--create SIZE] [--sector-size N]] list: the drive tree as text.
#include <iostream>

#include "app/cli.h"
#include "disk/inventory.h"
#include "platform/imagedisk/image_disk.h"

namespace {

int ListCommand(const fw::cli::GlobalOptions& options, const std::vector<std::string>& args) {
  using namespace fw::cli;
  if (!args.empty()) return Fail(kExitUsage, "list takes no arguments");
  if (!options.image.empty()) {
    if (!options.create.empty()) {
      const int64_t bytes = fw::ParseImageSize(options.create);
      if (bytes <= 0 || !fw::CreateImageFile(options.image, bytes))
        return Fail(kExitFailure, "cannot create " + options.image);
    }
    if (!fw::AttachImageDisk(options.image, options.sectorSize))
      return Fail(kExitFailure, "cannot attach " + options.image);
  }
  fw::UpdateAllDrives();
  for (const fw::DriveListRow& row : fw::DriveListRows())
    std::cout << (row.level ? "  " : "") << "[" << row.diskNumber << "] " << row.text << "\n";
  if (fw::DriveListRows().empty()) std::cout << "Insert a USB Flash Drive ...\n";
  if (fw::InventoryLacksRights()) std::cerr << fw::kNeedRightsText << "\n";
  return kExitOk;
}

FW_CLI_COMMAND("list", "list    the offered disks and their partitions", ListCommand);

}  // namespace
