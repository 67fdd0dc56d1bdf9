#include "datasets/clover_local_distr.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>

#include "app/log.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/worker_slot.h"
#include "datasets/data_zip.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using namespace cfg_ctl;

std::mutex gListMutex;
std::vector<CloverLocalDistr> gDistrs;
// One scan at a time: the start-up scan and the window's refresh may overlap.
std::mutex gScanMutex;

// The worker runs the requested scans until none is left, so a request made while it runs (the
// repository changed during the start-up scan) is not lost.
enum Scan { kNone = 0, kFind = 1, kRefresh = 2 };
WorkerSlot gWorker;
std::mutex gRequestMutex;
int gRequested = kNone;
bool gWorkerBusy = false;

void RunRequestedScans() {
  for (;;) {
    int scan;
    {
      std::lock_guard<std::mutex> lock(gRequestMutex);
      scan = gRequested;
      gRequested = kNone;
      if (scan == kNone) {
        gWorkerBusy = false;
        return;
      }
    }
    if (scan == kRefresh) {
      RefreshCloverLocalDistrList(-65535);
    } else {
      FindCloverLocalDistr();
    }
  }
}

void RequestScan(int scan) {
  {
    std::lock_guard<std::mutex> lock(gRequestMutex);
    gRequested = std::max(gRequested, scan);  // a refresh includes the plain scan
    if (gWorkerBusy) return;
    gWorkerBusy = true;
  }
  // The last worker has left its loop; at most its final instructions remain.
  gWorker.Join();
  gWorker.Start(RunRequestedScans);
}

std::string LowerExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string InRepository(const std::string& repository, const std::string& fileName) {
  return (fs::path(repository) / fileName).string();
}

bool ConfigWindowOpen() { return TheWindows().IsWindowOpen(kConfigWindow); }

std::string ShownLocalDistr() {
  const std::vector<std::string> items = TheWindows().ComboItems(kConfigWindow, kLocalDistrList);
  const int index = TheWindows().ComboSelection(kConfigWindow, kLocalDistrList);
  return index >= 0 && index < static_cast<int>(items.size()) ? items[index] : "";
}

}  // namespace

CloverChoice& TheCloverChoice() {
  static CloverChoice choice;
  return choice;
}

std::vector<CloverLocalDistr> CloverLocalDistrs() {
  std::lock_guard<std::mutex> lock(gListMutex);
  return gDistrs;
}

int32_t CloverArchiveRevisionOfName(const std::string& fileName) {
  std::string stem = fs::path(fileName).filename().string();
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.erase(dot);
  const size_t first = stem.find('-');
  if (first == std::string::npos) return 0;
  int64_t value = 0;
  for (size_t i = first + 1; i < stem.size() && std::isdigit(static_cast<unsigned char>(stem[i]));
       ++i) {
    value = value * 10 + (stem[i] - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

void FindCloverLocalDistr() {
  std::lock_guard<std::mutex> scan(gScanMutex);
  const std::string repository = Settings().CloverLocalRepository;
  std::vector<CloverLocalDistr> found;
  std::error_code ec;
  for (fs::directory_iterator it(repository, ec), end; !repository.empty() && !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::string name = it->path().filename().string();
    const std::string path = it->path().string();
    const std::string ext = LowerExtension(name);
    int32_t rev = 0;
    if (ext == "zip") {
      if (Validate7zZIPFile(path) == 0 || (rev = TestDataZip(path)) == 0) continue;
    } else if (ext == "7z") {
      if (Validate7zZIPFile(path) == 0) continue;
      rev = CloverArchiveRevisionOfName(name);
    } else {
      continue;
    }
    FW_LOG("FindCloverLocalDistr --> " + name + " (Rev." + std::to_string(rev) + ")");
    found.push_back({name, rev});
  }
  // Highest revision first; equal revisions in name order, so that the list does not depend on
  // the order the folder happens to list its files in.
  std::sort(found.begin(), found.end(), [](const CloverLocalDistr& a, const CloverLocalDistr& b) {
    return a.Rev != b.Rev ? a.Rev > b.Rev : a.FileName < b.FileName;
  });
  {
    std::lock_guard<std::mutex> lock(gListMutex);
    gDistrs = found;
  }
  if (!found.empty()) {
    CloverChoice& choice = TheCloverChoice();
    choice.CloverLocalSelectedName = InRepository(repository, found.back().FileName);
    choice.CloverLocalSelectedRev = std::to_string(found.back().Rev);
  }
}

void RefreshCloverLocalDistrList(int) {
  const bool open = ConfigWindowOpen();
  if (open) {
    TheUi().SetControlText(kConfigWindow, kLocalDistrRev, "Wait ...");
    TheUi().SetComboItems(kConfigWindow, kLocalDistrList, {}, -1);
  }
  FindCloverLocalDistr();
  if (!open || !ConfigWindowOpen()) return;
  const std::vector<CloverLocalDistr> list = CloverLocalDistrs();
  if (!list.empty()) {
    std::vector<std::string> names;
    for (const CloverLocalDistr& d : list) names.push_back(d.FileName);
    TheUi().SetComboItems(kConfigWindow, kLocalDistrList, names, 0);
    const bool local = TheWindows().IsChecked(kConfigWindow, kSourceLocal);
    TheUi().SetControlEnabled(kConfigWindow, kLocalDistrList, local);
    TheUi().SetControlEnabled(kConfigWindow, kLocalDistrRev, local);
  } else {
    TheUi().SetControlText(kConfigWindow, kLocalDistrRev, "Not Found");
    TheUi().SetControlEnabled(kConfigWindow, kLocalDistrList, false);
    TheUi().SetControlEnabled(kConfigWindow, kLocalDistrRev, false);
  }
  DisplayCloverLocalDistrRev();
}

void DisplayCloverLocalDistrRev() {
  if (!ConfigWindowOpen()) return;
  const std::string shown = ShownLocalDistr();
  const std::vector<CloverLocalDistr> list = CloverLocalDistrs();
  const auto it = std::find_if(list.begin(), list.end(),
                               [&](const CloverLocalDistr& d) { return d.FileName == shown; });
  if (it == list.end()) return;
  const std::string rev = std::to_string(it->Rev);
  TheUi().SetControlText(kConfigWindow, kLocalDistrRev, "Rev: " + rev);
  FW_LOG("SetGadgetText(#Text_CloverFoundLocalDistrRev, Rev: " + rev);
  CloverChoice& choice = TheCloverChoice();
  choice.CloverLocalSelectedName = InRepository(Settings().CloverLocalRepository, it->FileName);
  choice.CloverLocalSelectedRev = rev;
}

void StartFindCloverLocalDistr() { RequestScan(kFind); }

void StartRefreshCloverLocalDistrList() { RequestScan(kRefresh); }

void JoinCloverLocalDistrWorker() { gWorker.Join(); }

}  // namespace fw
