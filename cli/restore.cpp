// flashwright-cli restore: a raw image file onto one partition (its MBR entry becomes HFS+).
#include "cli/cli.h"
#include "cli/image_job.h"

namespace fw::cli {
namespace {

int RestoreCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return RunImageJobCommand(ImageJobKind::kRestore, options, args);
}

}  // namespace

FW_CLI_COMMAND("restore", "restore [--disk N] --partition K --input FILE [--verify]",
               RestoreCommand);

}  // namespace fw::cli
