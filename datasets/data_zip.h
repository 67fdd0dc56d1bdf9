// Data-set archives: recognising archive files, reading the Clover revision of a data-set zip,
// and the one extraction routine every job uses to unpack a zip onto a folder or a volume.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// 1 when the file starts with "PK" (zip) or "7z" (7-Zip), else 0.
int32_t Validate7zZIPFile(const std::string& FileName);

// The Clover revision read from the root entry "boot" of a data-set zip ("Clover revision: N"),
// 0 when there is none.
int32_t TestDataZip(const std::string& FileName);

// What an extraction did with the archive's entries.
struct ExtractTally {
  int64_t total = 0;    // entries in the archive
  int64_t written = 0;  // files and folders that are on the target as the archive has them
  int64_t refused = 0;  // hostile names (leaving the target), links and other non-file entries
  int64_t failed = 0;   // entries that could not be written whole: no room, a full folder, an I/O
                        // error, a wrong size or CRC (nothing of such a file stays behind)
  int64_t NotWritten() const { return refused + failed; }
};

// Extracts a zip onto PathToExtract: a host folder, or a volume root "E:" (optionally with a
// folder below it, "E:\EFI") written through the FAT32/exFAT engine without mounting. With
// FromMemory the packed item Buffer/BufferLength is unpacked to a temporary zip first; otherwise
// sZipFileForUnpack is extracted. Entries whose names would leave PathToExtract (".." parts,
// absolute names, drive letters) and links are refused; entries larger than the free space, or
// that fail to be written whole, are removed again. Both are logged, counted in *tally (when
// given) and, with ShowProgress, named in the final status text. Returns 1 when the archive was
// opened and walked through (also after a cancel inside the walk, and whatever the tally says),
// 0 otherwise.
int32_t ExtractDataZip(const void* Buffer, int64_t BufferLength, std::string PathToExtract,
                       bool FromMemory, std::string sZipFileForUnpack, bool ShowProgress,
                       bool DeleteZipAfter, ExtractTally* tally = nullptr);

// "N of T entries not written (R refused, F failed)", or "" when every entry was written.
std::string NotWrittenText(const ExtractTally& tally);

// The safe relative form of a zip entry name ("/" between parts, "." and empty parts dropped,
// backslashes taken as separators), or "" when the name must not be extracted.
std::string SafeEntryPath(const std::string& entryName);

// The folder below the root of a volume target, in the safe form ("E:\EFI" → "EFI", "E:" → "");
// false when it would leave the volume.
bool VolumeFolderOf(const std::string& volumeTarget, std::string* folder);

// True for a volume target of ExtractDataZip: a drive letter and ":", alone or followed by a
// folder ("E:", "e:\EFI", "E:/EFI").
bool IsVolumeRoot(const std::string& path);

}  // namespace fw
