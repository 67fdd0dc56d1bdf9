// Commands of the data-set archives:
//   extract-data-zip ZIP TARGET [--delete]   extract a zip onto a folder or a volume ("E:")
//   install-freedos TARGET                   extract the FreeDOS boot set carried by the program
//   test-data-zip ZIP                        print the Clover revision of a data-set zip
// A volume TARGET ("E:", "E:\EFI") is a letter of the drive tree (`flashwright-cli list`); with
// --image the image file is attached first, so its volumes have letters too.
#include <iostream>

#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "datasets/data_zip.h"
#include "datasets/dataset_services.h"
#include "datasets/packed_items.h"
#include "disk/inventory.h"

namespace fw::cli {
namespace {

// The data-set services, and for a volume target the drive tree its letter comes from.
int PrepareTarget(const GlobalOptions& options, const std::string& target) {
  InstallSystemDataSetServices();
  if (!IsVolumeRoot(target)) return kExitOk;
  if (const int status = AttachCommandImage(options)) return status;
  UpdateAllDrives();
  return kExitOk;
}

// Exit 0 only when every entry is on the target; refused and failed entries are counted.
int ExtractionStatus(int32_t result, const ExtractTally& tally, const std::string& failure,
                     const std::string& incomplete) {
  if (result != 1) return Fail(kExitFailure, failure);
  if (tally.NotWritten() > 0) return Fail(kExitFailure, incomplete + NotWrittenText(tally));
  return kExitOk;
}

int ExtractCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--delete"))
    return Fail(kExitUsage, "usage: extract-data-zip ZIP TARGET [--delete]");
  if (const int status = PrepareTarget(options, args[1])) return status;
  if (Validate7zZIPFile(args[0]) == 0) return Fail(kExitFailure, args[0] + " is no zip archive");
  ExtractTally tally;
  const int32_t result =
      ExtractDataZip(nullptr, 0, args[1], false, args[0], true, args.size() == 3, &tally);
  return ExtractionStatus(result, tally, "extraction failed", "extract-data-zip: ");
}

int InstallFreeDosCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail(kExitUsage, "usage: install-freedos TARGET");
  if (const int status = PrepareTarget(options, args[0])) return status;
  ExtractTally tally;
  const int32_t result = ExtractDataZip(PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength),
                                        args[0], true, "", true, true, &tally);
  return ExtractionStatus(result, tally, "FreeDos Data set files Not Installed",
                          "FreeDos Data set files Not Installed: ");
}

int TestCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail(kExitUsage, "usage: test-data-zip ZIP");
  InstallSystemDataSetServices();
  const int32_t revision = TestDataZip(args[0]);
  std::cout << revision << "\n";
  return revision > 0 ? kExitOk : kExitFailure;
}

}  // namespace

FW_CLI_HELP("extract-data-zip", "ZIP TARGET [--delete]",
            "unpack a data-set zip into a folder or onto a volume",
            "Unpacks ZIP into TARGET. A volume is written through the program's FAT32/exFAT "
            "engine without mounting it; its disk is claimed first. Entries that would land "
            "outside TARGET, links and entries larger than the free space are skipped.\n\n"
            "ZIP\tthe zip archive\n"
            "TARGET\ta folder, or a volume by its drive letter from list (E: or E:\\EFI)\n"
            "--delete\tremove ZIP afterwards");
FW_CLI_HELP("install-freedos", "TARGET", "unpack the FreeDOS boot files carried in the program",
            "Unpacks the FreeDOS boot files carried in the program into TARGET.\n\n"
            "TARGET\ta folder, or a volume by its drive letter from list (E:)");
FW_CLI_HELP("test-data-zip", "ZIP", "print the Clover revision of a data-set zip",
            "Prints the Clover revision of a data-set zip; exit status 1 when it holds none.");
FW_CLI_COMMAND("extract-data-zip", "extract-data-zip ZIP TARGET [--delete]  (TARGET: folder or E:)",
               ExtractCommand);
FW_CLI_COMMAND("install-freedos", "install-freedos TARGET  extract the carried FreeDOS boot set",
               InstallFreeDosCommand);
FW_CLI_COMMAND("test-data-zip", "test-data-zip ZIP  print the Clover revision of a data-set zip",
               TestCommand);

}  // namespace fw::cli
