#include "datasets/mac_image_jobs.h"

#include <functional>
#include <mutex>

#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/workers.h"
#include "datasets/hfs_extraction.h"
#include "net/recovery_hd_download.h"
#include "net/recovery_hd_search.h"
#include "net/sucatalog_urls.h"

namespace fw {
namespace {

// Starts `job` on a worker unless a job runs. The busy flag is claimed here, on the UI thread, so
// that a second press cannot start a second job before the first one has begun.
bool StartJob(std::function<void()> job) {
  int idle = 0;
  if (!format_op_in_progress.compare_exchange_strong(idle, 1)) return false;
  StartWorker(std::move(job));
  return true;
}

}  // namespace

void StartExtractHFSFromDMG(int) {
  StartJob([] { ExtractHFSFromDMG(); });
}

std::vector<std::string> RecoveryHDRows() {
  const std::lock_guard<std::mutex> lock(RecoveryHDListMutex());
  std::vector<std::string> rows;
  for (const auto& entry : Settings().DownloadData) rows.push_back(entry.first);
  return rows;
}

RecoveryHDEntry RecoveryHDEntryAt(int row) {
  RecoveryHDEntry entry;
  {
    const std::lock_guard<std::mutex> lock(RecoveryHDListMutex());
    const UrlList& list = Settings().DownloadData;
    if (row < 0 || row >= static_cast<int>(list.size())) return {};
    entry.Name = list[static_cast<size_t>(row)].first;
    entry.URL = list[static_cast<size_t>(row)].second;
  }
  return WithCachedFacts(entry);
}

bool StartCheckRecoveryHD() {
  return StartJob([] { CheckRecoveryHDThread(0); });
}

bool StartDLAndExtractHFSImageFromRecoveryHD(int row) {
  const RecoveryHDEntry entry = RecoveryHDEntryAt(row);
  if (entry.URL.empty()) return false;
  return StartJob([entry] { DLAndExtractHFSImageFromRecoveryHD(entry); });
}

void ClearRecoveryHDList() {
  const std::lock_guard<std::mutex> lock(RecoveryHDListMutex());
  Settings().DownloadData.clear();
}

void RegisterMacImageJobs() {
  Jobs& jobs = TheJobs();
  jobs.StartExtractHFSFromDMG = StartExtractHFSFromDMG;
  jobs.RecoveryHDRows = RecoveryHDRows;
  jobs.StartCheckRecoveryHD = StartCheckRecoveryHD;
  jobs.StartDLAndExtractHFSImageFromRecoveryHD = StartDLAndExtractHFSImageFromRecoveryHD;
  jobs.ClearRecoveryHDList = ClearRecoveryHDList;
  RegisterSucatalogListHooks();
}

}  // namespace fw
