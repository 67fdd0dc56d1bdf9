// The catalog lists of the settings and the package facts cache under libFuzzer: user catalogs
// from any settings text end up valid, without doubles and ordered by macOS number; any cache text
// parses, and what it writes back parses to the same facts.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "app/settings.h"
#include "net/recovery_hd_cache.h"
#include "net/sucatalog_urls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fw::RegisterSucatalogListHooks();
  fw::SettingsRecord s;
  fw::ParseSettingsText(text, s);
  std::set<std::string> urls;
  int last = INT_MIN;
  for (const auto& [name, url] : s.SummarySucatalogUrls) {
    if (name.empty() || url.rfind("http", 0) != 0 || url.find("index-") == std::string::npos)
      std::abort();
    if (!urls.insert(url).second) std::abort();
    const int os = fw::SucatalogOSNumber(url);
    if (os < last) std::abort();
    last = os;
  }
  const auto facts = fw::ParseRecoveryHDCache(text);
  const auto again = fw::ParseRecoveryHDCache(fw::RecoveryHDCacheText(facts));
  if (again.size() > facts.size()) std::abort();
  for (size_t i = 0; i < again.size(); ++i)
    if (again[i].URL.empty()) std::abort();
  return 0;
}
