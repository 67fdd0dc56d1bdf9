// The additional download lists: the maker's "DLList.ini" (fetched from the maker's web site) and
// the user's own "UserDL.ini" (current folder), loaded into one list, AdditionalDL, that the
// Download Center's list 32 shows row by row in list order.
//
// List format (read with the settings file's reader): one group per download, the group's name is
// the entry's name; keys are compared trimmed and in upper case, values are trimmed:
//   [SomeFileName]
//   URL=http://example.com/SomeFileName.zip   ; its last path component is the local file name
//   Size=47941                                ; bytes, shown in the list
//   Description=Some text without line feed
//   MD5Digest=...                             ; MD5 (32 hex digits) or SHA-1 (40), checked
//   PostDate=2022-09-22 20:24
//   Catalog=Drivers                           ; sub-folder of the Clover local repository
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct AdditionalDLEntry {
  uint8_t IsUser = 0;  // 1: from "UserDL.ini", 0: from the maker's list
  std::string Name;
  std::string Catalog;
  std::string Description;
  std::string MD5Digest;
  std::string URL;
  std::string Size;
  std::string PostDate;
  bool operator==(const AdditionalDLEntry&) const = default;
};

inline constexpr const char* kUserDLFile = "UserDL.ini";
// Names of the entries that head each loaded list (all other fields empty).
inline constexpr const char* kUserDLHeader = " -- User Downloads";
inline constexpr const char* kMakerDLHeader = " -- ZOR Additional Downloads";

// The entries of one list text: the list's header entry, then one entry per group in file order.
// Any bytes parse.
std::vector<AdditionalDLEntry> ParseAdditionalDLList(const std::string& text, int isUser);

// Appends the file's entries (header first) to AdditionalDL; a file that cannot be opened adds
// nothing. Returns the number of groups found.
int LoadAdditionalDLList(const std::string& file, int isUser);
// The same for a list `out` of the caller's: false when the file cannot be opened.
bool ReadAdditionalDLFile(const std::string& file, int isUser, std::vector<AdditionalDLEntry>* out);

// The process's list: a copy, since an update replaces it from a worker thread.
std::vector<AdditionalDLEntry> AdditionalDL();
void SetAdditionalDL(std::vector<AdditionalDLEntry> entries);
void ClearAdditionalDL();

// One row of list 32: Name + ": " + Description, with FormatSizeText(Size, 1) after the name when
// Size is not empty ("SomeFileName 46.8 KB: Some text").
std::string AdditionalDLRow(const AdditionalDLEntry& entry);
std::vector<std::string> AdditionalDLRows();
// Fills list 32 of the Download Center from AdditionalDL, selects the first row and widens the
// drop-down.
void SortAdditionalDLList();

}  // namespace fw
