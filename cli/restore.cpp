// flashwright-cli restore: a raw image file onto one partition (its MBR entry becomes HFS+).
#include "cli/cli.h"
#include "cli/help.h"
#include "cli/image_job.h"

namespace fw::cli {
namespace {

int RestoreCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return RunImageJobCommand(ImageJobKind::kRestore, options, args);
}

}  // namespace

FW_CLI_HELP("restore", "[--disk N] --partition K --input FILE [--verify]",
            "write an image file onto a partition",
            "Writes the image file FILE onto partition K and sets the partition's entry to the "
            "image's length and the type 0xAF (HFS+), as for a macOS Recovery HD image. It asks "
            "first (--yes answers). Ctrl-C stops after the chunk in progress.\n\n"
            "--disk N\tthe disk number that list shows (not needed with --image)\n"
            "--partition K\tthe partition number that list shows, 1 to 4\n"
            "--input FILE\tthe image file to write onto the partition\n"
            "--verify\tread the partition back afterwards and compare it with the image file");
FW_CLI_COMMAND("restore", "restore [--disk N] --partition K --input FILE [--verify]",
               RestoreCommand);

}  // namespace fw::cli
