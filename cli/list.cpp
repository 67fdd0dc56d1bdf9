// flashwright-cli [--image FILE [--create SIZE] [--sector-size N]] list: the drive tree as text.
#include <iostream>

#include "cli/cli.h"
#include "cli/disk.h"
#include "disk/inventory.h"

namespace {

int ListCommand(const fw::cli::GlobalOptions& options, const std::vector<std::string>& args) {
  using namespace fw::cli;
  if (!args.empty()) return Fail(kExitUsage, "list takes no arguments");
  if (const int status = AttachCommandImage(options)) return status;
  fw::UpdateAllDrives();
  for (const fw::DriveListRow& row : fw::DriveListRows())
    std::cout << (row.level ? "  " : "") << "[" << row.diskNumber << "] " << row.text << "\n";
  if (fw::DriveListRows().empty()) std::cout << "Insert a USB Flash Drive ...\n";
  if (const std::string problem = fw::InventoryAccessProblem(); !problem.empty())
    std::cerr << problem << "\n";
  return kExitOk;
}

FW_CLI_QUERY_COMMAND("list", "list    the offered disks and their partitions", ListCommand);

}  // namespace
