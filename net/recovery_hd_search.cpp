#include "net/recovery_hd_search.h"

#include <algorithm>

#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/ui_event.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/ui.h"
#include "net/gzip_body.h"
#include "net/http_get.h"
#include "net/recovery_hd_cache.h"
#include "net/xml_tree.h"

namespace fw {
namespace {

constexpr int kChunk = 1024 * 1024;
constexpr int kMemoryAttempts = 10;
constexpr int kStatusMs = 2000;

// Fetches and parses one document; shows the search's texts for each failure. `fetchError` and
// `parseError` are the status texts of a failed transfer and of a document that cannot be parsed.
const XmlNode* LoadDocument(const std::string& url, const std::string& label,
                            const std::string& fetchError, const std::string& parseError,
                            XmlDocument* doc) {
  std::string body;
  if (!FetchCatalogDocument(url, label, &body)) {
    ShowStatusFor(fetchError, kStatusMs);
    return nullptr;
  }
  *doc = ParseXmlDocument(body.data(), body.size());
  if (doc->status == XmlStatus::Failed) {
    FW_LOG("XML: " + doc->message + ": " + url);
    ShowStatusFor(parseError, kStatusMs);
    return nullptr;
  }
  if (doc->status == XmlStatus::ParseError) {
    FW_LOG("XML error in " + url + ": " + doc->message);
    MessageBox("Error",
               "Error in the XML file:\rMessage: " + doc->message + "\rLine: " +
                   std::to_string(doc->line) + "   Character: " + std::to_string(doc->column),
               MsgButtons::Ok, MsgIcon::Error);
    return nullptr;
  }
  if (!doc->root) {
    FW_LOG("XML: no main node in " + url);
    return nullptr;
  }
  return doc->root.get();
}

// Completes one entry: its build from the metadata document, else from the distribution, then its
// name. False when a document failed (the completion of this catalog stops).
bool CompleteEntry(RecoveryHDEntry& entry) {
  const std::string label = "Get RecoveryHD Revision";
  const std::string fetchError = "Update RecoveryHD List ... Error: CheckRecoveryHDThread";
  const std::string parseError = "Update RecoveryHD List ... Error: Get RecoveryHD Info";
  XmlDocument metadata;
  const XmlNode* root =
      LoadDocument(MetadataDocumentURL(entry), label, fetchError, parseError, &metadata);
  if (!root) return false;
  entry.Build = BuildFromMetadata(*root);
  if (entry.Build.empty()) {
    XmlDocument distribution;
    root =
        LoadDocument(DistributionDocumentURL(entry), label, fetchError, parseError, &distribution);
    if (!root) return false;
    entry.Build = BuildFromDistribution(*root);
  }
  if (!entry.Build.empty()) {
    entry.Name = RecoveryHDName(entry);
    FW_LOG("PackageName: " + entry.Name);
  }
  return true;
}

// Releases the download engine and the busy flags on every way out.
struct SearchEnd {
  ~SearchEnd() {
    EndNetTransfer();
    CancelMainThread = 0;
    format_op_in_progress = 0;
  }
};

}  // namespace

std::mutex& RecoveryHDListMutex() {
  static std::mutex mutex;
  return mutex;
}

bool FetchCatalogDocument(const std::string& url, const std::string& label, std::string* body) {
  THTTP& r = TheHTTP();
  ClearHTTP(r);
  r.URL = url;
  r.iDestination = kHttpToMemory;
  r.BufferSize = kChunk;
  r.iResumeMaxAttemptsNumber = kMemoryAttempts;
  r.CallStart = MyCallStart;
  r.CallWorking = MyCallWorking;
  r.FullFileName = label;
  if (HTTPGetFromWeb(r) != kWebOk) return false;
  if (!DecodeBody(r.MemoryBuffer.data(), r.MemoryBuffer.size(), body)) {
    FW_LOG("The compressed answer of " + url + " cannot be decoded");
    return false;
  }
  return true;
}

RecoveryHDSearchOutcome RunCheckRecoveryHD() {
  RecoveryHDSearchOutcome outcome;
  if (!TryStartNetTransfer()) {
    FW_LOG("CheckRecoveryHDThread: another transfer is running");
    ShowStatusFor("Update RecoveryHD List ... Error: another download is running", kStatusMs);
    outcome.busy = true;
    format_op_in_progress = 0;  // the starter claimed it for this search
    return outcome;
  }
  format_op_in_progress = 1;
  const SearchEnd end;
  ShowStatusFor("Checking for Updates ... Wait Please", kStatusMs);
  RecoveryHDList list;
  const UrlList catalogs = Settings().SummarySucatalogUrls;
  outcome.catalogs = static_cast<int>(catalogs.size());
  for (const auto& [name, url] : catalogs) {
    if (CancelMainThread != 0) break;
    FW_LOG("CheckRecoveryHDThread: " + name + ": " + url);
    XmlDocument doc;
    const XmlNode* root =
        LoadDocument(url, "Download " + name, "Update RecoveryHD List ... Error: Get SUCatalog",
                     "Update RecoveryHD List ... Error:  Catch XML SUCatalog", &doc);
    if (!root) continue;
    ++outcome.catalogsRead;
    ExtractXMLProductInfo(*root, "RecoveryHD", &list);
    if (list.empty()) {
      ShowStatusFor("Update RecoveryHD List ... Error:  RecoveryHD Source List is Empty",
                    kStatusMs);
      continue;
    }
    // Entries completed for an earlier catalog keep their build: completing them again would
    // fetch the same documents once per catalog for the same result.
    for (RecoveryHDEntry& entry : list) {
      if (CancelMainThread != 0) break;
      if (!entry.Build.empty()) continue;
      if (!CompleteEntry(entry)) break;
    }
  }
  outcome.cancelled = CancelMainThread != 0;
  if (outcome.cancelled || outcome.catalogsRead == 0) {
    FW_LOG("CheckRecoveryHDThread: the Recovery HD list is kept (catalogs read: " +
           std::to_string(outcome.catalogsRead) + (outcome.cancelled ? ", cancelled)" : ")"));
    ShowStatusFor("Update RecoveryHD List ... Ended", kStatusMs);
    return outcome;
  }
  ReduceRecoveryHDList(&list, Settings().SearchOnlyNewestRevRecoveryHD != 0);

  std::vector<std::string> names;
  UrlList saved;
  for (const RecoveryHDEntry& e : list) {
    names.push_back(e.Name);
    saved.emplace_back(e.Name, e.URL);
  }
  SaveRecoveryHDCache(list);  // first, so that the saved list never names unknown packages
  {
    const std::lock_guard<std::mutex> lock(RecoveryHDListMutex());
    Settings().DownloadData = std::move(saved);
    SaveSetting();
  }
  TheUi().SetComboItems(kDownloadCenterWindow, dlc_ctl::kRecoveryList, names,
                        static_cast<int>(names.size()) - 1);
  UpdateAllDrivesFromWorker();
  outcome.replaced = true;
  outcome.list = list;
  ShowStatusFor("Update RecoveryHD List ... Ended", kStatusMs);
  UpdateAllDrivesFromWorker();
  return outcome;
}

void CheckRecoveryHDThread(int) { RunCheckRecoveryHD(); }

}  // namespace fw
