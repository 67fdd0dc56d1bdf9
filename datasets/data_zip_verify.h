// The read-back check of an extracted data set: every file that ExtractDataZip writes from a zip
// is read again from the target and its CRC-32 compared with the zip's, so that a file that did
// not land as the zip holds it fails the job by its name.
//
//   DataZipCheck check;
//   if (!VerifyDataZip(nullptr, 0, "E:", false, zip, true, &check)) ...check.failedFile...
#pragma once

#include <cstdint>
#include <string>

namespace fw {

struct DataZipCheck {
  int32_t files = 0;       // files read back and compared
  std::string failedFile;  // the first file that differs, is missing or unreadable; "" for none
};

// Arguments as ExtractDataZip's. A volume target ("E:", "E:\EFI") is read through the FAT32/exFAT
// engine as its storage holds it (DataSetServices::openVolumeFromStorage), a folder through the
// system. The files checked are those the extraction writes: regular entries under a safe name,
// the last one of a name winning, compared by size and CRC-32 (which the zip reader checks
// against the zip's own while it reads an entry). Returns 1 when every one matches; 0 otherwise,
// with failedFile set, or "" when the zip or the target cannot be opened or FormatStatus
// cancelled the check.
int32_t VerifyDataZip(const void* Buffer, int64_t BufferLength, std::string PathToExtract,
                      bool FromMemory, std::string sZipFileForUnpack, bool ShowProgress,
                      DataZipCheck* check);

}  // namespace fw
