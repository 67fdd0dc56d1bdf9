// Clover release archives as data sets: the latest release downloaded (Local = 0) or the archive
// chosen in the local repository (Local = 1), turned into the data-set zip in a fresh work folder
// and extracted onto the first partition; with SaveLatestCloverAfterDL the zip is kept in the
// repository as well.
//
//   int ok = DLAndExtractCloverFromCloverDistrISO("E:", 0);
//
// The format job splits the routine around its confirmation question, so that an archive that
// cannot be had costs no wiped drive:
//
//   std::string zip;
//   if (!PrepareCloverDataSetZip(0, &zip)) ... end before the question, disk untouched
//   ... question, wipe, format ...
//   int ok = InstallCloverDataSetZip("E:", zip);
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// How long the download of the release archive may take.
inline constexpr int64_t kCloverDownloadLimitMs = 300000;

// Both halves below; 1 when the data set was installed to DestPath ("E:", or a folder).
int32_t DLAndExtractCloverFromCloverDistrISO(const std::string& DestPath, int Local);

// The data-set zip in a fresh work folder: the archive copied (Local = 1) or downloaded (revision
// CloverDLRev()), then unpacked and zipped by the 7-Zip archiver. 1 with the zip's path in
// `zipPath`; 0 after the message box or status text of the failure.
int32_t PrepareCloverDataSetZip(int Local, std::string* zipPath);
// Extracts the zip onto DestPath, then keeps it in the repository when SaveLatestCloverAfterDL is
// on. 1 when the data set was installed.
int32_t InstallCloverDataSetZip(const std::string& DestPath, const std::string& zipPath);

}  // namespace fw
