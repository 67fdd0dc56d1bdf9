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
  // [Sucatalog Summary URL List]: the internal catalogs plus the user's (built by LoadSetting).
  std::vector<std::pair<std::string, std::string>> SummarySucatalogUrls;
};

// The process's settings.
SettingsRecord& Settings();

using UrlList = std::vector<std::pair<std::string, std::string>>;

// Where the settings file lives. Empty until StartUp (or a test, or the CLI's --settings) sets it;
// LoadSetting and SaveSetting do nothing while it is empty.
const std::string& SettingsPath();
void SetSettingsPath(const std::string& path);
// Default place of the settings file: beside the program when its folder is writable and not
// under a system prefix (/usr, /usr/local, /opt), else $XDG_CONFIG_HOME/flashwright/ (or
// ~/.config/flashwright/, created). The repositories' default follows the same folder.
// `baseName` names the file ("<baseName>.ini"); empty means the running program's own base name.
std::string DefaultSettingsPath(const std::string& baseName = {});

// Reads the settings file into Settings(), applying every range rule; opens the debug log when
// LogEnable is 1. A missing or unreadable file leaves the defaults (paths = program folder).
void LoadSetting();
// Rewrites the whole settings file from Settings(); skipped silently when it cannot be created.
void SaveSetting();
// The exact bytes SaveSetting writes (BOM, CR LF), for the CLI's `settings` command and tests.
std::string SettingsFileText();
// The lines of that text without the BOM and line ends; `log` writes the list entries to the log.
std::vector<std::string> SettingsLines(bool log);
// Parses settings text (the reader LoadSetting uses) into `out`, with every rule applied.
void ParseSettingsText(const std::string& text, SettingsRecord& out);

// The catalog-list routines LoadSetting calls. The catalog search installs its own; a null member
// means: plain append (add), nothing (removeDoubles, makeInternalList).
struct CatalogListHooks {
  void (*add)(UrlList& list, const std::string& name, const std::string& url) = nullptr;
  void (*removeDoubles)(UrlList& list) = nullptr;
  // Fills the summary list with the built-in catalogs (called after the list is cleared).
  void (*makeInternalList)(UrlList& summary) = nullptr;
};
void SetCatalogListHooks(const CatalogListHooks& hooks);

// A group another module keeps in the settings file. `lines` gives the group's lines, its
// "[Name]" header first; SaveSetting appends them when there is more than the header. `load`
// gets the whole file text ("" when there is none) each time LoadSetting has read it.
struct SettingsGroup {
  std::vector<std::string> (*lines)() = nullptr;
  void (*load)(const std::string& fileText) = nullptr;
};
// Registering the same pair again changes nothing.
void AddSettingsGroup(const SettingsGroup& group);

// Writes `lines` as a settings-style text file: BOM, empty first line, CR LF after every line.
// Returns false when the file cannot be created.
bool WriteIniLines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace fw
