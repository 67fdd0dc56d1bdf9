// flashwright-cli [--image FILE [--create SIZE] [--sector-size N]] list: the drive tree as text.
#include <iostream>

#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "disk/inventory.h"

namespace {

int ListCommand(const fw::cli::GlobalOptions& options, const std::vector<std::string>& args) {
  using namespace fw::cli;
  if (!args.empty()) return Fail(kExitUsage, "list takes no arguments");
  if (const int status = AttachCommandImage(options)) return status;
  fw::UpdateAllDrives();
  // Disks by the number --disk takes, partitions by the K of --partition K.
  for (const fw::DriveListRow& row : fw::DriveListRows()) {
    if (row.slot < 0) {
      std::cout << "Disk " << row.diskNumber << ": " << row.text << "\n";
      continue;
    }
    std::string text = row.text;
    const std::string tag = "Part" + std::to_string(row.slot + 1) + ": ";
    if (text.rfind(tag, 0) == 0) text.erase(0, tag.size());
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::cout << "  Partition " << row.slot + 1 << ": " << text << "\n";
  }
  if (fw::DriveListRows().empty()) std::cout << "Insert a USB Flash Drive ...\n";
  if (const std::string problem = fw::InventoryAccessProblem(); !problem.empty())
    std::cerr << problem << "\n";
  return kExitOk;
}

FW_CLI_HELP("list", "", "the disks and their partitions, with the numbers the commands take",
            "Prints the disks the program offers as \"Disk N\" (the N of --disk N) and their "
            "partitions as \"Partition K\" (the K of --partition K): size, file system, Act for "
            "the active one, the label in angle brackets and the drive letter. USB disks are "
            "offered always, fixed disks only with EnableFixedDisks = 1, the system's own disk "
            "never. Add --image FILE (before the command) to list an image file too. Saves "
            "nothing.");
FW_CLI_QUERY_COMMAND("list", "list    the offered disks and their partitions", ListCommand);

}  // namespace
