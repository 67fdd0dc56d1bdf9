// The user's settings, one record of named values read by every part of the program.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fw {

struct SettingsRecord {
  // [Window Settings]
  int64_t WinX = 400;
  int64_t WinY = 400;
  // [Data Settings]
  int LogEnable = 0;
  std::string InstallDataSet = "DL";  // "Local", "DL", "Not_Install"
  std::string CloverLastRev = "Check It!";
  std::string CloverLastRevCheckDate;
  int CheckLatestCloverAtStartup = 0;
  int SaveLatestCloverAfterDL = 0;
  std::string CloverLocalRepository;  // folder, ends in "/"
  std::string ZORImageLocalRepo;      // folder, ends in "/"
  std::string VolumeLabel = "ZOR";
  std::string Boot_records = "Clover";   // "Windows", "Clover", "FreeDos", "Not_Format"
  std::string FileSystem = "FAT32-LBA";  // "FAT32", "FAT32-LBA", "NTFS", "exFAT", "UDF"
  std::string ClusterSize = "0";
  std::string StartLBASector = "63";  // "63", "2048", "4096", "8192"
  int QuickFormat = 1;
  int MultiPartitions = 1;
  int64_t BootPartitionSize = 200;  // MB
  int EnableFixedDisks = 0;
  // [Sucatalog Check Setting]
  int SearchOnlyNewestRevRecoveryHD = 1;
  int64_t UseInternalSucatalogUrlList = 1;
  int64_t ShowSucatalogSummaryURLList = 0;
  // [Sucatalog User Defined URL list]: name = URL
  std::vector<std::pair<std::string, std::string>> UserSucatalogUrls;
  // [Download Settings]
  int64_t ResumeMaxAttemptsNumber = 9999;
  // [Download Data Settings]: name = download URL
  std::vector<std::pair<std::string, std::string>> DownloadData;
};

// The process's settings.
SettingsRecord& Settings();

}  // namespace fw
