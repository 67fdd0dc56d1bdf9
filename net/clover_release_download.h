// The release archive of revision CloverDLRev() ("Clover-" + rev + "-X64.iso.7z") downloaded
// from the project's release downloads into the work folder, with progress, cancel and resume.
//
//   if (StartGetCloverRevThread() == CloverDownloadStart::kStarted &&
//       WaitGetCloverRevThread(300000) && LastCloverDownload().code == kWebOk) ...
//
// The release address answers with a redirect to a signed address on another host that expires;
// every resume attempt asks the release address again (the engine re-sends the original URL and
// the transport follows the fresh redirect), never the expired target.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

inline constexpr int32_t kCloverArchiveChunk = 524288;

// The worker: downloads the archive, logs "iRetVal=" and clears flgNetThreadRunning. Returns the
// transfer's result code.
int GetCloverRevThread(int parameter);

enum class CloverDownloadStart {
  kStarted,
  kAlreadyRunning,  // a GetCloverRevThread worker runs already
  kCannotStart,     // another network worker holds the transfer record
};
// Takes flgNetThreadRunning and starts GetCloverRevThread on its worker.
CloverDownloadStart StartGetCloverRevThread();
// Waits for the worker at most `limitMs` on TheClock(). False on timeout: the worker is then told
// to stop at its next chunk (the caller has given up on it).
bool WaitGetCloverRevThread(int64_t limitMs);
// Waits for the worker without a limit (shutdown, tests).
void JoinGetCloverRevThread();

// What the last download left: its result code (1 = the file is complete) and the file.
struct CloverDownload {
  int code = 0;
  std::string file;
};
CloverDownload LastCloverDownload();

}  // namespace fw
