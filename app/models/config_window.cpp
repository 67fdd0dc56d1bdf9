// The Configuration window's rules: what it shows when it opens and what each of its controls
// changes in the settings (the file is written when the window closes).
#include <filesystem>
#include <string>
#include <vector>

#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/text.h"
#include "app/ui.h"

namespace fw {
namespace {

using namespace cfg_ctl;
constexpr int W = kConfigWindow;
constexpr size_t kLabelCharacters = 11;

void Enable(int control, bool on) { TheUi().SetControlEnabled(W, control, on); }
void EnableAll(std::initializer_list<int> controls, bool on) {
  for (int c : controls) Enable(c, on);
}

bool HasLocalDistrs() { return TheJobs().LocalDistrCount && TheJobs().LocalDistrCount() > 0; }
std::vector<int> Revisions() {
  return TheJobs().KnownCloverRevisions ? TheJobs().KnownCloverRevisions() : std::vector<int>{};
}

int IndexOf(const std::vector<std::string>& items, const std::string& text, int fallback) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return static_cast<int>(i);
  }
  return fallback;
}

std::string SelectedText(int control) {
  const std::vector<std::string> items = TheWindows().ComboItems(W, control);
  const int index = TheWindows().ComboSelection(W, control);
  if (index < 0 || index >= static_cast<int>(items.size())) return "";
  return items[index];
}

// Moves a list back from its caption item onto `value`; returns the text now selected.
std::string SnapFromCaption(int control, const std::string& value) {
  const std::vector<std::string> items = TheWindows().ComboItems(W, control);
  if (TheWindows().ComboSelection(W, control) <= 0) {
    TheWindows().SelectComboItem(W, control, IndexOf(items, value, 1));
    return value;
  }
  return SelectedText(control);
}

void ApplyFormatOptionsEnabled(bool formatting) {
  EnableAll({kVolumeLabel, kFileSystemList, kClusterList, kAlignList, kMultiPartitions},
            formatting);
  Enable(kPartitionSize, formatting && TheWindows().IsChecked(W, kMultiPartitions));
}

void SetInstallDataSet(const std::string& value) {
  Settings().InstallDataSet = value;
  FW_LOG_MAIN("InstallDataSet$=" + value);
}

void SetBootRecords(const std::string& value) {
  Settings().Boot_records = value;
  FW_LOG_MAIN("Boot_records$=" + value);
  ApplyFormatOptionsEnabled(value != "Not_Format");
}

// True when the user chose an existing folder, which then becomes the setting (ending in "/").
bool ChooseFolder(const std::string& title, std::string& setting) {
  std::string path = TheUi().FolderChooser(title, setting);
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_directory(path, ec)) return false;
  if (path.back() != '/') path += '/';
  setting = path;
  return true;
}

}  // namespace

void OpenConfigWindow() {
  WindowHost& w = TheWindows();
  const SettingsRecord& s = Settings();
  if (w.IsWindowOpen(W)) {
    w.ActivateWindow(W);
    return;
  }
  w.OpenWindow(W);
  w.SetWindowEnabled(kMainWindow, false);

  // 1. Data-set source.
  const std::vector<int> revisions = Revisions();
  if (s.InstallDataSet == "Local") {
    w.SetChecked(W, kSourceLocal, true);
    Enable(kRevisionList, false);
    EnableAll({kLocalDistrList, kLocalDistrRev}, true);
  } else if (s.InstallDataSet == "Not_Install") {
    w.SetChecked(W, kSourceNone, true);
    EnableAll({kRevisionList, kLocalDistrList, kLocalDistrRev}, false);
  } else {
    w.SetChecked(W, kSourceDl, true);
    EnableAll({kLocalDistrList, kLocalDistrRev}, false);
    Enable(kRevisionList, !revisions.empty());
  }
  // 2. Known revisions.
  if (!revisions.empty()) {
    std::vector<std::string> items;
    for (int rev : revisions) items.push_back(std::to_string(rev));
    TheUi().SetComboItems(W, kRevisionList, items, 0);
    Enable(kRevisionList, w.IsChecked(W, kSourceDl));
  }
  // 3. Check date and the two check boxes.
  TheUi().SetControlText(W, kCheckDate,
                         s.CloverLastRev == "Check It!" ? "Check It!" : s.CloverLastRevCheckDate);
  w.SetChecked(W, kCheckAtStartup, s.CheckLatestCloverAtStartup != 0);
  w.SetChecked(W, kMakeDistr, s.SaveLatestCloverAfterDL != 0);
  // 4. Boot records.
  const bool formatting = s.Boot_records != "Not_Format";
  if (s.Boot_records == "Windows") {
    w.SetChecked(W, kBootWindows, true);
  } else if (s.Boot_records == "FreeDos") {
    w.SetChecked(W, kBootFreeDos, true);
  } else if (s.Boot_records == "Not_Format") {
    w.SetChecked(W, kBootNone, true);
  } else {
    w.SetChecked(W, kBootClover, true);
  }
  // 5. Label and the three lists.
  TheUi().SetControlText(W, kVolumeLabel, CutToCharacters(s.VolumeLabel, kLabelCharacters));
  const WindowModel model = ConfigWindowModel();
  w.SelectComboItem(W, kFileSystemList,
                    IndexOf(model.Find(kFileSystemList)->items, s.FileSystem, 2));
  w.SelectComboItem(W, kClusterList, 1);
  w.SelectComboItem(W, kAlignList, IndexOf(model.Find(kAlignList)->items, s.StartLBASector, 1));
  // 6. Partitioning.
  w.SetChecked(W, kMultiPartitions, s.MultiPartitions != 0);
  TheUi().SetControlText(W, kPartitionSize, std::to_string(s.BootPartitionSize));
  ApplyFormatOptionsEnabled(formatting);
  // 7. Fixed disks.
  w.SetChecked(W, kFixedDisks, s.EnableFixedDisks != 0);
  // 8. Local data sets.
  if (TheJobs().RefreshCloverLocalDistrList) TheJobs().RefreshCloverLocalDistrList(-65535);
  w.SetComboDropWidth(W, kLocalDistrList);
}

void CloseConfigWindow() {
  WindowHost& w = TheWindows();
  w.SetWindowEnabled(kMainWindow, true);
  w.ActivateWindow(kMainWindow);
  w.CloseWindow(W);
  if (TheJobs().SaveSetting) {
    TheJobs().SaveSetting();
  } else {
    FW_LOG_MAIN("Settings cannot be saved in this build");
  }
}

void ConfigControl(int control) {
  SettingsRecord& s = Settings();
  WindowHost& w = TheWindows();
  switch (control) {
    case kSourceLocal:
      SetInstallDataSet("Local");
      EnableAll({kLocalDistrList, kLocalDistrRev}, HasLocalDistrs());
      Enable(kRevisionList, false);
      break;
    case kSourceDl:
      SetInstallDataSet("DL");
      Enable(kRevisionList, !Revisions().empty());
      EnableAll({kLocalDistrList, kLocalDistrRev}, false);
      break;
    case kSourceNone:
      SetInstallDataSet("Not_Install");
      EnableAll({kLocalDistrList, kRevisionList}, false);
      break;
    case kBootClover:
      SetBootRecords("Clover");
      break;
    case kBootWindows:
      SetBootRecords("Windows");
      break;
    case kBootFreeDos:
      SetBootRecords("FreeDos");
      break;
    case kBootNone:
      SetBootRecords("Not_Format");
      break;
    case kVolumeLabel:
      // Whole characters, as many as a label holds; whether the file system takes them is the
      // format job's question, asked before anything is written.
      s.VolumeLabel = CutToCharacters(TheUi().ControlText(W, kVolumeLabel), kLabelCharacters);
      FW_LOG_MAIN("VolumeLabel$=" + s.VolumeLabel);
      break;
    case kPartitionSize: {
      const int64_t value = LeadingNumber(TheUi().ControlText(W, kPartitionSize));
      s.BootPartitionSize = (value < 32 || value > 2000000) ? 64 : value;
      FW_LOG_MAIN("BootPartitionSize = " + std::to_string(s.BootPartitionSize));
      break;
    }
    case kFileSystemList: {
      const std::string text = SnapFromCaption(kFileSystemList, "FAT32-LBA");
      if (text == "FAT32" || text == "FAT32-LBA" || text == "NTFS" || text == "exFAT" ||
          text == "UDF") {
        s.FileSystem = text;
      }
      FW_LOG_MAIN("FileSystem$=" + s.FileSystem);
      break;
    }
    case kClusterList:
      SnapFromCaption(kClusterList, "Default");
      s.ClusterSize = "0";
      FW_LOG_MAIN("ClusterSize$=" + s.ClusterSize);
      break;
    case kAlignList: {
      // The caption is no alignment: the list and the setting both go back to 63.
      const std::string text = SnapFromCaption(kAlignList, "63");
      if (text == "63" || text == "2048" || text == "4096" || text == "8192") {
        s.StartLBASector = text;
      }
      FW_LOG_MAIN("StartLBA$=" + s.StartLBASector);
      break;
    }
    case kMultiPartitions:
      s.MultiPartitions = w.IsChecked(W, kMultiPartitions) ? 1 : 0;
      Enable(kPartitionSize, s.MultiPartitions == 1);
      FW_LOG_MAIN("MultiPartitions=" + std::to_string(s.MultiPartitions));
      break;
    case kCheckAtStartup:
      s.CheckLatestCloverAtStartup = w.IsChecked(W, kCheckAtStartup) ? 1 : 0;
      FW_LOG_MAIN("CheckLatestCloverAtStartup=" + std::to_string(s.CheckLatestCloverAtStartup));
      break;
    case kMakeDistr:
      s.SaveLatestCloverAfterDL = w.IsChecked(W, kMakeDistr) ? 1 : 0;
      FW_LOG_MAIN("SaveLatestCloverAfterDL=" + std::to_string(s.SaveLatestCloverAfterDL));
      break;
    case kFixedDisks:
      s.EnableFixedDisks = w.IsChecked(W, kFixedDisks) ? 1 : 0;
      FW_LOG_MAIN("EnableFixedDisks=" + std::to_string(s.EnableFixedDisks));
      RefreshDriveTree();
      break;
    case kCheckNow:
      if (TheJobs().CheckCloverLastRev) {
        TheJobs().CheckCloverLastRev(1);
      } else {
        // In a box over this window: the main window's status line is hidden behind it.
        MessageBox("Information", "Clover revision check is not available in this build",
                   MsgButtons::Ok, MsgIcon::Information);
      }
      break;
    case kCloverRepo:
      if (ChooseFolder("Select Clover Local Repository Path:", s.CloverLocalRepository)) {
        FW_LOG_MAIN("Set Clover Local Repo = " + s.CloverLocalRepository);
        if (TheJobs().StartRefreshCloverLocalDistrList) {
          TheJobs().StartRefreshCloverLocalDistrList(-65535);
        }
      }
      break;
    case kImageRepo:
      if (ChooseFolder("Select ZORImage files Local Repository Path:", s.ZORImageLocalRepo)) {
        FW_LOG_MAIN("Set ZORImage Local Repo = " + s.ZORImageLocalRepo);
      }
      break;
    case kLocalDistrList:
      if (TheJobs().DisplayCloverLocalDistrRev) TheJobs().DisplayCloverLocalDistrRev();
      break;
    case kRevisionList: {
      const std::string text = SelectedText(kRevisionList);
      if (!text.empty()) CloverDLRev() = text;
      break;
    }
    case kOk:
      CloseConfigWindow();
      break;
    default:
      break;
  }
}

}  // namespace fw
