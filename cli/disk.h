// What the CLI's disk commands share: attaching the --image file and choosing the disk to work on.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli.h"

namespace fw::cli {

// Creates the --image file when --create is given, then attaches it. An existing file is replaced
// (blank, at the new size) only after a confirmation (--yes answers it), and never for a query
// command. kExitOk, or the exit status of the failure (already reported on stderr).
int AttachCommandImage(const GlobalOptions& options);

// After UpdateAllDrives: the disk number from --disk (when `diskNumber` holds one already) or the
// attached --image. kExitOk with *diskNumber set, or the exit status of the failure.
int ChooseCommandDisk(const GlobalOptions& options, const std::string& command,
                      int64_t* diskNumber);

// A whole decimal number from lo to hi (a disk number is 0..49): true with *out set.
bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t* out);

}  // namespace fw::cli
