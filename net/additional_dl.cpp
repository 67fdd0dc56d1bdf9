#include "net/additional_dl.h"

#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>

#include "app/ini_text.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/text.h"
#include "app/ui.h"

namespace fw {
namespace {

std::mutex gListMutex;
std::vector<AdditionalDLEntry> gList;

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The field an upper-case key names, or null for a key the lists do not use.
std::string* Field(AdditionalDLEntry& e, const std::string& key) {
  if (key == "URL") return &e.URL;
  if (key == "SIZE") return &e.Size;
  if (key == "DESCRIPTION") return &e.Description;
  if (key == "MD5DIGEST") return &e.MD5Digest;
  if (key == "POSTDATE") return &e.PostDate;
  if (key == "CATALOG") return &e.Catalog;
  return nullptr;
}

}  // namespace

std::vector<AdditionalDLEntry> ParseAdditionalDLList(const std::string& text, int isUser) {
  const IniText ini = ParseIni(text);
  std::vector<AdditionalDLEntry> out;
  out.reserve(ini.groups.size() + 1);
  AdditionalDLEntry header;
  header.Name = isUser ? kUserDLHeader : kMakerDLHeader;
  out.push_back(header);
  for (const IniText::Group& g : ini.groups) {
    AdditionalDLEntry e;
    e.IsUser = isUser ? 1 : 0;
    e.Name = g.name;
    FW_LOGP("LoadAdditionalDLList", "LoadAdditionalDLList: Name: " + e.Name);
    for (const auto& [rawKey, rawValue] : g.pairs) {
      const std::string key = IniUpper(Trimmed(rawKey));
      const std::string value = Trimmed(rawValue);
      FW_LOGP("LoadAdditionalDLList", "LoadAdditionalDLList: Key: " + key + "=" + value);
      if (std::string* field = Field(e, key)) *field = value;
    }
    out.push_back(std::move(e));
  }
  FW_LOGP("LoadAdditionalDLList",
          "LoadAdditionalDLList: Found " + std::to_string(ini.groups.size()) + " file(s)");
  return out;
}

bool ReadAdditionalDLFile(const std::string& file, int isUser,
                          std::vector<AdditionalDLEntry>* out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<AdditionalDLEntry> entries = ParseAdditionalDLList(text.str(), isUser);
  out->insert(out->end(), std::make_move_iterator(entries.begin()),
              std::make_move_iterator(entries.end()));
  return true;
}

int LoadAdditionalDLList(const std::string& file, int isUser) {
  std::vector<AdditionalDLEntry> entries;
  if (!ReadAdditionalDLFile(file, isUser, &entries)) return 0;
  const int groups = static_cast<int>(entries.size()) - 1;
  std::lock_guard<std::mutex> lock(gListMutex);
  gList.insert(gList.end(), std::make_move_iterator(entries.begin()),
               std::make_move_iterator(entries.end()));
  return groups;
}

std::vector<AdditionalDLEntry> AdditionalDL() {
  std::lock_guard<std::mutex> lock(gListMutex);
  return gList;
}

void SetAdditionalDL(std::vector<AdditionalDLEntry> entries) {
  std::lock_guard<std::mutex> lock(gListMutex);
  gList = std::move(entries);
}

void ClearAdditionalDL() { SetAdditionalDL({}); }

std::string AdditionalDLRow(const AdditionalDLEntry& e) {
  if (e.Size.empty()) return e.Name + ": " + e.Description;
  return e.Name + " " + FormatSizeText(LeadingNumber(e.Size), 1) + ": " + e.Description;
}

std::vector<std::string> AdditionalDLRows() {
  std::vector<std::string> rows;
  for (const AdditionalDLEntry& e : AdditionalDL()) rows.push_back(AdditionalDLRow(e));
  return rows;
}

void SortAdditionalDLList() {
  const std::vector<std::string> rows = AdditionalDLRows();
  TheUi().SetComboItems(kDownloadCenterWindow, dlc_ctl::kPackageList, rows, rows.empty() ? -1 : 0);
  SetComboDropWidth(kDownloadCenterWindow, dlc_ctl::kPackageList);
}

}  // namespace fw
