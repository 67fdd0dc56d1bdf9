// The Recovery HD list: packages found in the software-update catalogs, the catalog walk that finds
// them, their completion from the companion documents (build number and macOS name), and the two
// reductions that keep one package per build and, optionally, one per macOS version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/xml_tree.h"

namespace fw {

struct RecoveryHDEntry {
  std::string Name;  // display text; "" until the entry is completed
  std::string ProductID;
  std::string MetadataURL;   // the package's metadata document (.pkm), as the catalog gives it
  std::string URL;           // the package
  std::string Size;          // bytes, as text
  std::string Digest;        // identity for duplicates; checked after a download when SHA-1
  std::string Build;         // "18G103": the first two characters are the Darwin major number
  int64_t PostDate = 0;      // seconds since 1970 (UTC)
  std::string PostDateText;  // "%yyyy-%mm-%dd"
  // The product's English distribution document as the catalog gives it; the catalog server keeps
  // the companion documents on another host than the packages, so the catalog's own addresses
  // come first and the ones derived from the package URL are only a fallback.
  std::string DistributionURL;
};

using RecoveryHDList = std::vector<RecoveryHDEntry>;

// Walks a catalog (from its main node) and adds every package whose URL contains `searchText`,
// with its product's post date, to `list`; a package already listed under the same digest (or,
// without a digest, the same URL) is not added again.
void ExtractXMLProductInfo(const XmlNode& node, const std::string& searchText,
                           RecoveryHDList* list);

// "041-91758" from ".../041-91758-A_2NYIXTRYA7/RecoveryHDUpdate.pkg": the first path part with a
// "-", cut after its second piece; "" when no part has one.
std::string ProductIDFromURL(const std::string& url);

// "2019-10-07T17:24:47Z" in seconds since 1970; false when the text is no such date.
bool ParseCatalogDate(const std::string& text, int64_t* seconds, std::string* dayText);

// Where the companion documents are: the catalog's address, else one derived from the package URL.
std::string MetadataDocumentURL(const RecoveryHDEntry& entry);
std::string DistributionDocumentURL(const RecoveryHDEntry& entry);
// The build from a metadata document's main node ("identifier" = "...RecoveryHDUpdate.18G103");
// "" when it carries none.
std::string BuildFromMetadata(const XmlNode& root);
// The build from a distribution document: key "BUILD" and its string inside "auxinfo".
std::string BuildFromDistribution(const XmlNode& root);

// The macOS name of a build's Darwin major number ("18G103" gives "Mojave").
std::string MacOSNameOfBuild(const std::string& build);
// "(18G103) Mojave 2019-10-07 468.5 MB": the entry's display name once its build is known.
std::string RecoveryHDName(const RecoveryHDEntry& entry);

// One package per build (the latest post date), then, with `onlyNewest`, one per Darwin major
// number; the result sorted by name.
void ReduceRecoveryHDList(RecoveryHDList* list, bool onlyNewest);

}  // namespace fw
