#include "net/additional_dl_get.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/work_folder.h"
#include "net/file_digest.h"
#include "net/http_get.h"

namespace fw {
namespace {

constexpr int32_t kChunk = 1024 * 1024;

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

// The last component of the URL's path, without query or fragment; false for a URL that the
// engine would refuse.
bool UrlFileName(const std::string& url, std::string* name, std::string* why) {
  UrlParts parts;
  std::string error;
  if (!SplitUrl(url, &parts, &error)) {
    *why = url.empty() ? "it has no URL" : "its URL \"" + url + "\" is malformed";
    return false;
  }
  const std::string path = parts.path.substr(0, parts.path.find_first_of("?#"));
  *name = path.substr(path.rfind('/') + 1);
  return true;
}

// Both separators count, as the lists are written for either kind of system.
std::vector<std::string> CatalogLevels(const std::string& catalog) {
  std::vector<std::string> levels(1);
  for (char c : catalog) {
    if (c == '/' || c == '\\') {
      levels.emplace_back();
    } else {
      levels.back() += c;
    }
  }
  return levels;
}

void SetDlCenterButton(const char* text) {
  TheUi().SetControlText(kMainWindow, main_ctl::kDlCenter, text);
}

// After a complete download: true when the file matches the entry's digest, or when the entry
// gives none. A mismatch removes the file and says so in a message box.
bool DigestMatches(const AdditionalDLEntry& entry, const std::string& path) {
  if (entry.MD5Digest.empty()) return true;
  DigestKind kind;
  if (!DigestKindOfHex(entry.MD5Digest, &kind)) {
    FW_LOG("MD5Digest$=" + entry.MD5Digest + " is neither MD5 nor SHA-1: not checked");
    return true;
  }
  const char* kindName = kind == DigestKind::Md5 ? "MD5" : "SHA-1";
  const std::string fileName = std::filesystem::path(path).filename().string();
  ShowStatus("Checking " + std::string(kindName) + " of " + fileName + " ...", 0);
  std::string error;
  const std::string actual = FileDigestHex(path, kind, &error);
  if (!actual.empty() && SameDigest(actual, entry.MD5Digest)) {
    FW_LOG(std::string(kindName) + " " + actual + " ........... OK");
    return true;
  }
  FW_LOG(std::string(kindName) + " of " + path + " = " + (actual.empty() ? error : actual) +
         " <> " + entry.MD5Digest);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  ShowStatus("", 0);
  MessageBox("Error!",
             "DL: \"" + entry.Name + "\" ........... Error\r\nThe file \"" + fileName +
                 "\" does not match the " + kindName + " digest of the download list.\r\n" +
                 "Expected: " + entry.MD5Digest + "\r\nReceived: " +
                 (actual.empty() ? error : actual) + "\r\nThe downloaded file has been removed.",
             MsgButtons::Ok, MsgIcon::Error);
  return false;
}

// While a download that is checked against a digest runs, an earlier file of that name waits
// beside it (the engine would replace it as soon as the new bytes are complete, before the check):
// a download that fails or does not match gives it back, so the check never costs a good copy.
class EarlierFile {
 public:
  explicit EarlierFile(const std::string& path) : path_(path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(fs::symlink_status(path, ec))) return;
    for (int n = 0; n < 100; ++n) {
      const std::string aside = path + ".previous" + (n ? std::to_string(n) : std::string());
      if (fs::exists(fs::symlink_status(aside, ec))) continue;
      fs::rename(path, aside, ec);
      if (!ec) aside_ = aside;
      FW_LOGP("DLAdditionalDownloadsThread",
              "Earlier file kept as " + aside + (ec ? ": Error" : ""));
      return;
    }
  }
  ~EarlierFile() {
    if (aside_.empty()) return;
    std::error_code ec;
    std::filesystem::rename(aside_, path_, ec);
    FW_LOGP("DLAdditionalDownloadsThread",
            "Earlier file " + path_ + " restored" + (ec ? ": Error" : ""));
  }
  EarlierFile(const EarlierFile&) = delete;
  EarlierFile& operator=(const EarlierFile&) = delete;
  // The new file is good: the earlier one goes.
  void Drop() {
    std::error_code ec;
    if (!aside_.empty()) std::filesystem::remove(aside_, ec);
    aside_.clear();
  }

 private:
  std::string path_;
  std::string aside_;
};

}  // namespace

std::string MakerSiteHost() {
  const char* value = std::getenv("FLASHWRIGHT_SITE_HOST");
  std::string host = value && *value ? value : kDefaultMakerSite;
  if (host.find("://") == std::string::npos) host = "https://" + host;
  while (!host.empty() && host.back() == '/') host.pop_back();
  return host;
}

bool PlanAdditionalDL(const AdditionalDLEntry& entry, const std::string& repository,
                      AdditionalDLPlace* place, std::string* why) {
  *place = AdditionalDLPlace{};
  std::string name;
  if (!UrlFileName(entry.URL, &name, why)) return false;
  if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    *why = "its URL \"" + entry.URL + "\" names no plain file name";
    return false;
  }
  std::string folder = repository;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::vector<std::string> levels = CatalogLevels(entry.Catalog);
  const bool absolute = !entry.Catalog.empty() && levels.front().empty();
  for (const std::string& level : levels) {
    if (absolute || level == ".." || level.find('\0') != std::string::npos) {
      *why = "its Catalog \"" + entry.Catalog + "\" leads out of the Clover Local Repository";
      return false;
    }
    if (level.empty() || level == ".") continue;
    folder += level + "/";
  }
  place->folder = folder;
  place->fileName = name;
  return true;
}

int CheckAdditionalDownloadsThread(int) {
  // The list is small: it is fetched into memory, so the update needs no scratch folder that a
  // disk job started meanwhile could be using.
  THTTP& r = TheHTTP();
  ClearHTTP(r);
  r.URL = MakerSiteHost() + kDLListPath;
  r.iDestination = kHttpToMemory;
  r.BufferSize = kChunk;
  r.iResumeAttemptsNumber = 0;
  r.iResumeMaxAttemptsNumber = 10;
  r.CallStart = MyCallStart;
  r.CallWorking = MyCallWorking;
  r.FullFileName = "DLList.ini";  // the progress label
  ShowStatusFor("Checking for Updates ... Wait Please", 2000);
  const int code = HTTPGetFromWeb(r);
  int result = 0;
  if (code == kWebOk) {
    const std::string text(r.MemoryBuffer.begin(), r.MemoryBuffer.end());
    ShowStatusFor("Download Latest Additional Downloads List ... OK", 2000);
    std::vector<AdditionalDLEntry> list;
    ReadAdditionalDLFile(kUserDLFile, 1, &list);
    std::vector<AdditionalDLEntry> maker = ParseAdditionalDLList(text, 0);
    list.insert(list.end(), maker.begin(), maker.end());
    SetAdditionalDL(std::move(list));
    if (TheWindows().IsWindowOpen(kDownloadCenterWindow)) SortAdditionalDLList();
    result = 1;
  } else {
    FW_LOG("CheckAdditionalDownloadsThread: iHTTPRetVal=" + std::to_string(code));
    ShowStatusFor("CheckAdditionalDownloadsThread ... Error: Get DlFileList", 2000);
  }
  SetComboDropWidth(kDownloadCenterWindow, dlc_ctl::kPackageList);
  return result;
}

int GetAdditionalDLThread(const AdditionalDLEntry& entry) {
  int code = kWebBadParameters;
  AdditionalDLPlace place;
  std::string why;
  if (!PlanAdditionalDL(entry, Settings().CloverLocalRepository, &place, &why)) {
    FW_LOG("GetAdditionalDLThread: " + entry.Name + ": " + why);
  } else {
    THTTP& r = TheHTTP();
    ClearHTTP(r);
    r.URL = entry.URL;
    r.iDestination = kHttpToFile;
    r.BufferSize = kChunk;
    r.iResumeAttemptsNumber = 0;
    r.iResumeMaxAttemptsNumber = static_cast<int32_t>(Settings().ResumeMaxAttemptsNumber);
    r.CallStart = MyCallStart;
    r.CallWorking = MyCallWorking;
    r.CallEnd = MyCallEnd;
    if (!entry.Catalog.empty()) {
      if (IsFolder(place.folder)) {
        FW_LOG("GetAdditionalDLThread: Directory \"" + place.folder + "\" ........ Exist");
      } else {
        CreateDirectoryPath(place.folder);
      }
    }
    r.FullFileName = place.Path();
    code = HTTPGetFromWeb(r);
  }
  EndNetTransfer();
  FW_LOG("GetAdditionalDLThread: EndThread  flgNetThreadRunning=#False");
  FW_LOG("iRetVal=" + std::to_string(code));
  return code;
}

int DLAdditionalDownloadsThread(const AdditionalDLEntry& entry) {
  format_op_in_progress = 1;
  CancelMainThread = 0;
  SetDlCenterButton("Cancel DL");
  int result = 0;
  const std::string repository = Settings().CloverLocalRepository;
  AdditionalDLPlace place;
  std::string why;
  if (!PlanAdditionalDL(entry, repository, &place, &why)) {
    FW_LOG("DLAdditionalDownloadsThread: refused " + entry.Name + ": " + why);
    ShowNote("Can't download " + entry.Name + ": " + why, 0);
  } else if (!TryStartNetTransfer()) {
    FW_LOG("DLAdditionalDownloadsThread: flgNetThreadRunning=#True, " + entry.Name + " refused");
    ShowNote(kTransferBusyText, 0);
  } else {
    DigestKind kind;
    EarlierFile earlier(DigestKindOfHex(entry.MD5Digest, &kind) ? place.Path() : "");
    if (GetAdditionalDLThread(entry) == kWebOk && DigestMatches(entry, place.Path())) {
      earlier.Drop();
      ShowStatusFor(place.fileName + " Downloaded", 1000);
      MessageBox("Info",
                 "\tSummary Information:\r\n\r\nDL: \"" + entry.Name +
                     "\" ........... Success\r\nSaved in the Directory: \"" + entry.Catalog +
                     "\" ........... Success\r\nin the Clover Local Repository: \r\n\"" +
                     repository + "\"\r\n",
                 MsgButtons::Ok, MsgIcon::Information);
      result = 1;
    }
  }
  format_op_in_progress = 0;
  CancelMainThread = 0;
  SetDlCenterButton("DL Center");
  UpdateAllDrivesFromWorker();
  return result;
}

}  // namespace fw
