#include "app/models/download_center.h"

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/jobs.h"
#include "app/models/status_line.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
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

// 1 while an update of the Recovery HD list runs: it writes the list that Clear would empty.
std::atomic<int> recoveryUpdateRunning{0};

void Enable(int control, bool on) { TheUi().SetControlEnabled(W, control, on); }

void CloseDownloadCenter() {
  TheWindows().CloseWindow(W);
  TheWindows().SetWindowEnabled(kMainWindow, true);
}

void RefuseBesideTransfer(const std::string& button) {
  FW_LOG_MAIN("---> " + button +
              " refused: flgNetThreadRunning=" + std::to_string(flgNetThreadRunning.load()));
  ShowNote(kTransferBusyText, LastStatusPercent());
}

void Update() {
  FW_LOG_MAIN("---> Pressed #Button_DownloadCenterUpdate");
  const bool recovery = TheWindows().IsChecked(W, kRecoveryOption);
  if (!recovery && !TheWindows().IsChecked(W, kPackageOption)) return;
  const std::function<void(int)> check = TheJobs().CheckRecoveryHD;
  if (recovery && !check) return NotAvailable("Recovery HD search");
  // Neither update takes the transfer record itself: the window takes it for them.
  if (!TryStartNetTransfer()) return RefuseBesideTransfer("Update");
  if (recovery) recoveryUpdateRunning = 1;
  StartWorker([recovery, check] {
    if (recovery) {
      check(0);
    } else {
      CheckAdditionalDownloadsThread(0);
    }
    EndNetTransfer();
    if (recovery) recoveryUpdateRunning = 0;
  });
}

void Clear() {
  FW_LOG_MAIN("---> Pressed #Button_DownloadCenterClear");
  if (recoveryUpdateRunning != 0) {
    ShowNote(kRecoveryListBusyText, LastStatusPercent());
    return;
  }
  // The settings file stores the emptied list at its next save, so it stays empty next time.
  Settings().DownloadData.clear();
  TheUi().SetComboItems(W, kRecoveryList, {}, -1);
}

// The job for the selection of the chosen option; empty when nothing is selected.
std::function<void()> SelectedJob() {
  WindowHost& w = TheWindows();
  if (w.IsChecked(W, kRecoveryOption)) {
    const int i = w.ComboSelection(W, kRecoveryList);
    const auto& list = Settings().DownloadData;
    if (i < 0 || i >= static_cast<int>(list.size())) return {};
    const auto job = TheJobs().DLAndExtractHFSImageFromRecoveryHD;
    if (!job) {
      NotAvailable("Recovery HD download");
      return {};
    }
    return [job, entry = list[static_cast<size_t>(i)]] { job(entry); };
  }
  if (w.IsChecked(W, kPackageOption)) {
    const int i = w.ComboSelection(W, kPackageList);
    const std::vector<AdditionalDLEntry> list = AdditionalDL();
    if (i < 0 || i >= static_cast<int>(list.size())) return {};
    return [entry = list[static_cast<size_t>(i)]] {
      DLAdditionalDownloadsThread(entry);
      if (TheJobs().UpdateAllDrives) TheJobs().UpdateAllDrives();
    };
  }
  return {};
}

void Dl() {
  FW_LOG_MAIN("---> Pressed #Button_DownloadCenterDL");
  // Checked before the lists are read: a running update is what writes them.
  if (flgNetThreadRunning != 0) {
    RefuseBesideTransfer("DL");
  } else if (std::function<void()> job = SelectedJob()) {
    // Busy from the press on, so that no disk job starts before the download has begun.
    format_op_in_progress = 1;
    StartWorker([job] {
      ShowStatusFor(kDownloadStartedText, 1000);
      job();
    });
  } else {
    FW_LOG_MAIN("---> Nothing selected: nothing to download");
  }
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
  std::vector<std::string> names;
  for (const auto& [name, url] : Settings().DownloadData) {
    FW_LOG("Open_Window_DownloadCenter: added: " + name);
    names.push_back(name);
  }
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
