// The release-page reader under libFuzzer: any bytes must parse, the revisions must come out
// distinct, positive and newest first, and the fragment tags distinct, within the limit and made
// only of the characters a URL path may carry as they are.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/clover_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const fw::CloverPackageMatches found = fw::FindCloverPackages(text);
  if (found.nbFound < static_cast<int>(found.revisions.size())) std::abort();
  for (size_t i = 0; i < found.revisions.size(); ++i) {
    if (found.revisions[i] <= 0) std::abort();
    if (i > 0 && found.revisions[i - 1] <= found.revisions[i]) std::abort();
    const std::string name = "Clover_r" + std::to_string(found.revisions[i]) + ".pkg";
    if (fw::FindCloverPackages(name).revisions.size() != 1) std::abort();
  }
  const auto tags = fw::FindExpandedAssetsTags(text, 5);
  if (tags.size() > 5) std::abort();
  for (size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].empty() || tags[i].size() > 100 || tags[i] == "." || tags[i] == "..") std::abort();
    for (char c : tags[i])
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '+' &&
          c != '-')
        std::abort();
    for (size_t j = 0; j < i; ++j)
      if (tags[i] == tags[j]) std::abort();
  }
  return 0;
}
