// A Clover release archive ("Clover-5119-X64.iso.7z": a 7-Zip archive holding the release ISO)
// turned into the data-set zip "Clover-5119-X64.zip" beside it. The steps are those of the batch
// script the program once carried, run here directly with the system's 7-Zip (7zz, package
// 7zip) and no command interpreter, in the script's order and with its exit codes:
//
//   1  no archive named            2  the archive does not exist
//   3  the archiver is missing     4  an archiver step failed (error level 2 or more)
//
// The zip holds the ISO's file tree without the ISO itself and without 7-Zip's "[BOOT]" folder
// (the El Torito image), plus the root boot files copied from usr/standalone/i386/x64 ("boot6",
// "boot7", ...) and "boot", a copy of boot6.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace fw {

enum UnpackCloverIsoExit : int {
  kUnpackOk = 0,
  kUnpackUsage = 1,
  kUnpackNoArchive = 2,
  kUnpackNoArchiver = 3,
  kUnpackArchiverFailed = 4,
};

struct UnpackCloverIsoOptions {
  std::string archiver = "7zz";  // a name looked up on PATH, or a path
  // -mx of the zip: 9 for a zip that is kept (the repository), lower for one used once.
  int zipLevel = 9;
  // Polled while the archiver runs; true stops it (the steps then end with exit code 4).
  std::function<bool()> cancelled;
  // The steps' output, line by line (the archiver's lines and the script's own).
  std::function<void(std::string_view)> onLine;
};

// The unpack folder U of an archive: its file name without the ".7z" and the ".iso" before it
// (Clover-5119-X64.iso.7z gives Clover-5119-X64; clover.7z gives clover). The zip is U + ".zip".
std::string CloverIsoUnpackFolder(const std::string& archiveFileName);

// Runs the steps in `workFolder` on the archive `archiveFileName` (a name inside `workFolder`, or
// a path) and leaves workFolder/U.zip. Returns the exit code.
int UnpackCloverIso(const std::string& workFolder, const std::string& archiveFileName,
                    const UnpackCloverIsoOptions& options = {});

}  // namespace fw
