#include "net/sucatalog_urls.h"

#include <algorithm>
#include <cstdlib>

#include "app/log.h"

namespace fw {

std::string CatalogHost() {
  const char* env = std::getenv("FLASHWRIGHT_CATALOG_HOST");
  std::string host = env && *env ? env : "https://swscan.apple.com";
  while (!host.empty() && host.back() == '/') host.pop_back();
  return host;
}

void MakeSucatalogURL(UrlList& summary, int kind, int minor) {
  const std::string version = "10." + std::to_string(minor);
  const std::string name = version + " " + (kind == 2 ? "seed" : "regular");
  std::string url = CatalogHost() + "/content/catalogs/others/index";
  if (kind == 2) url += "-" + version + "seed";
  for (int v = minor; v >= 9; --v) url += "-10." + std::to_string(v);
  url += "-mountainlion-lion-snowleopard-leopard.merged-1.sucatalog";
  Add2SUCatalogURLList(summary, name, url);
  FW_LOG("MakeSucatalogURL: " + name + ": " + url);
}

void Add2SUCatalogURLList(UrlList& list, const std::string& name, const std::string& url) {
  if (name.empty() || url.empty() || url.rfind("http", 0) != 0 ||
      url.find("index-") == std::string::npos) {
    FW_LOG("Add2SUCatalogURLList: Invalid URL: " + url);
    return;
  }
  list.emplace_back(name, url);
}

int SucatalogOSNumber(const std::string& url) {
  const size_t index = url.find("index-");
  if (index == std::string::npos) return 0;
  const std::string rest = url.substr(index + 6);
  if (rest.rfind("10.", 0) == 0) {
    const int n = std::atoi(rest.c_str() + 3);
    if (n != 0) return n;
  }
  // The names of the pre-10.9 catalogs follow "index-" (a dash in the host name does not count).
  if (rest.rfind("mountainlion", 0) == 0) return 8;
  if (rest.rfind("lion", 0) == 0) return 7;
  return 0;
}

void RemoveDoublesSUCatalogURLList(UrlList& list) {
  UrlList kept;
  for (const auto& entry : list) {
    const bool seen = std::any_of(kept.begin(), kept.end(),
                                  [&](const auto& k) { return k.second == entry.second; });
    if (seen) {
      FW_LOG("Remove Doubles Element: " + entry.first + ": " + entry.second);
    } else {
      kept.push_back(entry);
    }
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
    return SucatalogOSNumber(a.second) < SucatalogOSNumber(b.second);
  });
  list = std::move(kept);
}

void MakeInternalSucatalogList(UrlList& summary) {
  for (int minor = 9; minor <= 15; ++minor) {
    MakeSucatalogURL(summary, 0, minor);
    MakeSucatalogURL(summary, 2, minor);
  }
}

void RegisterSucatalogListHooks() {
  CatalogListHooks hooks;
  hooks.add = Add2SUCatalogURLList;
  hooks.removeDoubles = RemoveDoublesSUCatalogURLList;
  hooks.makeInternalList = MakeInternalSucatalogList;
  SetCatalogListHooks(hooks);
}

}  // namespace fw
