#include "app/models/download_center.h"

#include <functional>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/models/status_line.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/startup.h"
#include "app/ui.h"
#include "app/workers.h"
#include "net/additional_dl.h"
#include "net/additional_dl_get.h"
#include "net/http_get.h"

namespace fw {
namespace {

using namespace dlc_ctl;
constexpr int W = kDownloadCenterWindow;

void Enable(int control, bool on) { TheUi().SetControlEnabled(W, control, on); }

void CloseDownloadCenter() {
  TheWindows().CloseWindow(W);
  TheWindows().SetWindowEnabled(kMainWindow, true);
}

// One transfer record serves every download, and a job that has begun is not started twice.
bool RefusedBesideTransfer(const std::string& button) {
  if (flgNetThreadRunning == 0 && format_op_in_progress == 0) return false;
  FW_LOG_MAIN("---> " + button +
              " refused: flgNetThreadRunning=" + std::to_string(flgNetThreadRunning.load()) +
              " format_op_in_progress=" + std::to_string(format_op_in_progress.load()));
  ShowNote(kTransferBusyText, LastStatusPercent());
  return true;
}

std::vector<std::string> RecoveryHDRows() {
  const auto& rows = TheJobs().RecoveryHDRows;
  return rows ? rows() : std::vector<std::string>{};
}

void Update() {
  FW_LOG_MAIN("---> Pressed #Button_DownloadCenterUpdate");
  if (TheWindows().IsChecked(W, kRecoveryOption)) {
    const auto& start = TheJobs().StartCheckRecoveryHD;
    if (!start) return NotAvailable("Recovery HD search");
    // The search takes the transfer record itself and holds the busy flag while it runs.
    if (!RefusedBesideTransfer("Update") && !start()) RefusedBesideTransfer("Update");
  } else if (TheWindows().IsChecked(W, kPackageOption)) {
    // The list update does not take the transfer record itself: the window takes it for it.
    if (!TryStartNetTransfer()) {
      RefusedBesideTransfer("Update");
      return;
    }
    StartWorker([] {
      CheckAdditionalDownloadsThread(0);
      EndNetTransfer();
    });
  }
}

void Clear() {
  FW_LOG_MAIN("---> Pressed #Button_DownloadCenterClear");
  // A search that runs would put a new list in place of the emptied one.
  if (format_op_in_progress != 0) {
    ShowNote(kRecoveryListBusyText, LastStatusPercent());
    return;
  }
  // The settings file stores the emptied list at its next save, so it stays empty next time.
  if (TheJobs().ClearRecoveryHDList) TheJobs().ClearRecoveryHDList();
  TheUi().SetComboItems(W, kRecoveryList, {}, -1);
}

// Starts the download of the selection of the chosen option; false when nothing is selected.
bool StartSelectedDownload() {
  WindowHost& w = TheWindows();
  if (w.IsChecked(W, kRecoveryOption)) {
    const int row = w.ComboSelection(W, kRecoveryList);
    if (row < 0 || row >= static_cast<int>(RecoveryHDRows().size())) return false;
    const auto& start = TheJobs().StartDLAndExtractHFSImageFromRecoveryHD;
    if (!start) {
      NotAvailable("Recovery HD download");
      return false;
    }
    ShowNote(kDownloadStartedText, 0);
    return start(row);
  }
  if (w.IsChecked(W, kPackageOption)) {
    const int row = w.ComboSelection(W, kPackageList);
    const std::vector<AdditionalDLEntry> list = AdditionalDL();
    if (row < 0 || row >= static_cast<int>(list.size())) return false;
    ShowNote(kDownloadStartedText, 0);
    // Busy from the press on, so that no disk job starts before the download has begun.
    format_op_in_progress = 1;
    StartWorker([entry = list[static_cast<size_t>(row)]] { DLAdditionalDownloadsThread(entry); });
    return true;
  }
  return false;
}

void Dl() {
  FW_LOG_MAIN("---> Pressed #Button_DownloadCenterDL");
  // Checked before the lists are read: a running update is what writes them.
  if (!RefusedBesideTransfer("DL") && !StartSelectedDownload())
    FW_LOG_MAIN("---> Nothing selected: nothing to download");
  CloseDownloadCenter();
}

}  // namespace

void Open_Window_DownloadCenter() {
  WindowHost& w = TheWindows();
  if (w.IsWindowOpen(W)) {
    w.ActivateWindow(W);
    return;
  }
  w.OpenWindow(W);
  if (!w.IsWindowOpen(W)) {
    FW_LOG("Open_Window_DownloadCenter: the window could not be opened");
    return;
  }
  w.SetWindowEnabled(kMainWindow, false);
  const std::vector<std::string> names = RecoveryHDRows();
  for (const std::string& name : names) FW_LOG("Open_Window_DownloadCenter: added: " + name);
  TheUi().SetComboItems(W, kRecoveryList, names, static_cast<int>(names.size()) - 1);
  Enable(kRecoveryList, true);
  SetComboDropWidth(W, kRecoveryList);
  SortAdditionalDLList();
  Enable(kPackageList, false);
  Enable(kClear, true);
  w.SetChecked(W, kRecoveryOption, true);
}

void DownloadCenterControl(int control) {
  switch (control) {
    case kRecoveryOption:
      Enable(kPackageList, false);
      Enable(kRecoveryList, true);
      Enable(kClear, true);
      break;
    case kPackageOption:
      Enable(kPackageList, true);
      Enable(kRecoveryList, false);
      Enable(kClear, false);
      break;
    case kUpdate:
      Update();
      break;
    case kClear:
      Clear();
      break;
    case kDl:
      Dl();
      break;
    case kExit:
      CloseDownloadCenter();
      break;
    default:
      break;
  }
}

void RegisterDownloadCenter() {
  Jobs& jobs = TheJobs();
  jobs.OpenDownloadCenter = Open_Window_DownloadCenter;
  jobs.DownloadCenterEvent = [](const UiEvent& event) {
    if (event.kind == UiEventKind::Control) DownloadCenterControl(event.number);
  };
  Hooks().loadUserDownloadList = [] { LoadAdditionalDLList(kUserDLFile, 1); };
}

}  // namespace fw
