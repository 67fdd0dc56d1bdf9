// The sizes and digests of the Recovery HD packages, kept beside the settings file. The settings
// keep only name = URL for each entry of the list, but a download started in a later run (or by
// another process, the CLI's recovery-get) must still be checked against the catalog's size and
// digest, so the search writes them here, keyed by URL.
//
// File: one line per package, "size<TAB>digest<TAB>URL", UTF-8, LF line ends.
#pragma once

#include <string>
#include <vector>

#include "net/recovery_hd_list.h"

namespace fw {

struct PackageFacts {
  std::string URL;
  std::string Size;
  std::string Digest;
};

// "RecoveryHD.cache" in the settings file's folder; "" while no settings file is set.
std::string RecoveryHDCachePath();

// Parses the cache text; malformed lines are skipped.
std::vector<PackageFacts> ParseRecoveryHDCache(const std::string& text);
std::string RecoveryHDCacheText(const std::vector<PackageFacts>& facts);

// Replaces the cache with the facts of `list`; false when it cannot be written.
bool SaveRecoveryHDCache(const RecoveryHDList& list);
// The cached facts of `url` ({} with an empty URL when none are known).
PackageFacts CachedPackageFacts(const std::string& url);

}  // namespace fw
