// The steps the format job takes, each over the module that owns it (partition table, boot
// records, formatter, drive letters, data sets). The job itself only decides between them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "disk/disk_record.h"
#include "disk/raw_access.h"

namespace fw {

struct JobBootImages {
  std::vector<uint8_t> MbrImage;  // 512 bytes of MBR boot code (empty for Not_Format)
  int MbrSectorCount = 1;
  std::vector<uint8_t> PbrImage;  // PbrSectorCount × 512 bytes
  int PbrSectorCount = 0;         // 0 none, 1 FAT32, 2 exFAT
};
JobBootImages JobSelectBootImages(const std::string& bootRecords, const std::string& fileSystem);

// 1 when the volume with letter L is formatted; 0 on failure or cancel.
int JobFormatDrive(const std::string& L, const std::string& fileSystem, const std::string& label,
                   int quick, int clusterSize);
// Sets the type byte of partition 1 in sector 0 to the formatted file system's: 0x0B for FAT32,
// 0x07 for exFAT and NTFS (others keep 0x06).
void JobSetFirstPartitionTypeForFileSystem(DriveHandle physical, int64_t bytesPerSector,
                                           const std::string& fileSystem);
// Sets the type byte of partition 1 in sector 0 to 0x0C.
void JobSetFirstPartitionTypeLba(DriveHandle physical, int64_t bytesPerSector);
// Reads the volume's boot sector(s), merges the chosen boot code and writes it back (for exFAT
// also the backup region and both checksum sectors); the sectors keep the formatter's bytes
// wherever the code does not reach. True when every write succeeded.
bool JobInstallPartitionBootRecord(DriveHandle volume, int64_t bytesPerSector,
                                   const JobBootImages& images, const std::string& fileSystem);

bool JobValidate7zZIPFile(const std::string& path);
// Extracts a data-set zip onto the volume L (with progress); nonzero only when every entry was
// written.
int JobExtractDataZipFile(const std::string& zipPath, const std::string& L);
// The FreeDos files carried in the program, onto the volume L; nonzero only when every entry was
// written.
int JobInstallFreeDosDataSet(const std::string& L);
// A Clover release archive made into the data-set zip in the work folder (mode 1 = the local
// archive, 0 = the download of CloverDLRev()); nonzero with the zip's path on success.
int JobPrepareCloverDataSetZip(int mode, std::string* zipPath);
// That zip extracted onto the volume L (and kept in the repository when the setting says so);
// nonzero on success.
int JobInstallCloverDataSetZip(const std::string& L, const std::string& zipPath);
// Reads the data set just extracted onto the volume L back and compares every file with the zip
// at zipPath ("" = the FreeDos files carried in the program), with progress. 1 when all match;
// 0 otherwise, with the first file that does not in *failedFile ("" when none could be read).
int JobVerifyDataSet(const std::string& zipPath, const std::string& L, std::string* failedFile);
// The revision check run on the job's thread; 1 = success (CloverLastRev then holds it).
int JobCheckCloverLastRev();
// The hidden ".metadata_never_index" file and ".fseventsd/no_log" on the volume; true when the
// first marker was created.
bool JobWriteIndexingMarkers(int32_t diskNumber, const std::string& R);

}  // namespace fw
