#include "net/clover_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

using Revs = std::vector<int32_t>;

TEST(CloverPackages, DuplicatesCountAsMatchesButListOnce) {
  const std::string page =
      "<a href=\"/d/5120/Clover_r5120.pkg\">Clover_r5120.pkg</a>"
      "<a href=\"/d/5119/Clover_r5119.pkg\">x</a>";
  const CloverPackageMatches m = FindCloverPackages(page);
  EXPECT_EQ(m.nbFound, 3);
  EXPECT_EQ(m.revisions, (Revs{5120, 5119}));
}

TEST(CloverPackages, OrderIsNumericNotTextual) {
  const CloverPackageMatches m =
      FindCloverPackages("Clover_r999.pkg Clover_r1000.pkg Clover_r0999.pkg Clover_r99.pkg");
  EXPECT_EQ(m.nbFound, 4);
  EXPECT_EQ(m.revisions, (Revs{1000, 999, 99}));
}

TEST(CloverPackages, NearMissesAndUnusableNumbersAreNoRevisions) {
  EXPECT_EQ(
      FindCloverPackages("Clover_r.pkg Clover_r5120xpkg clover_r5120.pkg Clover_5120.pkg").nbFound,
      0);
  // Matches, but no revision a download could use.
  const CloverPackageMatches m = FindCloverPackages("Clover_r0.pkg Clover_r99999999999.pkg");
  EXPECT_EQ(m.nbFound, 2);
  EXPECT_TRUE(m.revisions.empty());
  EXPECT_EQ(FindCloverPackages("").nbFound, 0);
}

TEST(CloverPackages, BinaryAndInvalidUtf8AroundAMatchAreFine) {
  std::string page("\xff\xfe\x00\xc3(", 5);
  page += "Clover_r5151.pkg";
  page.push_back('\0');
  EXPECT_EQ(FindCloverPackages(page).revisions, (Revs{5151}));
}

TEST(ExpandedAssets, TagsInPageOrderDistinctAndLimited) {
  const std::string page =
      R"(<include-fragment src="https://github.com/CloverHackyColor/CloverBootloader/releases/expanded_assets/5161">)"
      R"(<include-fragment src="/CloverHackyColor/CloverBootloader/releases/expanded_assets/5160">)"
      R"(<a href="/CloverHackyColor/CloverBootloader/releases/expanded_assets/5161">again</a>)"
      R"(<include-fragment src="/CloverHackyColor/CloverBootloader/releases/expanded_assets/v5.1-r5159">)"
      R"(<include-fragment src="/CloverHackyColor/CloverBootloader/releases/expanded_assets/5158">)";
  EXPECT_EQ(FindExpandedAssetsTags(page, 10),
            (std::vector<std::string>{"5161", "5160", "v5.1-r5159", "5158"}));
  EXPECT_EQ(FindExpandedAssetsTags(page, 2), (std::vector<std::string>{"5161", "5160"}));
}

TEST(ExpandedAssets, OtherProjectsAndUnsafeTagsAreIgnored) {
  const std::string longTag(101, '1');
  const std::string page =
      "/Other/Repo/releases/expanded_assets/1 "
      "/XCloverHackyColor/CloverBootloader/releases/expanded_assets/2 "
      "/CloverHackyColor/CloverBootloader/releases/expanded_assets/.. "
      "/CloverHackyColor/CloverBootloader/releases/expanded_assets/" +
      longTag + " " +
      "/CloverHackyColor/CloverBootloader/releases/expanded_assets/5%2F3 "
      "/CloverHackyColor/CloverBootloader/releases/expanded_assets/5161";
  EXPECT_EQ(FindExpandedAssetsTags(page, 10), (std::vector<std::string>{"5161"}));
}

}  // namespace
}  // namespace fw
