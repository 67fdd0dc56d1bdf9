// Fills the window job table with the program's jobs: the format job, backup and restore, the
// disk inventory and its drive tree, safe removal, disk-image files, the HFS image jobs and the
// catalog lists, HFS+ read support, the Clover revision check and local repository, the
// Download Center, and the data-set services they use.
#pragma once

namespace fw {

// Call once at start-up, before the main window's event loop runs.
void WireJobs();

}  // namespace fw
