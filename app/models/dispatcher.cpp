#include "app/models/dispatcher.h"

#include <cctype>
#include <limits>

#include "app/globals.h"
#include "app/help_file.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/status_line.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/ui.h"
#include "net/code_host.h"

namespace fw {
namespace {

bool Busy() { return format_op_in_progress.load() == 1; }

// Calls a starter of the job table, or says that the job is missing.
template <typename F, typename... Args>
void Run(const F& starter, const std::string& what, Args... args) {
  if (starter) {
    starter(args...);
  } else {
    NotAvailable(what);
  }
}

void OpenLink(const std::string& url) {
  if (!TheWindows().OpenUrl(url)) FW_LOG_MAIN("Could not open " + url);
}

}  // namespace

void NotAvailable(const std::string& what) {
  FW_LOG_MAIN(what + " is not available in this build");
  ShowNote(what + " is not available in this build", 0);
}

void RefreshDriveTree() {
  Run(TheJobs().UpdateAllDrives, "Disk inventory");
  TheUi().DriveListChanged();
}

void OpenAboutWindow() {
  WindowHost& w = TheWindows();
  if (w.IsWindowOpen(kAboutWindow)) {
    w.ActivateWindow(kAboutWindow);
    return;
  }
  w.OpenWindow(kAboutWindow);
}

void Dispatcher::Handle(const UiEvent& event) {
  switch (event.kind) {
    case UiEventKind::Refresh:
      RefreshDriveTree();
      break;
    case UiEventKind::Control:
      if (event.window == kMainWindow) {
        MainControl(event.number);
      } else if (event.window == kConfigWindow) {
        ConfigControl(event.number);
      } else if (event.window == kAboutWindow) {
        if (event.number == about_ctl::kOk) Close(kAboutWindow);
      } else if (event.window == kDownloadCenterWindow) {
        if (TheJobs().DownloadCenterEvent) {
          TheJobs().DownloadCenterEvent(event);
        } else if (event.number == dlc_ctl::kExit) {
          TheWindows().CloseWindow(kDownloadCenterWindow);
          TheWindows().SetWindowEnabled(kMainWindow, true);
        }
      }
      break;
    case UiEventKind::Menu:
      Menu(event.number);
      break;
    case UiEventKind::MouseDown:
      MouseDown(event.window, event.number);
      break;
    case UiEventKind::Close:
      Close(event.window);
      break;
  }
}

void Dispatcher::MainControl(int control) {
  Jobs& jobs = TheJobs();
  switch (control) {
    case main_ctl::kDlCenter:
      FW_LOG_MAIN("---> Pressed #Button_Open_DownloadCenter");
      if (!Busy()) {
        FW_LOG_MAIN("---> format_op_in_progress=#False;  Open_Window_DownloadCenter()");
        Run(jobs.OpenDownloadCenter, "Download Center");
      } else if (TheUi().ControlText(kMainWindow, main_ctl::kDlCenter) == "Cancel DL") {
        CancelMainThread = 1;
        FW_LOG_MAIN("---> format_op_in_progress=$True; CancelMainThread=#True");
      }
      break;
    case main_ctl::kFormat:
      if (!Busy()) {
        FW_LOG_MAIN("#Button_Format pressed ================================");
        const SettingsRecord& s = Settings();
        const bool withDataSet = ((s.Boot_records == "Clover" || s.Boot_records == "Not_Format") &&
                                  s.InstallDataSet != "Not_Install") ||
                                 s.Boot_records == "FreeDos";
        Run(jobs.StartFormat, "Format", withDataSet ? 1 : 0);
      } else {
        FormatStatus = 1;
        CancelMainThread = 1;
      }
      break;
    case main_ctl::kBackup:
      if (!Busy()) {
        Run(jobs.StartBackUp, "Backup", 1);
      } else if (TheUi().ControlText(kMainWindow, main_ctl::kBackup) == "Backup Cancel") {
        CancelMainThread = 1;
      }
      break;
    case main_ctl::kRestore:
      if (!Busy()) {
        Run(jobs.StartRecover, "Restore", 1);
      } else if (TheUi().ControlText(kMainWindow, main_ctl::kRestore) == "Restore Cancel") {
        CancelMainThread = 1;
      }
      break;
    case main_ctl::kExit:
      if (!Busy()) quit_ = true;
      break;
    case main_ctl::kEject:
      if (!Busy()) {
        FW_LOG_MAIN("#Button_Eject pressed ================================");
        Run(jobs.RemoveSelectedDrive, "Eject");
        RefreshDriveTree();
      }
      break;
    case main_ctl::kRefresh:
      // The inventory keeps the selected disk when it is still there, and the tree shows it.
      if (!Busy()) RefreshDriveTree();
      break;
    case main_ctl::kDriveTree:
      // The user picked a row of the tree.
      if (jobs.SetCurrentDisk) jobs.SetCurrentDisk(TheWindows().SelectedDriveRow());
      break;
    default:
      break;
  }
}

void Dispatcher::Menu(int item) {
  Jobs& jobs = TheJobs();
  switch (item) {
    case menu_item::kConfiguration:
      if (!Busy()) OpenConfigWindow();
      break;
    case menu_item::kInstallHfs:
    case menu_item::kUnInstallHfs:
      if (!Busy()) {
        if (item == menu_item::kInstallHfs) {
          Run(jobs.InstallHFSDrivers, "HFS+ driver installation");
        } else {
          Run(jobs.UnInstallHFSDrivers, "HFS+ driver removal");
        }
        if (jobs.HFSDriversInstalled) {
          const bool installed = jobs.HFSDriversInstalled();
          TheWindows().SetMenuItemEnabled(menu_item::kInstallHfs, !installed);
          TheWindows().SetMenuItemEnabled(menu_item::kUnInstallHfs, installed);
        }
      }
      break;
    case menu_item::kExtractHfs:
      if (!Busy()) Run(jobs.StartExtractHFSFromDMG, "HFS extraction", 0);
      break;
    case menu_item::kHelp: {
      const std::string path = FindHelpFile(Program().folder);
      if (path.empty()) {
        MessageBox("Error", "Not found help file: " + HelpFileCandidates(Program().folder).front(),
                   MsgButtons::Ok, MsgIcon::Error);
      } else if (!TheWindows().OpenUrl("file://" + path)) {
        // The manual is there; what is missing is a program to show it.
        MessageBox("Error", "Cannot open help file: " + path + " (no program opens HTML files)",
                   MsgButtons::Ok, MsgIcon::Error);
      }
      break;
    }
    case menu_item::kCloverWiki:
      OpenLink(links::kCloverWiki);
      break;
    case menu_item::kCloudEditor:
      OpenLink(links::kCloudEditor);
      break;
    case menu_item::kAbout:
      OpenAboutWindow();
      break;
    case menu_item::kQuit:
      if (!Busy()) quit_ = true;
      break;
    case menu_item::kAttachImage:
      if (!Busy()) AttachImage();
      break;
    case menu_item::kNewImage:
      if (!Busy()) NewImage();
      break;
    default:
      break;
  }
}

void Dispatcher::AttachImage() {
  if (!TheJobs().AttachDiskImage) return NotAvailable("Disk images");
  const std::string path =
      TheUi().OpenFileChooser("Attach Disk Image", "",
                              {{"Disk Images (*.img *.bin *.raw *.iso)", "*.img *.bin *.raw *.iso"},
                               {"All Files (*)", "*"}});
  if (path.empty()) return;
  FW_LOG_MAIN("Attach disk image: " + path);
  if (TheJobs().AttachDiskImage(path)) RefreshDriveTree();
}

void Dispatcher::NewImage() {
  if (!TheJobs().CreateDiskImage) return NotAvailable("Disk images");
  const std::string path = TheUi().SaveFileChooser("New Disk Image", "flashwright.img",
                                                   {{"Disk Images (*.img)", "*.img"}});
  if (path.empty()) return;
  for (;;) {
    const std::string text = TheWindows().InputText(
        "New Disk Image", "Size of the new image (for example 512M, 8G):", "8G");
    if (text.empty()) return;
    const int64_t bytes = ParseNewImageSize(text);
    if (bytes < 0) {
      MessageBox("New Disk Image",
                 "\"" + text + "\" is not a size between 1M and 16T (for example 512M or 8G).",
                 MsgButtons::Ok, MsgIcon::Warning);
      continue;
    }
    FW_LOG_MAIN("New disk image: " + path + " bytes = " + std::to_string(bytes));
    if (TheJobs().CreateDiskImage(path, bytes)) RefreshDriveTree();
    return;
  }
}

void Dispatcher::MouseDown(int window, int control) {
  if (window == kMainWindow && control == main_ctl::kMakerLink) {
    FW_LOG_MAIN("MouseOver #HyperLink_Mivo");
    OpenLink(links::kMakerHome);
  } else if (window == kConfigWindow && control == cfg_ctl::kUpdateNews) {
    FW_LOG_MAIN("MouseOver #Hyperlink_Config_CloverLastRevInfo");
    OpenLink(CloverCommitsUrl());
  } else if (window == kAboutWindow) {
    switch (control) {
      case about_ctl::kCloverLink:
        FW_LOG_MAIN("MouseOver #HyperLink_Clover");
        OpenLink(CloverProjectUrl());
        break;
      case about_ctl::kWikiLink:
        FW_LOG_MAIN("MouseOver #HyperLink_CloverWiKi");
        OpenLink(links::kCloverWiki);
        break;
      case about_ctl::kForumLink:
        FW_LOG_MAIN("MouseOver #Hyperlink_Applelife");
        OpenLink(links::kCloverForum);
        break;
      case about_ctl::kDonateLink:
        FW_LOG_MAIN("MouseOver #Hyperlink_DonateWare");
        OpenLink(links::kDonate);
        break;
      default:
        break;
    }
  }
}

void Dispatcher::Close(int window) {
  WindowHost& w = TheWindows();
  switch (window) {
    case kMainWindow:
      // A disk write must never be cut off: the close box is refused like Exit and Quit.
      if (Busy()) {
        FW_LOG_MAIN("Close of the main window refused: a job is running");
        ShowNote("A job is running: cancel it or let it finish before closing",
                 LastStatusPercent());
      } else {
        quit_ = true;
      }
      break;
    case kAboutWindow:
      w.SetWindowEnabled(kMainWindow, true);
      w.ActivateWindow(kMainWindow);
      w.CloseWindow(kAboutWindow);
      break;
    case kConfigWindow:
      CloseConfigWindow();
      break;
    default:
      // The Download Center is closed by its own buttons only.
      break;
  }
}

int64_t LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  int64_t value = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

int64_t ParseNewImageSize(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
  const int64_t number = LeadingNumber(text);
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string unit;
  for (; i < text.size(); ++i) {
    if (text[i] != ' ')
      unit += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  }
  int shift = 0;
  if (unit.empty() || unit == "B") {
    shift = 0;
  } else if (unit == "K" || unit == "KB" || unit == "KIB") {
    shift = 10;
  } else if (unit == "M" || unit == "MB" || unit == "MIB") {
    shift = 20;
  } else if (unit == "G" || unit == "GB" || unit == "GIB") {
    shift = 30;
  } else if (unit == "T" || unit == "TB" || unit == "TIB") {
    shift = 40;
  } else {
    return -1;
  }
  constexpr int64_t kMin = int64_t{1} << 20, kMax = int64_t{16} << 40;
  if (number > (kMax >> shift)) return -1;
  int64_t bytes = number << shift;
  bytes = (bytes + 511) / 512 * 512;
  if (bytes < kMin || bytes > kMax) return -1;
  return bytes;
}

}  // namespace fw
