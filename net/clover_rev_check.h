// The Clover revision check: the newest revision from the project's release page, remembered with
// the time of the check in the settings (CloverLastRev, CloverLastRevCheckDate), offered for
// download (CloverDLRev) and shown in the main window's menu and the Configuration window.
//
//   CheckCloverLastRev();                      // "Check Now", start-up: on the check's worker
//   int code = RunCloverRevCheck(300000);      // the format job: on the caller's thread
//
// Today's release page no longer carries the asset names itself: it loads them from
// ".../releases/expanded_assets/<tag>" fragments. When the page names no package, the check
// fetches the fragments it links to (newest first, at most kExpandedAssetsFetched, one transfer
// at a time on the one transfer record) and reads those instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "net/http_get.h"

namespace fw {

// Result code of a check whose pages name no package.
inline constexpr int kCloverRevNotFound = 6;
inline constexpr size_t kExpandedAssetsFetched = 5;
inline constexpr const char* kCloverRevNotFoundText =
    "Not Found standart Clover archive distribution file:\r\nClover-NNNN-X64.iso.7z";

// Starts CheckCloverLastRevThread(1) on the check's worker when no network worker runs (it then
// holds flgNetThreadRunning); otherwise does nothing.
void CheckCloverLastRev();
// The check itself: the release page into memory (chunk 1 MiB, 10 resume attempts, no progress
// callbacks), the fragments when needed, then ParseCloverLastRev. A nonzero `clearFlag` clears
// flgNetThreadRunning at the end. Returns the check's result code (1: a revision was found).
int CheckCloverLastRevThread(int clearFlag);
// Reads the revisions out of record.MemoryBuffer (code 1) and shows the outcome: settings, menu
// entry, Configuration window, status line, or the error box (code 6). Returns 0.
int ParseCloverLastRev(THTTP& record, int code, int64_t received, int64_t size, int64_t seconds);
// The check on the caller's thread: waits up to `waitLimitMs` (on TheClock) for a running network
// worker to end, then runs CheckCloverLastRevThread(1). Returns its result code, or 0 when the
// transfer record did not come free in time or the user cancelled the wait.
int RunCloverRevCheck(int64_t waitLimitMs);
// The result code of the last check (0 before the first).
int LastCloverRevCheckResult();
// Waits for the check's worker (shutdown, tests).
void JoinCloverRevCheck();

// The revision list: the distinct revisions of the last successful check, newest first.
std::vector<int> KnownCloverRevisions();
// Start-up: a stored CloverLastRev joins the list when no check runs at start.
void AddKnownCloverRevision(int rev);

// The status text of a failed check (MyCallEnd's texts, except code 2 and 18, 21, 22).
std::string CloverCheckStatusText(const THTTP& record, int code);
// A time as CloverLastRevCheckDate keeps it: "%dd.%mm.%yy %hh:%ii" in local time.
std::string CloverCheckDateText(std::time_t when);

}  // namespace fw
