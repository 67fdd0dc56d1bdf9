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

// Extracts a zip onto PathToExtract: a host folder, or a volume root "E:" (optionally with a
// folder below it, "E:\EFI") written through the FAT32/exFAT engine without mounting. With
// FromMemory the packed item Buffer/BufferLength is unpacked to a temporary zip first; otherwise
// sZipFileForUnpack is extracted. Entries whose names would leave PathToExtract (".." parts,
// absolute names, drive letters), links, and entries larger than the free space are logged and
// skipped. Returns 1 when the archive was opened and walked through (also after a cancel inside
// the walk), 0 otherwise.
int32_t ExtractDataZip(const void* Buffer, int64_t BufferLength, std::string PathToExtract,
                       bool FromMemory, std::string sZipFileForUnpack, bool ShowProgress,
                       bool DeleteZipAfter);

// The safe relative form of a zip entry name ("/" between parts, "." and empty parts dropped,
// backslashes taken as separators), or "" when the name must not be extracted.
std::string SafeEntryPath(const std::string& entryName);

// True for a volume target of ExtractDataZip: a drive letter and ":", alone or followed by a
// folder ("E:", "e:\EFI", "E:/EFI").
bool IsVolumeRoot(const std::string& path);

}  // namespace fw
