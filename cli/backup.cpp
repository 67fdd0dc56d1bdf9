// flashwright-cli backup: one partition into a raw image file.
#include "cli/cli.h"
#include "cli/image_job.h"

namespace fw::cli {
namespace {

int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return RunImageJobCommand(ImageJobKind::kBackup, options, args);
}

}  // namespace

FW_CLI_COMMAND("backup", "backup [--disk N] --partition K --output FILE [--verify]", BackupCommand);

}  // namespace fw::cli
