// What the CLI's backup and restore commands share: option parsing, the disk selection and a Ui
// that answers the file chooser with the file named on the command line.
#pragma once

#include <string>
#include <vector>

#include "cli/cli.h"
#include "images/image_jobs.h"

namespace fw::cli {

enum class ImageJobKind { kBackup, kRestore };

// Runs `backup [--disk N] --partition K --output FILE [--verify]` or
// `restore [--disk N] --partition K --input FILE [--verify]`. Exit 0 only when every byte was
// copied (and, for a restore, the partition entry rewritten) and, with --verify, the written side
// read back the same as its source; 1 when the job failed, was cancelled (Ctrl-C) or the check
// found a difference; 2 for usage errors.
int RunImageJobCommand(ImageJobKind kind, const GlobalOptions& options,
                       const std::vector<std::string>& args);

}  // namespace fw::cli
