// flashwright-cli backup: one partition into a raw image file.
#include "cli/cli.h"
#include "cli/help.h"
#include "cli/image_job.h"

namespace fw::cli {
namespace {

int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return RunImageJobCommand(ImageJobKind::kBackup, options, args);
}

}  // namespace

FW_CLI_HELP("backup", "[--disk N] --partition K --output FILE [--verify]",
            "copy a partition into an image file",
            "Copies partition K byte for byte into the image file FILE (raw, no header). An "
            "existing file is replaced only on a confirmation. Ctrl-C stops after the chunk in "
            "progress.\n\n"
            "--disk N\tthe disk number that list shows (not needed with --image)\n"
            "--partition K\tthe partition number that list shows, 1 to 4\n"
            "--output FILE\tthe image file to write\n"
            "--verify\tread the image file back afterwards and compare it with the partition");
FW_CLI_COMMAND("backup", "backup [--disk N] --partition K --output FILE [--verify]", BackupCommand);

}  // namespace fw::cli
