// The Download Center (window 2): what opening it sets up, its control events, and the workers
// that its Update and DL buttons start. The Recovery HD side reaches the catalog search and the
// Recovery HD download through the job table (Jobs::StartCheckRecoveryHD and
// Jobs::StartDLAndExtractHFSImageFromRecoveryHD); the other side runs the additional download
// lists.
//
// One transfer record serves every download, so Update and DL are refused with a status text while
// another transfer holds it (a revision check started at start-up, an update still running).
#pragma once

namespace fw {

// Opens the window (control 1 of the main window, when no job runs).
void Open_Window_DownloadCenter();
// A control event of window 2.
void DownloadCenterControl(int control);

// Fills the job table's Download Center entries and the start-up step that loads "UserDL.ini".
// The workers it starts are the process's (app/workers.h), ended with the others at exit.
void RegisterDownloadCenter();

// Status texts of the window.
inline constexpr const char* kDownloadStartedText = "Download started  ... Wait Please";
inline constexpr const char* kRecoveryListBusyText =
    "Update RecoveryHD List ... running: Clear when it has ended";

}  // namespace fw
