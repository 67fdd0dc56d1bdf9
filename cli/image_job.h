// What the CLI's backup and restore commands share: option parsing, the disk selection and a Ui
// that answers the file chooser with the file named on the command line.
#pragma once

#include <string>
#include <vector>

#include "cli/cli.h"
#include "images/image_jobs.h"

namespace fw::cli {

enum class ImageJobKind { kBackup, kRestore };

// Runs `backup [--disk N] --partition K --output FILE` or
// `restore [--disk N] --partition K --input FILE`. Exit 0 only when every byte was copied (and,
// for a restore, the partition entry rewritten); 1 when the job failed or was cancelled (Ctrl-C);
// 2 for usage errors.
int RunImageJobCommand(ImageJobKind kind, const GlobalOptions& options,
                       const std::vector<std::string>& args);

}  // namespace fw::cli
