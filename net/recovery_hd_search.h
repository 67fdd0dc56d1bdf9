// The catalog search behind the Download Center's Update command: every catalog of the summary
// list is fetched and walked for Recovery HD packages, each package is completed with its build and
// macOS name, the list is reduced and saved as the settings' "Download Data Settings" (with the
// packages' sizes and digests in the cache beside the settings file).
//
//   fw::CheckRecoveryHDThread(0);          // worker body; also the CLI's recovery-list --update
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "net/recovery_hd_list.h"

namespace fw {

struct RecoveryHDSearchOutcome {
  int catalogs = 0;      // catalogs of the summary list
  int catalogsRead = 0;  // of those, fetched and parsed
  bool cancelled = false;
  bool busy = false;      // another transfer held the download engine: nothing was searched
  bool replaced = false;  // the Recovery HD list was replaced and saved
  RecoveryHDList list;    // the new list (when replaced)
};

// The search. Holds the download engine (flgNetThreadRunning) for its whole run and refuses to
// start beside another transfer. The list is replaced only when at least one catalog was read and
// the search was not cancelled: a search without network keeps the list the user has.
RecoveryHDSearchOutcome RunCheckRecoveryHD();
void CheckRecoveryHDThread(int parameter);

// Guards the Recovery HD list (Settings().DownloadData) between the search, which replaces it on
// its worker, and the windows that read or clear it on the UI thread.
std::mutex& RecoveryHDListMutex();

// Fetches `url` into memory (the catalogs' transfer settings) and decodes a gzip body; false when
// the transfer or the decoding failed.
bool FetchCatalogDocument(const std::string& url, const std::string& label, std::string* body);

}  // namespace fw
