// Reading and writing the settings file. The reader is forgiving: any byte sequence loads, and
// whatever cannot be read as a valid value falls back to the key's default.
#include "app/settings.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/globals.h"
#include "app/ini_text.h"
#include "app/log.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

std::string settingsPath;
CatalogListHooks catalogHooks;
std::vector<SettingsGroup> extraGroups;

const char* const kCatalogExample =
    "; 10.16 seed = https://swscan.apple.com/content/catalogs/others/"
    "index-10.16seed-10.16-10.15-10.14-10.13-10.12-10.11-10.10-10.9-mountainlion-lion-"
    "snowleopard-leopard.merged-1.sucatalog";

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The leading decimal number of `text` (0 without digits); false when it does not fit 64 bits.
bool LeadingNumber(const std::string& text, int64_t& out) {
  size_t i = 0;
  while (i < text.size() && Blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t n = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (n > (limit - digit) / 10) return false;
    n = n * 10 + digit;
  }
  out = negative ? static_cast<int64_t>(0 - n) : static_cast<int64_t>(n);
  return true;
}

int64_t ReadInt(const IniText& ini, const char* group, const char* key, int64_t def) {
  const std::string* v = ini.Value(group, key);
  int64_t n = 0;
  if (!v || !LeadingNumber(*v, n)) return def;
  return n;
}

int ReadFlag(const IniText& ini, const char* group, const char* key, int def) {
  int64_t n = ReadInt(ini, group, key, def);
  return n == 0 || n == 1 ? static_cast<int>(n) : def;
}

std::string ReadText(const IniText& ini, const char* group, const char* key,
                     const std::string& def) {
  const std::string* v = ini.Value(group, key);
  return v ? *v : def;
}

std::string OneOf(const std::string& value, std::initializer_list<const char*> allowed,
                  const char* def) {
  for (const char* a : allowed)
    if (value == a) return value;
  return def;
}

// "%dd.%mm.%yy %hh:%ii" parsed and formatted back; "00.00.00 00:00" for text that is no such date.
std::string NormalizeCheckDate(const std::string& text) {
  int d, m, y, h, i;
  char tail;
  if (std::sscanf(text.c_str(), "%2d.%2d.%2d %2d:%2d%c", &d, &m, &y, &h, &i, &tail) != 5 || d < 1 ||
      d > 31 || m < 1 || m > 12 || y < 0 || h < 0 || h > 23 || i < 0 || i > 59)
    return "00.00.00 00:00";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%02d %02d:%02d", d, m, y, h, i);
  return buffer;
}

// A program installed under a system prefix keeps nothing beside itself: run as root, the
// "beside the program" rule would write into /usr/bin.
bool IsSystemProgramFolder(const std::string& folder) {
  for (const char* prefix : {"/usr/", "/opt/"})
    if (folder.rfind(prefix, 0) == 0) return true;
  return false;
}

// What the settings call the program folder: the program's own folder, or
// $XDG_CONFIG_HOME/flashwright/ (created) when the program is installed or its folder is not
// writable, so that neither the file nor the repositories land where they must not or cannot.
std::string ProgramFolder() {
  const std::string& own = Program().folder;
  if (!IsSystemProgramFolder(own) && FolderIsWritable(own)) return own;
  const std::string config = UserConfigFolder();
  if (config.empty()) return own;
  MakeFolder(config);
  const std::string folder = config + "/flashwright/";
  MakeFolder(folder);
  return folder;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

std::string RepositoryPath(const std::string& value) {
  std::string path = value;
  if (path == ".\\" || path == "./") path = ProgramFolder();
  if (!IsFolder(path)) path = ProgramFolder();
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

std::string SavedRepositoryPath(const std::string& path) {
  return path == ProgramFolder() ? ".\\" : path;
}

void AddUrl(UrlList& list, const std::string& name, const std::string& url) {
  if (catalogHooks.add)
    catalogHooks.add(list, name, url);
  else
    list.emplace_back(name, url);
}

std::string ReadWholeFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  std::ostringstream s;
  if (ok) s << in.rdbuf();
  return s.str();
}

}  // namespace

const std::string& SettingsPath() { return settingsPath; }
void SetSettingsPath(const std::string& path) { settingsPath = path; }
void SetCatalogListHooks(const CatalogListHooks& hooks) { catalogHooks = hooks; }
void AddSettingsGroup(const SettingsGroup& group) {
  for (const SettingsGroup& g : extraGroups)
    if (g.lines == group.lines && g.load == group.load) return;
  extraGroups.push_back(group);
}

std::string DefaultSettingsPath(const std::string& baseName) {
  const ProgramPaths& p = Program();
  std::string base = !baseName.empty() ? baseName : p.baseName.empty() ? "flashwright" : p.baseName;
  return ProgramFolder() + base + ".ini";
}

void ParseSettingsText(const std::string& text, SettingsRecord& s) {
  const IniText ini = ParseIni(text);
  const SettingsRecord d;  // the defaults
  s.WinX = ReadInt(ini, "Window Settings", "WinX", d.WinX);
  s.WinY = ReadInt(ini, "Window Settings", "WinY", d.WinY);
  const char* ds = "Data Settings";
  s.LogEnable = ReadFlag(ini, ds, "LogEnable", 0);
  s.InstallDataSet = OneOf(ReadText(ini, ds, "InstallDataSet", d.InstallDataSet),
                           {"Local", "DL", "Not_Install"}, "DL");
  s.CloverLastRev = ReadText(ini, ds, "CloverLastRev", d.CloverLastRev);
  int64_t rev = 0;
  if (!LeadingNumber(s.CloverLastRev, rev) || rev < 906 || rev > 99999) {
    s.CloverLastRev = "Check It!";
    s.CloverLastRevCheckDate = "00.00.00 00:00";
  } else {
    s.CloverLastRevCheckDate = NormalizeCheckDate(ReadText(ini, ds, "CloverLastRevCheckDate", ""));
    if (s.CloverLastRevCheckDate == "00.00.00 00:00") s.CloverLastRev = "Check It!";
  }
  s.CheckLatestCloverAtStartup = ReadFlag(ini, ds, "CheckLatestCloverAtStartup", 0);
  s.SaveLatestCloverAfterDL = ReadFlag(ini, ds, "SaveLatestCloverAfterDL", 0);
  s.CloverLocalRepository =
      RepositoryPath(ReadText(ini, ds, "CloverLocalRepository", ProgramFolder()));
  s.ZORImageLocalRepo = RepositoryPath(ReadText(ini, ds, "ZORImageLocalRepo", ProgramFolder()));
  s.VolumeLabel = ReadText(ini, ds, "VolumeLabel", d.VolumeLabel);
  s.Boot_records = OneOf(ReadText(ini, ds, "Boot_records", d.Boot_records),
                         {"Windows", "Clover", "FreeDos", "Not_Format"}, "Clover");
  s.FileSystem = OneOf(ReadText(ini, ds, "FileSystem", d.FileSystem),
                       {"FAT32", "FAT32-LBA", "NTFS", "exFAT", "UDF"}, "FAT32-LBA");
  s.ClusterSize = "0";
  s.StartLBASector = OneOf(ReadText(ini, ds, "StartLBASector", d.StartLBASector),
                           {"63", "2048", "4096", "8192"}, "63");
  s.QuickFormat = ReadFlag(ini, ds, "QuickFormat", 1);
  s.MultiPartitions = ReadFlag(ini, ds, "MultiPartitions", 1);
  s.BootPartitionSize = ReadInt(ini, ds, "BootPartitionSize", 200);
  if (s.BootPartitionSize < 32 || s.BootPartitionSize > 2000000) s.BootPartitionSize = 200;
  s.EnableFixedDisks = ReadFlag(ini, ds, "EnableFixedDisks", 0);
  const char* sc = "Sucatalog Check Setting";
  s.SearchOnlyNewestRevRecoveryHD = ReadFlag(ini, sc, "SearchOnlyNewestRevRecoveryHD", 1);
  s.UseInternalSucatalogUrlList = ReadInt(ini, sc, "UseInternalSucatalogUrlList", 1);
  s.ShowSucatalogSummaryURLList = ReadInt(ini, sc, "ShowSucatalogSummaryURLList", 0);
  if (s.UseInternalSucatalogUrlList != 0) {
    s.SummarySucatalogUrls.clear();
    if (catalogHooks.makeInternalList) catalogHooks.makeInternalList(s.SummarySucatalogUrls);
  }
  s.UserSucatalogUrls.clear();
  if (const IniText::Group* g = ini.Find("Sucatalog User Defined URL list")) {
    for (const auto& [k, v] : g->pairs) {
      AddUrl(s.UserSucatalogUrls, k, v);
      AddUrl(s.SummarySucatalogUrls, k, v);
    }
  }
  if (catalogHooks.removeDoubles) {
    catalogHooks.removeDoubles(s.UserSucatalogUrls);
    catalogHooks.removeDoubles(s.SummarySucatalogUrls);
  }
  s.ResumeMaxAttemptsNumber = ReadInt(ini, "Download Settings", "ResumeMaxAttemptsNumber", 9999);
  if (s.ResumeMaxAttemptsNumber > 9999 || s.ResumeMaxAttemptsNumber < 0)
    s.ResumeMaxAttemptsNumber = 9999;
  s.DownloadData.clear();
  if (const IniText::Group* g = ini.Find("Download Data Settings"))
    for (const auto& [k, v] : g->pairs) s.DownloadData.emplace_back(k, v);
}

void LoadSetting() {
  SettingsRecord& s = Settings();
  bool ok = false;
  std::string text = settingsPath.empty() ? "" : ReadWholeFile(settingsPath, ok);
  ParseSettingsText(ok ? text : "", s);
  if (s.LogEnable == 1 && !LogIsOpen()) OpenLog();
  auto n = [](int64_t v) { return std::to_string(v); };
  FW_LOG("LoadSetting: LogEnable=" + n(s.LogEnable));
  FW_LOG("LoadSetting: CheckLatestCloverAtStartup=" + n(s.CheckLatestCloverAtStartup));
  FW_LOG("LoadSetting: SaveLatestCloverAfterDL=" + n(s.SaveLatestCloverAfterDL));
  FW_LOG("LoadSetting: CloverLocalRepository$=" + s.CloverLocalRepository);
  FW_LOG("LoadSetting: ZORImageLocalRepo$=" + s.ZORImageLocalRepo);
  FW_LOG("LoadSetting: QuickFormat=" + n(s.QuickFormat));
  FW_LOG("LoadSetting: MultiPartitions=" + n(s.MultiPartitions));
  FW_LOG("LoadSetting: BootPartitionSize=" + n(s.BootPartitionSize));
  FW_LOG("LoadSetting: EnableFixedDisks=" + n(s.EnableFixedDisks));
  FW_LOG("LoadSetting: SearchOnlyNewestRevRecoveryHD=" + n(s.SearchOnlyNewestRevRecoveryHD));
  FW_LOG("LoadSetting: UseInternalSucatalogUrlList=" + n(s.UseInternalSucatalogUrlList));
  FW_LOG("LoadSetting: ShowSucatalogSummaryURLList=" + n(s.ShowSucatalogSummaryURLList));
  for (const auto& [k, v] : s.UserSucatalogUrls) FW_LOG("LoadSetting: " + k + ": " + v);
  FW_LOG("LoadSetting: iResumeMaxAttemptsNumber=" + n(s.ResumeMaxAttemptsNumber));
  for (const auto& [k, v] : s.DownloadData) FW_LOG("LoadSetting: " + k + ": " + v);
  for (const SettingsGroup& g : extraGroups)
    if (g.load) g.load(ok ? text : "");
}

std::vector<std::string> SettingsLines(bool log) {
  const SettingsRecord& s = Settings();
  const std::string rule = "; " + std::string(78, '-');
  auto n = [](int64_t v) { return std::to_string(v); };
  std::vector<std::string> l = {
      "[Application Info]",
      std::string("ApplicationName = ") + kProgramName,
      std::string("Version = ") + kVersionString,
      rule,
      "[Window Settings]",
      "WinX = " + n(s.WinX),
      "WinY = " + n(s.WinY),
      rule,
      "[Data Settings]",
      "; Enable Log File: 0 - #False|1 - #True",
      "LogEnable = " + n(s.LogEnable),
      "; InstallDataSet: Local|DL|Not_Install",
      "InstallDataSet = " + s.InstallDataSet,
      rule,
      "; CloverLastRev: Last Clover Revision",
      "CloverLastRev = " + s.CloverLastRev,
      "; CloverLastRevCheckDate: Last Check Clover Revision Date",
      "CloverLastRevCheckDate = " + s.CloverLastRevCheckDate,
      "; CheckLatestCloverAtStartup: 0 - #False|1 - #True",
      "CheckLatestCloverAtStartup = " + n(s.CheckLatestCloverAtStartup),
      "; SaveLatestCloverAfterDL: 0 - #False|1 - #True",
      "SaveLatestCloverAfterDL = " + n(s.SaveLatestCloverAfterDL),
      "; Clover Local Repository Path",
      "CloverLocalRepository = " + SavedRepositoryPath(s.CloverLocalRepository),
      "; Partition Backup ZOR-Image Files Local Repository Path",
      "ZORImageLocalRepo = " + SavedRepositoryPath(s.ZORImageLocalRepo),
      rule,
      "; VolumeLabel: 11 letters max",
      "VolumeLabel = " + s.VolumeLabel,
      "; Boot_records: Windows|Clover|FreeDos|Not_Format",
      "Boot_records = " + s.Boot_records,
      "; FileSystem: FAT32|FAT32-LBA|NTFS|exFAT|UDF",
      "FileSystem = " + s.FileSystem,
      "; ClusterSize: 0 - Default",
      "ClusterSize = " + s.ClusterSize,
      "; StartLBASector: 63|2048|4096| 63 - Default",
      "StartLBASector = " + s.StartLBASector,
      "; QuickFormat: 0 - #False|1 - #True",
      "QuickFormat = " + n(s.QuickFormat),
      "; MultiPartitions: 0 - #False|1 - #True",
      "MultiPartitions = " + n(s.MultiPartitions),
      "; BootPartitionSize: 32 - 2000000 MB | 64 - Default",
      "BootPartitionSize = " + n(s.BootPartitionSize),
      "; EnableFixedDisks: 0 - #False|1 - #True",
      "EnableFixedDisks = " + n(s.EnableFixedDisks),
      rule,
      "[Sucatalog Check Setting]",
      "; Search Only for the Newest Revisions of Recovery HD.",
      "; SearchOnlyNewestRevRecoveryHD: 0 - #False|1 - #True",
      "SearchOnlyNewestRevRecoveryHD = " + n(s.SearchOnlyNewestRevRecoveryHD),
      "; Use Internal Sucatalog Url List for search Recovery HD pkg.",
      "; UseInternalSucatalogUrlList: 0 - #False|1 - #True",
      "UseInternalSucatalogUrlList = " + n(s.UseInternalSucatalogUrlList),
      "; Save Summary Internal Sucatalog Url List to the section [Sucatalog Summary URL list].",
      "; ShowSucatalogSummaryURLList: 0 - #False|1 - #True",
      "ShowSucatalogSummaryURLList = " + n(s.ShowSucatalogSummaryURLList),
      "[Sucatalog Summary URL List]",
      "; Summary Sucatalog Url List will be saved here if ShowSucatalogSummaryURLList=1.",
  };
  if (s.ShowSucatalogSummaryURLList != 0) {
    for (const auto& [k, v] : s.SummarySucatalogUrls) {
      l.push_back(k + " = " + v);
      if (log) FW_LOGP("SaveSetting", "SaveSetting: " + k + ": " + v);
    }
  }
  l.push_back("[Sucatalog User Defined URL list]");
  l.push_back("; Additional User Defined Sucatalog Url List.");
  l.push_back(kCatalogExample);
  for (const auto& [k, v] : s.UserSucatalogUrls) {
    l.push_back(k + " = " + v);
    if (log) FW_LOGP("SaveSetting", "SaveSetting: " + k + ": " + v);
  }
  l.push_back(rule);
  l.push_back("[Download Settings]");
  l.push_back("; The maximum number of attempts to resume downloading files: 9999 - max value");
  l.push_back("ResumeMaxAttemptsNumber = " + n(s.ResumeMaxAttemptsNumber));
  l.push_back(rule);
  l.push_back("[Download Data Settings]");
  l.push_back("; Name of Recovery HD = URL for Download");
  for (const auto& [k, v] : s.DownloadData) {
    l.push_back(k + " = " + v);
    if (log) FW_LOGP("SaveSetting", "SaveSetting: " + k + " " + v);
  }
  l.push_back(rule);
  l.push_back("[Tools Data Settings]");
  l.push_back(rule);
  return l;
}

static std::string IniBytes(const std::vector<std::string>& lines) {
  std::string out = "\xEF\xBB\xBF\r\n";
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

std::string SettingsFileText() { return IniBytes(SettingsLines(false)); }

bool WriteIniLines(const std::string& path, const std::vector<std::string>& lines) {
  const std::string bytes = IniBytes(lines);
  // Write a sibling file and rename it over the old one, so that a crash or a full disk in the
  // middle never leaves a truncated settings file behind.
  const std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      if (out && RenameFile(tmp, path)) return true;
    }
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
  }
  // A folder we may not create files in may still hold a writable file.
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

void SaveSetting() {
  if (settingsPath.empty()) return;
  std::vector<std::string> lines = SettingsLines(true);
  for (const SettingsGroup& g : extraGroups) {
    if (!g.lines) continue;
    const std::vector<std::string> more = g.lines();
    if (more.size() > 1) lines.insert(lines.end(), more.begin(), more.end());
  }
  WriteIniLines(settingsPath, lines);
}

}  // namespace fw
