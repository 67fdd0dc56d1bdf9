#include "net/recovery_hd_list.h"

#include <gtest/gtest.h>

#include <ctime>

#include "net/catalog_test_support.h"

namespace fw {
namespace {

using fwtest::CatalogPackage;
using fwtest::CatalogProduct;

RecoveryHDList Walk(const std::string& xml, RecoveryHDList list = {}) {
  const XmlDocument doc = ParseXmlDocument(xml.data(), xml.size());
  EXPECT_EQ(doc.status, XmlStatus::Ok) << doc.message;
  if (doc.root) ExtractXMLProductInfo(*doc.root, "RecoveryHD", &list);
  return list;
}

TEST(CatalogWalk, EachMatchingPackageKeepsItsOwnFieldsAndItsProductsDate) {
  // An installer product lists many packages; the RecoveryHDMetaDmg.pkg sits between others, and
  // the package after it must not lend it its URL, size or digest.
  const std::string base = "https://pkgs.example/content/downloads/12/34/041-91758-A_2NYIXTRYA7/x/";
  const std::string xml = fwtest::CatalogXml({
      {"041-91758",
       "2019-10-07T17:24:47Z",
       "https://dist.example/041-91758.English.dist",
       {{base + "InstallESDDmg.pkg", "6000", "aaaa", ""},
        {base + "RecoveryHDMetaDmg.pkg", "4242", "bbbb",
         "https://meta.example/RecoveryHDMetaDmg.pkm"},
        {base + "InstallInfo.plist", "10", "cccc", ""}}},
      {"061-1111",
       "2020-01-02T00:00:00Z",
       "",
       {{"https://pkgs.example/061-1111/Other.pkg", "5", "dddd", ""}}},
  });
  const RecoveryHDList list = Walk(xml);
  ASSERT_EQ(list.size(), 1u);
  const RecoveryHDEntry& e = list[0];
  EXPECT_EQ(e.URL, base + "RecoveryHDMetaDmg.pkg");
  EXPECT_EQ(e.Size, "4242");
  EXPECT_EQ(e.Digest, "bbbb");
  EXPECT_EQ(e.MetadataURL, "https://meta.example/RecoveryHDMetaDmg.pkm");
  EXPECT_EQ(e.DistributionURL, "https://dist.example/041-91758.English.dist");
  EXPECT_EQ(e.ProductID, "041-91758");
  EXPECT_EQ(e.PostDateText, "2019-10-07");
  std::tm tm{};
  tm.tm_year = 119;
  tm.tm_mon = 9;
  tm.tm_mday = 7;
  tm.tm_hour = 17;
  tm.tm_min = 24;
  tm.tm_sec = 47;
  EXPECT_EQ(e.PostDate, static_cast<int64_t>(timegm(&tm)));
  EXPECT_TRUE(e.Name.empty());
}

TEST(CatalogWalk, DuplicatesByDigestAndUndatedProductsAreNotListed) {
  const std::string xml1 = fwtest::CatalogXml(
      {{"031-1",
        "2018-01-01T00:00:00Z",
        "",
        {{"https://p/031-1/RecoveryHDUpdate.pkg", "1", "d1", ""}}},
       {"031-2", "", "", {{"https://p/031-2/RecoveryHDUpdate.pkg", "1", "d2", ""}}}});
  RecoveryHDList list = Walk(xml1);
  ASSERT_EQ(list.size(), 1u);
  // The same package under another URL in a later catalog is the same package.
  const std::string xml2 =
      fwtest::CatalogXml({{"031-1",
                           "2018-01-01T00:00:00Z",
                           "",
                           {{"https://q/031-1/RecoveryHDUpdate.pkg", "1", "d1", ""}}},
                          {"031-3",
                           "2018-02-01T00:00:00Z",
                           "",
                           {{"https://q/031-3/RecoveryHDUpdate.pkg", "1", "", ""}}},
                          {"031-4",
                           "2018-02-01T00:00:00Z",
                           "",
                           {{"https://q/031-4/RecoveryHDUpdate.pkg", "1", "", ""}}}});
  list = Walk(xml2, list);
  ASSERT_EQ(list.size(), 3u);  // packages without a digest are told apart by URL
  EXPECT_EQ(list[0].URL, "https://p/031-1/RecoveryHDUpdate.pkg");
  EXPECT_EQ(Walk(xml2, list).size(), 3u);
}

TEST(CatalogWalk, ProductIdAndDates) {
  EXPECT_EQ(ProductIDFromURL(
                "http://h/content/downloads/00/11/031-32456-A_7W8K1U1T5G/k/RecoveryHDUpdate.pkg"),
            "031-32456");
  EXPECT_EQ(ProductIDFromURL("http://h/content/041-12345/x.pkg"), "041-12345");
  EXPECT_EQ(ProductIDFromURL("http://h/a/b.pkg"), "");
  int64_t s = 0;
  std::string day;
  EXPECT_TRUE(ParseCatalogDate("1970-01-02T00:00:01Z", &s, &day));
  EXPECT_EQ(s, 86401);
  EXPECT_EQ(day, "1970-01-02");
  EXPECT_FALSE(ParseCatalogDate("2019-13-07T17:24:47Z", &s, &day));
  EXPECT_FALSE(ParseCatalogDate("yesterday", &s, &day));
}

TEST(CompanionDocuments, TheCatalogsOwnAddressesComeFirst) {
  RecoveryHDEntry e;
  e.URL = "https://pkgs/content/downloads/041-1-A/x/RecoveryHDUpdate.pkg";
  e.ProductID = "041-1";
  EXPECT_EQ(MetadataDocumentURL(e),
            "https://pkgs/content/downloads/041-1-A/x/RecoveryHDUpdate.pkm");
  EXPECT_EQ(DistributionDocumentURL(e),
            "https://pkgs/content/downloads/041-1-A/x/041-1.English.dist");
  e.MetadataURL = "https://meta/m.pkm";
  e.DistributionURL = "https://dist/041-1.English.dist";
  EXPECT_EQ(MetadataDocumentURL(e), "https://meta/m.pkm");
  EXPECT_EQ(DistributionDocumentURL(e), "https://dist/041-1.English.dist");
}

TEST(CompanionDocuments, BuildFromMetadataOrDistribution) {
  auto root = [](const std::string& xml) {
    XmlDocument d = ParseXmlDocument(xml.data(), xml.size());
    return std::move(d.root);
  };
  EXPECT_EQ(BuildFromMetadata(*root(fwtest::PkmXml("com.apple.pkg.RecoveryHDUpdate.18G103"))),
            "18G103");
  EXPECT_EQ(BuildFromMetadata(*root(fwtest::PkmXml("com.apple.pkg.RecoveryHDUpdate"))), "");
  EXPECT_EQ(BuildFromMetadata(*root(fwtest::PkmXml("com.apple.pkg.Update.8F46"))), "");
  EXPECT_EQ(BuildFromDistribution(*root(fwtest::DistXml("17G66"))), "17G66");
  // A BUILD key outside auxinfo is not the product's build.
  EXPECT_EQ(BuildFromDistribution(*root("<a><dict><key>BUILD</key><string>1</string></dict></a>")),
            "");
}

TEST(RecoveryHDNames, DarwinTableAndNameParts) {
  EXPECT_EQ(MacOSNameOfBuild("9L30"), "Leopard");
  EXPECT_EQ(MacOSNameOfBuild("10K549"), "Snow Leopard");
  EXPECT_EQ(MacOSNameOfBuild("18G103"), "Mojave");
  EXPECT_EQ(MacOSNameOfBuild("19H2"), "Catalina");
  EXPECT_EQ(MacOSNameOfBuild("20A5343i"), "macOS ");
  EXPECT_EQ(MacOSNameOfBuild("21A1"), "macOS");
  RecoveryHDEntry e;
  e.Build = "18G103";
  EXPECT_EQ(RecoveryHDName(e), "(18G103) Mojave");
  e.PostDateText = "2019-10-07";
  e.Size = "491254840";
  EXPECT_EQ(RecoveryHDName(e), "(18G103) Mojave 2019-10-07 468 MB");
}

RecoveryHDEntry Entry(const std::string& build, int64_t date, const std::string& name) {
  RecoveryHDEntry e;
  e.Build = build;
  e.PostDate = date;
  e.Name = name;
  e.URL = name;
  return e;
}

TEST(RecoveryHDReduction, OnePerBuildThenOnePerMacOSVersion) {
  const RecoveryHDList found = {Entry("17G66", 100, "c-17G66-old"), Entry("17A365", 50, "b-17A365"),
                                Entry("17G66", 200, "d-17G66-new"),
                                Entry("18G103", 300, "a-18G103")};
  RecoveryHDList all = found;
  ReduceRecoveryHDList(&all, false);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Name, "a-18G103");
  EXPECT_EQ(all[1].Name, "b-17A365");
  EXPECT_EQ(all[2].Name, "d-17G66-new");
  RecoveryHDList newest = found;
  ReduceRecoveryHDList(&newest, true);
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[0].Name, "a-18G103");
  EXPECT_EQ(newest[1].Name, "d-17G66-new");
}

}  // namespace
}  // namespace fw
