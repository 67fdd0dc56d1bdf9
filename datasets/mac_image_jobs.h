// The macOS image jobs as the windows start them: the DMG extraction (Tools menu item 4), and the
// Download Center's Recovery HD commands (update the list, download and extract an entry, clear).
// Each starter runs on the UI thread, returns at once and runs its job on a worker of the process
// (app/workers.h); a starter does nothing while another job runs (format_op_in_progress).
//
//   fw::RegisterMacImageJobs();     // at start-up, before LoadSetting: job table, catalog lists
#pragma once

#include <string>
#include <vector>

#include "net/recovery_hd_list.h"

namespace fw {

void StartExtractHFSFromDMG(int parameter);

// The Recovery HD list (the settings' "Download Data Settings") as the rows of list 31.
std::vector<std::string> RecoveryHDRows();
// Row `row` of that list as an entry: name, URL, and the size and digest the search cached.
// An entry with an empty URL when the row does not exist.
RecoveryHDEntry RecoveryHDEntryAt(int row);
// The Update command (option 73): CheckRecoveryHDThread on the worker. False when not started.
bool StartCheckRecoveryHD();
// The DL command (option 73): DLAndExtractHFSImageFromRecoveryHD for row `row`. False when not
// started (no such row, or a job runs).
bool StartDLAndExtractHFSImageFromRecoveryHD(int row);
// The Clear command: empties the Recovery HD list (saved as empty at the next SaveSetting).
void ClearRecoveryHDList();

// Fills the job table's StartExtractHFSFromDMG and the Download Center's Recovery HD entries, and
// makes LoadSetting build the catalog lists.
void RegisterMacImageJobs();

}  // namespace fw
