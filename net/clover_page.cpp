#include "net/clover_page.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace fw {
namespace {

using MatchData = std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)>;

// Compiled once; a compiled pattern is read-only and may be shared between threads.
const pcre2_code* Compiled(const char* pattern) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  // No UTF mode: a page is bytes, and invalid UTF-8 must not stop the search.
  return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0, &error,
                       &offset, nullptr);
}

// Calls `found(whole match, group 1)` for every match, left to right.
void ForEachMatch(const pcre2_code* code, std::string_view text,
                  const std::function<void(std::string_view, std::string_view)>& found) {
  if (code == nullptr) return;
  MatchData data(pcre2_match_data_create_from_pattern(code, nullptr), pcre2_match_data_free);
  if (!data) return;
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
  PCRE2_SIZE start = 0;
  while (start <= text.size()) {
    const int rc = pcre2_match(code, subject, text.size(), start, 0, data.get(), nullptr);
    if (rc < 2) return;  // no match (or an error): done
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
    found(text.substr(ov[0], ov[1] - ov[0]), text.substr(ov[2], ov[3] - ov[2]));
    // Neither pattern can match the empty text, so the search always moves on.
    start = std::max(ov[1], ov[0] + 1);
  }
}

// The decimal value of `digits`, or 0 when it does not fit an int32.
int32_t RevisionValue(std::string_view digits) {
  int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

CloverPackageMatches FindCloverPackages(std::string_view text) {
  static const pcre2_code* const package = Compiled(kCloverPackagePattern);
  CloverPackageMatches out;
  ForEachMatch(package, text, [&](std::string_view, std::string_view digits) {
    ++out.nbFound;
    const int32_t rev = RevisionValue(digits);
    if (rev > 0) out.revisions.push_back(rev);
  });
  // The final order is numeric: "1000" is newer than "999".
  std::sort(out.revisions.begin(), out.revisions.end(), std::greater<>());
  out.revisions.erase(std::unique(out.revisions.begin(), out.revisions.end()), out.revisions.end());
  return out;
}

std::vector<std::string> FindExpandedAssetsTags(std::string_view page, size_t limit) {
  static const pcre2_code* const link = Compiled(
      R"(/CloverHackyColor/CloverBootloader/releases/expanded_assets/([A-Za-z0-9._+-]{1,100})(?=["'\s<>?#&]|$))");
  std::vector<std::string> tags;
  ForEachMatch(link, page, [&](std::string_view, std::string_view tag) {
    if (tags.size() >= limit || tag == "." || tag == "..") return;
    if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.emplace_back(tag);
  });
  return tags;
}

}  // namespace fw
