// Downloads of the additional download lists: the update of the lists from the maker's web site
// (CheckAdditionalDownloadsThread) and the download of one entry into the Clover local repository
// (DLAdditionalDownloadsThread, which runs GetAdditionalDLThread).
//
// Entries come from files that anybody may have written, so an entry is refused before anything is
// fetched when its CATALOG would lead out of the repository or its URL names no plain file name,
// and a downloaded file is checked against the entry's MD5DIGEST (MD5 or SHA-1) when it has one.
#pragma once

#include <string>

#include "net/additional_dl.h"

namespace fw {

// The maker's web site: $FLASHWRIGHT_SITE_HOST when set ("http://127.0.0.1:8080"; a value without
// a scheme gets "https://"), else kDefaultMakerSite. No trailing "/".
std::string MakerSiteHost();
// The maker publishes no address of its own yet: a stand-in that answers nothing useful until the
// real one is filled in (or the variable above points elsewhere).
inline constexpr const char* kDefaultMakerSite = "https://flashwright-mivo.github.io";
inline constexpr const char* kDLListPath = "/files/AdditionalDL/DLList.ini";

// The status text of a transfer refused because another one holds the transfer record.
inline constexpr const char* kTransferBusyText =
    "Another download is running ... Wait until it has ended";

// Where an entry's file goes: `folder` (the repository plus the CATALOG levels, ending in "/")
// and `fileName` (the last component of the URL's path, without query or fragment).
struct AdditionalDLPlace {
  std::string folder;
  std::string fileName;
  std::string Path() const { return folder + fileName; }
};
// False, with the reason in *why, for an entry without a usable URL, whose CATALOG is absolute or
// climbs with "..", or whose file name is empty, ".", ".." or holds a "\".
bool PlanAdditionalDL(const AdditionalDLEntry& entry, const std::string& repository,
                      AdditionalDLPlace* place, std::string* why);

// The Download Center's update: fetches the maker's list and rebuilds AdditionalDL from
// "UserDL.ini" and that list; a failed fetch keeps the old list. The caller holds the transfer
// record (TryStartNetTransfer) and releases it afterwards. Returns 1 on success, else 0.
int CheckAdditionalDownloadsThread(int parameter);

// Downloads `entry` into the repository (setting CloverLocalRepository) with the busy flag held
// and "Cancel DL" on the main window's button 1, checks its digest, shows the summary box.
// Takes the transfer record itself (refused with kTransferBusyText while another transfer holds
// it). Returns 1 on success, else 0.
int DLAdditionalDownloadsThread(const AdditionalDLEntry& entry);

// The transfer itself, on the transfer record that the caller has taken; releases it at its end.
// Returns the engine's result code.
int GetAdditionalDLThread(const AdditionalDLEntry& entry);

}  // namespace fw
