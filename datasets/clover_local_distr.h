// The local repository of Clover distributions (the folder CloverLocalRepository): its usable
// files, highest revision first, and the user's choice among them (TheCloverChoice()), which the
// format job installs when InstallDataSet is "Local".
//
// Usable files: data-set zips ("PK", with a root "boot" that names a Clover revision) and 7-Zip
// release archives ("7z"; revision from the name, Clover-5119-X64.iso.7z gives 5119).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// The archive the user chose (read by the format job when InstallDataSet is "Local").
struct CloverChoice {
  std::string CloverLocalSelectedName;  // full path of the archive ("" = none)
  std::string CloverLocalSelectedRev;   // revision text of that archive
};
CloverChoice& TheCloverChoice();

struct CloverLocalDistr {
  std::string FileName;  // inside the repository folder, no folder part
  int32_t Rev = 0;
};

// The list of the last scan.
std::vector<CloverLocalDistr> CloverLocalDistrs();

// The revision of a release archive's name: the second "-" field of the name without its last
// extension ("Clover-5119-X64.iso.7z" → 5119); 0 when that field does not start with a digit.
int32_t CloverArchiveRevisionOfName(const std::string& fileName);

// Rescans the repository. When it finds files, the choice becomes the lowest revision (until
// DisplayCloverLocalDistrRev replaces it with the file shown in list 25); when it finds none, the
// choice keeps its last value.
void FindCloverLocalDistr();
// Rescans and refills list 25 and text 80 of the Configuration window (while it is open), then
// DisplayCloverLocalDistrRev.
void RefreshCloverLocalDistrList(int parameter);
// The file shown in list 25 becomes the choice; text 80 shows its revision.
void DisplayCloverLocalDistrRev();

// The same on the module's worker (start-up scan; after "Local Repo" changed the folder). A
// request made while a scan runs is run after it.
void StartFindCloverLocalDistr();
void StartRefreshCloverLocalDistrList();
// Waits for the worker (shutdown, tests).
void JoinCloverLocalDistrWorker();

}  // namespace fw
