#include "net/recovery_hd_cache.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/log.h"
#include "app/settings.h"

namespace fw {
namespace {

bool Clean(const std::string& field) { return field.find_first_of("\t\r\n") == std::string::npos; }

}  // namespace

std::string RecoveryHDCachePath() {
  const std::string& settings = SettingsPath();
  if (settings.empty()) return "";
  return (std::filesystem::path(settings).parent_path() / "RecoveryHD.cache").string();
}

std::vector<PackageFacts> ParseRecoveryHDCache(const std::string& text) {
  std::vector<PackageFacts> facts;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    PackageFacts f{line.substr(tab2 + 1), line.substr(0, tab1),
                   line.substr(tab1 + 1, tab2 - tab1 - 1)};
    if (f.URL.empty() || f.Size.find_first_not_of("0123456789") != std::string::npos) continue;
    facts.push_back(f);
  }
  return facts;
}

std::string RecoveryHDCacheText(const std::vector<PackageFacts>& facts) {
  std::string text;
  for (const PackageFacts& f : facts) {
    if (f.URL.empty() || !Clean(f.URL) || !Clean(f.Digest) ||
        f.Size.find_first_not_of("0123456789") != std::string::npos)
      continue;
    text += f.Size + "\t" + f.Digest + "\t" + f.URL + "\n";
  }
  return text;
}

bool SaveRecoveryHDCache(const RecoveryHDList& list) {
  const std::string path = RecoveryHDCachePath();
  if (path.empty()) return false;
  std::vector<PackageFacts> facts;
  for (const RecoveryHDEntry& e : list) facts.push_back({e.URL, e.Size, e.Digest});
  const std::string text = RecoveryHDCacheText(facts);
  // Written beside and renamed over the old file, so a reader never sees half a cache.
  const std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      FW_LOG("SaveRecoveryHDCache: cannot write " + tmp);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    FW_LOG("SaveRecoveryHDCache: cannot write " + path + ": " + ec.message());
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

PackageFacts CachedPackageFacts(const std::string& url) {
  const std::string path = RecoveryHDCachePath();
  if (path.empty()) return {};
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  for (const PackageFacts& f : ParseRecoveryHDCache(text.str()))
    if (f.URL == url) return f;
  return {};
}

}  // namespace fw
