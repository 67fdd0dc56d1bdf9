#include "net/clover_rev_check.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/worker_slot.h"
#include "net/clover_page.h"
#include "net/code_host.h"

namespace fw {
namespace {

constexpr int32_t kPageChunk = 1024 * 1024;
constexpr int32_t kPageResumeLimit = 10;
// The date of a successful check is shown in blue.
constexpr uint32_t kCheckDateColor = 0x0000FF;

std::mutex gListMutex;
std::vector<int> gRevisions;
std::atomic<int> gLastResult{0};
WorkerSlot gCheckWorker;

void SetRevisionList(std::vector<int> revisions) {
  std::lock_guard<std::mutex> lock(gListMutex);
  gRevisions = std::move(revisions);
}

// One memory transfer of `url` on the record, as the check makes them.
int FetchPage(THTTP& r, const std::string& url) {
  ClearHTTP(r);
  r.URL = url;
  r.iDestination = kHttpToMemory;
  r.BufferSize = kPageChunk;
  r.iResumeAttemptsNumber = 0;
  r.iResumeMaxAttemptsNumber = kPageResumeLimit;
  return HTTPGetFromWeb(r);
}

// The release page named no package: the fragments it links to, appended to `text`. Returns 1,
// or the code of a transfer failure that left nothing to read (a missing fragment, status 404
// and the like, is only skipped).
int AppendExpandedAssets(THTTP& r, const std::string& page, std::string* text, int64_t* received) {
  const std::vector<std::string> tags = FindExpandedAssetsTags(page, kExpandedAssetsFetched);
  FW_LOGP("CheckCloverLastRevThread",
          "No package on the release page; expanded assets linked: " + std::to_string(tags.size()));
  int failure = kWebOk;
  for (const std::string& tag : tags) {
    const std::string url = CloverExpandedAssetsUrl(tag);
    const int code = FetchPage(r, url);
    FW_LOGP("CheckCloverLastRevThread", url + " iHTTPRetVal=" + std::to_string(code));
    if (code == kWebOk) {
      text->append("\n").append(r.MemoryBuffer.begin(), r.MemoryBuffer.end());
      *received += r.iTotBytesRead;
      continue;
    }
    if (code == kWebHttpStatus) continue;
    // The connection itself failed: the next fragments would fail the same way.
    failure = code;
    break;
  }
  if (failure != kWebOk && FindCloverPackages(*text).nbFound == 0) return failure;
  return kWebOk;
}

}  // namespace

std::string CloverCheckDateText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%d.%m.%y %H:%M", &local);
  return buffer;
}

std::string CloverCheckStatusText(const THTTP& record, int code) {
  if (code == kWebBadParameters) return "Check procedure parameters";
  if (code > kWebBadParameters && code <= kWebReadFailed && code != kWebRangeHeader)
    return HttpResultText(record, code);
  return "Unexpected error = " + std::to_string(code);
}

std::vector<int> KnownCloverRevisions() {
  std::lock_guard<std::mutex> lock(gListMutex);
  return gRevisions;
}

void AddKnownCloverRevision(int rev) {
  std::lock_guard<std::mutex> lock(gListMutex);
  if (std::find(gRevisions.begin(), gRevisions.end(), rev) == gRevisions.end())
    gRevisions.push_back(rev);
}

int ParseCloverLastRev(THTTP& r, int code, int64_t received, int64_t size, int64_t seconds) {
  SettingsRecord& s = Settings();
  s.CloverLastRev = "0";
  FW_LOG("Set CloverLastRev$ = 0");
  FW_LOG("-> ParseCloverLastRev: iRetVal = " + std::to_string(code) +
         ", iHTTPRetVal=" + std::to_string(r.iHTTPRetVal) +
         ", iBytesReceived = " + std::to_string(received) + ", iSize = " + std::to_string(size) +
         ", iElapsedTime = " + std::to_string(seconds) + " sec");
  const bool configOpen = TheWindows().IsWindowOpen(kConfigWindow);
  std::string status;
  if (code == kWebOk) {
    const std::string_view text(r.MemoryBuffer.data(), r.MemoryBuffer.size());
    CloverPackageMatches found = FindCloverPackages(text);
    FW_LOG("NbFound = " + std::to_string(found.nbFound));
    if (found.revisions.empty()) {
      r.iHTTPRetVal = kCloverRevNotFound;
      MessageBox("Error", kCloverRevNotFoundText, MsgButtons::Ok, MsgIcon::Warning);
      FW_LOG(kCloverRevNotFoundText);
    } else {
      const std::vector<int> list(found.revisions.begin(), found.revisions.end());
      SetRevisionList(list);
      s.CloverLastRev = std::to_string(list.front());
      s.CloverLastRevCheckDate = CloverCheckDateText(std::time(nullptr));
      CloverDLRev() = s.CloverLastRev;
      FW_LOG("CloverLastRev = " + s.CloverLastRev);
      FW_LOG("CloverDLRev$ = " + CloverDLRev());
      status = "Found Latest Clover r" + s.CloverLastRev;
      if (TheUi().HasMainWindow()) {
        TheUi().SetControlText(kMainWindow, main_ctl::kLatestCloverTitle,
                               LatestCloverMenuTitle(s.CloverLastRev));
      }
      if (configOpen) {
        std::vector<std::string> items;
        for (int rev : list) items.push_back(std::to_string(rev));
        TheUi().SetComboItems(kConfigWindow, cfg_ctl::kRevisionList, items, 0);
        TheUi().SetControlEnabled(kConfigWindow, cfg_ctl::kRevisionList,
                                  TheWindows().IsChecked(kConfigWindow, cfg_ctl::kSourceDl));
        TheUi().SetControlText(kConfigWindow, cfg_ctl::kCheckNow, "r" + s.CloverLastRev);
        TheUi().SetControlText(kConfigWindow, cfg_ctl::kCheckDate, s.CloverLastRevCheckDate);
        TheUi().SetControlColor(kConfigWindow, cfg_ctl::kCheckDate, kCheckDateColor);
      }
    }
  } else {
    status = CloverCheckStatusText(r, code);
    SetRevisionList({});
    if (configOpen) {
      TheUi().SetComboItems(kConfigWindow, cfg_ctl::kRevisionList, {}, -1);
      TheUi().SetControlEnabled(kConfigWindow, cfg_ctl::kRevisionList, false);
    }
  }
  if (!status.empty()) FW_LOG(status);
  ShowStatusFor(status, 2000);
  return 0;
}

int CheckCloverLastRevThread(int clearFlag) {
  THTTP& r = TheHTTP();
  const int64_t startMs = TheClock().NowMs();
  int code = FetchPage(r, CloverReleasesUrl());
  int64_t received = r.iTotBytesRead;
  const int64_t size = r.AnnouncedFileSize;
  if (code == kWebOk) {
    std::string text(r.MemoryBuffer.begin(), r.MemoryBuffer.end());
    if (FindCloverPackages(text).nbFound == 0) {
      const std::string page = text;
      code = AppendExpandedAssets(r, page, &text, &received);
      r.iHTTPRetVal = code;
    }
    r.MemoryBuffer.assign(text.begin(), text.end());
  }
  ParseCloverLastRev(r, code, received, size, (TheClock().NowMs() - startMs) / 1000);
  const int result = r.iHTTPRetVal;
  r.MemoryBuffer.clear();
  r.MemoryBuffer.shrink_to_fit();
  gLastResult = result;
  if (clearFlag != 0) EndNetTransfer();
  FW_LOG("CheckCloverLastRevThread: tHTTP\\iHTTPRetVal=" + std::to_string(result));
  return result;
}

void CheckCloverLastRev() {
  if (!TryStartNetTransfer()) return;
  FW_LOG("StartThread flgNetThreadRunning=" + std::to_string(flgNetThreadRunning.load()) +
         "  CheckCloverLastRevThread(1)");
  gCheckWorker.Join();  // an earlier check that has given the record back is at its very end
  gCheckWorker.Start([] { CheckCloverLastRevThread(1); });
}

int RunCloverRevCheck(int64_t waitLimitMs) {
  const int64_t start = TheClock().NowMs();
  while (!TryStartNetTransfer()) {
    if (CancelMainThread != 0 || TheClock().NowMs() - start >= waitLimitMs) {
      FW_LOG("RunCloverRevCheck: another network transfer holds the transfer record");
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return CheckCloverLastRevThread(1);
}

int LastCloverRevCheckResult() { return gLastResult; }

void JoinCloverRevCheck() { gCheckWorker.Join(); }

}  // namespace fw
