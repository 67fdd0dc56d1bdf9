// The software-update catalogs searched for Recovery HD packages: one catalog per macOS 10.x
// version, regular and seed, on the catalog server, plus the user's own catalogs from the settings.
// Both lists are name = URL pairs (UrlList); a catalog's macOS number is read from its URL.
#pragma once

#include <string>

#include "app/settings.h"

namespace fw {

// The catalog server: $FLASHWRIGHT_CATALOG_HOST when set (a mirror, or a test server), else
// "https://swscan.apple.com"; never with a trailing "/".
std::string CatalogHost();

// kind 0 = regular, 2 = seed; adds "10.<minor> regular|seed" to `summary`.
void MakeSucatalogURL(UrlList& summary, int kind, int minor);
// Adds (name, url) when both are given and the URL starts with "http" and contains "index-".
void Add2SUCatalogURLList(UrlList& list, const std::string& name, const std::string& url);
// Keeps the first entry of each URL, then sorts by the catalogs' macOS numbers (stable).
void RemoveDoublesSUCatalogURLList(UrlList& list);
// The 10.x minor version a catalog URL belongs to (index-10.12... gives 12; index-mountainlion 8,
// index-lion 7; 0 when neither).
int SucatalogOSNumber(const std::string& url);
// The fourteen built-in catalogs, 10.9 to 10.15, each regular then seed.
void MakeInternalSucatalogList(UrlList& summary);

// Makes LoadSetting build the catalog lists with the routines above.
void RegisterSucatalogListHooks();

}  // namespace fw
