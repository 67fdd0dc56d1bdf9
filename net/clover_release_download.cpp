#include "net/clover_release_download.h"

#include <atomic>
#include <mutex>

#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/work_folder.h"
#include "app/worker_slot.h"
#include "net/code_host.h"
#include "net/http_get.h"

namespace fw {
namespace {

WorkerSlot gWorker;
// Set when the waiting job gave up: the worker stops at its next chunk.
std::atomic<bool> gAbandoned{false};
std::mutex gResultMutex;
CloverDownload gResult;

}  // namespace

int GetCloverRevThread(int) {
  THTTP& r = TheHTTP();
  ClearHTTP(r);
  const std::string rev = CloverDLRev();
  r.URL = CloverReleaseArchiveUrl(rev);
  r.iDestination = kHttpToFile;
  r.BufferSize = kCloverArchiveChunk;
  r.iResumeAttemptsNumber = 0;
  r.iResumeMaxAttemptsNumber = static_cast<int32_t>(Settings().ResumeMaxAttemptsNumber);
  r.CallStart = MyCallStart;
  r.CallWorking = [](THTTP& record, int64_t received, int64_t total, int64_t seconds) {
    if (gAbandoned) return 0;
    return MyCallWorking(record, received, total, seconds);
  };
  r.CallEnd = MyCallEnd;
  r.FullFileName = ZorTempWorkDir() + CloverReleaseArchiveName(rev);
  const int code = HTTPGetFromWeb(r);
  FW_LOG("iRetVal=" + std::to_string(code));
  {
    std::lock_guard<std::mutex> lock(gResultMutex);
    gResult = {code, r.FullFileName};
  }
  EndNetTransfer();
  return code;
}

CloverDownloadStart StartGetCloverRevThread() {
  // A download that still holds the transfer record (one given up on, say) runs already.
  if (gWorker.Running() && flgNetThreadRunning != 0) {
    FW_LOG("Error: Thread GetCloverRevThread() running already");
    return CloverDownloadStart::kAlreadyRunning;
  }
  if (!TryStartNetTransfer()) {
    FW_LOG("Error: another download holds the transfer record; GetCloverRevThread() not started");
    return CloverDownloadStart::kCannotStart;
  }
  gWorker.Join();  // an earlier download that has given the record back is at its very end
  {
    std::lock_guard<std::mutex> lock(gResultMutex);
    gResult = {};
  }
  gAbandoned = false;
  FW_LOG("StartThread GetCloverRevThread()");
  gWorker.Start([] { GetCloverRevThread(kNoArgument); });
  return CloverDownloadStart::kStarted;
}

bool WaitGetCloverRevThread(int64_t limitMs) {
  if (gWorker.WaitFor(limitMs)) return true;
  gAbandoned = true;
  return false;
}

void JoinGetCloverRevThread() { gWorker.Join(); }

CloverDownload LastCloverDownload() {
  std::lock_guard<std::mutex> lock(gResultMutex);
  return gResult;
}

}  // namespace fw
