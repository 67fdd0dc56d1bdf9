// Reading the Clover project's release pages: the package names "Clover_r<revision>.pkg" that
// name a release's revision, and the expanded-assets fragments that today's release page loads
// its asset lists from. Pure text work on PCRE2; the page may be anything a server sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The expression whose matches name a release's package.
inline constexpr const char* kCloverPackagePattern = R"(Clover_r([0-9]+)\.pkg)";

struct CloverPackageMatches {
  int nbFound = 0;                 // whole matches of kCloverPackagePattern
  std::vector<int32_t> revisions;  // their distinct revisions, numerically descending
};
// Every match in `text`. Revisions that do not fit an int32 (or are 0) are left out of the list.
CloverPackageMatches FindCloverPackages(std::string_view text);

// Tags of the fragments ".../CloverHackyColor/CloverBootloader/releases/expanded_assets/<tag>"
// that `page` links to, distinct, in page order (the page lists the newest release first), at
// most `limit`. Tags are kept only when they are safe to put into a URL path.
std::vector<std::string> FindExpandedAssetsTags(std::string_view page, size_t limit);

}  // namespace fw
