// HFS image extraction: the raw HFS+ partition images (".hfs" files, restored onto the second
// partition of a prepared drive) taken out of a DMG file the user picks (Tools menu item 4), and
// out of a Recovery HD package downloaded from the software-update catalogs (Download Center).
//
//   fw::ExtractHFSFromDMG();                       // worker body: choosers, archiver, boxes
//   fw::RunExtractHFSFromDMG(dmg, folder);         // the same without choosers (CLI)
//   fw::DLAndExtractHFSImageFromRecoveryHD(entry); // worker body: download, unpack, summary box
#pragma once

#include <string>
#include <vector>

#include "net/recovery_hd_list.h"

namespace fw {

struct HfsJobOutcome {
  int result = 0;  // 1 when an image was written
  std::vector<std::string> images;
  // The package job: the download's result code and the unpack steps' exit code (-2 = not run).
  int downloadCode = 0;
  int unpackCode = -2;
};

// The DMG job with its choosers ("Select DMG-file for extraction", then the folder). Returns 1
// when an image was extracted, else 0.
int ExtractHFSFromDMG();
HfsJobOutcome RunExtractHFSFromDMG(const std::string& dmgPath, const std::string& outputFolder);

// The package job: downloads the entry as "RecoveryHD.pkg" into the work folder and unpacks its
// HFS image into `outputFolder` ("" = the ZORImageLocalRepo setting). Shows the summary box on
// success. The main window's DL Center button reads "Cancel DL" meanwhile.
HfsJobOutcome DLAndExtractHFSImageFromRecoveryHD(const RecoveryHDEntry& entry,
                                                 const std::string& outputFolder = "");

}  // namespace fw
