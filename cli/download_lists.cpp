// flashwright-cli dl-list [--update] and dl-get N|NAME: the additional download lists as the
// Download Center's list 32 shows them (the user's "UserDL.ini" from the current folder first,
// the maker's list after an update), and the download of one entry into the Clover local
// repository. Ctrl+C cancels the download and removes its partial file.
#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "net/additional_dl.h"
#include "net/additional_dl_get.h"
#include "net/http_get.h"

namespace fw::cli {
namespace {

// AdditionalDL from "UserDL.ini", then, when asked, with the maker's list fetched behind it.
// False when the maker's list was asked for and could not be had (the user's list stays).
bool LoadLists(bool withMakersList) {
  ClearAdditionalDL();
  LoadAdditionalDLList(kUserDLFile, 1);
  if (!withMakersList) return true;
  if (!TryStartNetTransfer()) return false;
  const int fetched = CheckAdditionalDownloadsThread(0);
  EndNetTransfer();
  return fetched == 1;
}

bool IsNumber(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// The row numbered `key` (from 1) or the first download named `key`; false when there is none.
bool FindEntry(const std::string& key, AdditionalDLEntry* found) {
  const std::vector<AdditionalDLEntry> list = AdditionalDL();
  if (IsNumber(key)) {
    int64_t n = 0;
    if (!ParseInt(key, 1, static_cast<int64_t>(list.size()), &n)) return false;
    *found = list[static_cast<size_t>(n - 1)];
    return true;
  }
  for (const AdditionalDLEntry& e : list) {
    if (e.Name == key && !e.URL.empty()) {
      *found = e;
      return true;
    }
  }
  return false;
}

int DlListCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  bool update = false;
  for (const std::string& a : args) {
    if (a != "--update") return Fail(kExitUsage, "unexpected argument " + a + " (see --help)");
    update = true;
  }
  const bool loaded = LoadLists(update);
  const std::vector<std::string> rows = AdditionalDLRows();
  for (size_t i = 0; i < rows.size(); ++i) std::cout << i + 1 << ". " << rows[i] << "\n";
  if (!loaded) return Fail(kExitFailure, "the maker's download list could not be fetched");
  return kExitOk;
}

int DlGetCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail(kExitUsage, "dl-get needs one row number or entry name");
  const std::string& key = args[0];
  AdditionalDLEntry entry;
  // The user's own list first; the maker's is fetched only for what that list does not have.
  LoadLists(false);
  if (!FindEntry(key, &entry)) {
    if (!LoadLists(true))
      return Fail(kExitFailure, "the maker's download list could not be fetched");
    if (!FindEntry(key, &entry)) return Fail(kExitFailure, "no download " + key + " in the lists");
  }
  if (entry.URL.empty()) return Fail(kExitFailure, entry.Name + " is a list heading, no download");
  int result;
  {
    const InterruptCancels interrupts;
    result = DLAdditionalDownloadsThread(entry);
  }
  CancelMainThread = 0;
  return result == 1 ? kExitOk : kExitFailure;
}

}  // namespace

FW_CLI_HELP("dl-list", "", "the additional download lists, numbered",
            "Prints the rows of the additional download lists as the Download Center shows them, "
            "numbered as dl-get takes them: the user's UserDL.ini from the current folder first, "
            "then the maker's list. Saves nothing.\n\n"
            "--update\tfetch the maker's list DLList.ini first (exit status 1 when it cannot be "
            "had; the user's list is printed all the same)");
FW_CLI_HELP("dl-get", "", "download an entry of the lists into the Clover repository",
            "Downloads an entry of the lists into the Clover local repository (into the "
            "sub-folder its Catalog names), checks it against its MD5 or SHA-1 digest when the "
            "list gives one, and prints the summary. The maker's list is fetched only when the "
            "user's list has no such entry.\n\n"
            "N|NAME\tthe row number that dl-list shows, or the entry's name");
FW_CLI_QUERY_COMMAND("dl-list",
                     "dl-list [--update]  the additional download lists, numbered (--update: "
                     "with the maker's list)",
                     DlListCommand);
FW_CLI_COMMAND("dl-get", "dl-get N|NAME  download an entry of the lists into the Clover repository",
               DlGetCommand);

}  // namespace fw::cli
