// The archiver steps of the HFS image jobs, run directly with the distribution's 7zz (no command
// interpreter): the HFS partitions of a DMG file, and the three steps that take a Recovery HD
// package apart (package -> RecoveryHDMeta.dmg -> BaseSystem.dmg -> *.hfs) with the exit codes of
// the package script they replace.
//
// The archiver reports success (exit 0, "No files to process") for a DMG without any HFS
// partition, such as an APFS-only image, so a step counts as done only when an image file appeared.
#pragma once

#include <string>
#include <vector>

namespace fw {

// The archiver's full path ("" when it is not installed).
std::string ArchiverProgram();
// Tests: run this program instead ("" restores the lookup of 7zz).
void SetArchiverProgramForTesting(const std::string& path);

struct HfsExtraction {
  bool started = false;  // false: the archiver could not be run
  int exitCode = -1;     // the archiver's exit status (-1 after a signal or a cancel)
  bool cancelled = false;
  std::vector<std::string> images;  // full paths of the image files that appeared
};

// 7zz e -tdmg DMG *.hfs -o<outputFolder>. Existing files are never replaced: an image whose name
// is taken gets a numbered name instead (the archiver's auto-rename).
HfsExtraction ExtractHfsImagesFromDmg(const std::string& dmgPath, const std::string& outputFolder);

// Exit codes of the package steps.
enum UnpackExitCode : int {
  kUnpackCannotRun = -1,  // the archiver could not be started
  kUnpackOk = 0,
  kUnpackUsage = 1,      // no package named
  kUnpackNoPackage = 2,  // the package is not in the work folder
  kUnpackNoOutput = 3,   // the output folder does not exist
  kUnpackFailed = 4,     // a step failed, or no image came out
};

// Runs the three steps in `workFolder` (the package `packageName` lies there; the intermediate
// DMG files are made and deleted there). `outputFolder` "" means the work folder. `images` gets the
// image files that appeared in the output folder.
int UnpackRecoveryHDPackage(const std::string& workFolder, const std::string& packageName,
                            const std::string& outputFolder, std::vector<std::string>* images);

}  // namespace fw
