#include "net/sucatalog_urls.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fw {
namespace {

const char* const kTail = "-mountainlion-lion-snowleopard-leopard.merged-1.sucatalog";

class CatalogHostTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("FLASHWRIGHT_CATALOG_HOST", "http://127.0.0.1:9/", 1); }
  void TearDown() override {
    ::unsetenv("FLASHWRIGHT_CATALOG_HOST");
    SetCatalogListHooks({});
  }
};

TEST_F(CatalogHostTest, InternalListHoldsFourteenCatalogsOnTheConfiguredHost) {
  UrlList list;
  MakeInternalSucatalogList(list);
  ASSERT_EQ(list.size(), 14u);
  EXPECT_EQ(list[0].first, "10.9 regular");
  EXPECT_EQ(list[1].first, "10.9 seed");
  EXPECT_EQ(list[13].first, "10.15 seed");
  EXPECT_EQ(list[6].second,
            std::string("http://127.0.0.1:9/content/catalogs/others/index-10.12-10.11-10.10-10.9") +
                kTail);
  EXPECT_EQ(list[7].second, std::string("http://127.0.0.1:9/content/catalogs/others/"
                                        "index-10.12seed-10.12-10.11-10.10-10.9") +
                                kTail);
  RemoveDoublesSUCatalogURLList(list);
  ASSERT_EQ(list.size(), 14u);
  for (size_t i = 0; i < list.size(); ++i)
    EXPECT_EQ(SucatalogOSNumber(list[i].second), 9 + static_cast<int>(i) / 2) << list[i].second;

  ::unsetenv("FLASHWRIGHT_CATALOG_HOST");
  EXPECT_EQ(CatalogHost(), "https://swscan.apple.com");
}

TEST(SucatalogUrls, InvalidEntriesAreRefused) {
  UrlList list;
  Add2SUCatalogURLList(list, "mine", "http://h/content/catalogs/index.sucatalog");  // no "index-"
  Add2SUCatalogURLList(list, "mine", "ftp://h/index-10.9.sucatalog");
  Add2SUCatalogURLList(list, "", "http://h/index-10.9.sucatalog");
  Add2SUCatalogURLList(list, "mine", "");
  EXPECT_TRUE(list.empty());
  Add2SUCatalogURLList(list, "mine", "https://h/index-10.9.sucatalog");
  EXPECT_EQ(list.size(), 1u);
}

TEST(SucatalogUrls, OSNumberOfOldCatalogsAndHostsWithDashes) {
  EXPECT_EQ(SucatalogOSNumber("https://my-mirror.example/index-10.14seed-10.14.sucatalog"), 14);
  EXPECT_EQ(SucatalogOSNumber("https://my-mirror.example/index-mountainlion-lion.sucatalog"), 8);
  EXPECT_EQ(SucatalogOSNumber("https://my-mirror.example/index-lion-snowleopard.sucatalog"), 7);
  EXPECT_EQ(SucatalogOSNumber("https://my-mirror.example/index-leopard.merged-1.sucatalog"), 0);
}

TEST(SucatalogUrls, DoublesGoAndTheFirstOfEachUrlStays) {
  UrlList list = {{"b", "http://h/index-10.15.x"},
                  {"a", "http://h/index-lion.x"},
                  {"dup", "http://h/index-10.15.x"},
                  {"c", "http://h/index-10.9.x"},
                  {"case", "http://h/INDEX-10.9.x"}};  // another URL: compared exactly
  RemoveDoublesSUCatalogURLList(list);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].first, "case");  // 0
  EXPECT_EQ(list[1].first, "a");     // 7
  EXPECT_EQ(list[2].first, "c");     // 9
  EXPECT_EQ(list[3].first, "b");     // 15
}

TEST_F(CatalogHostTest, LoadSettingBuildsBothListsThroughTheHooks) {
  RegisterSucatalogListHooks();
  const std::string internal12 =
      std::string("http://127.0.0.1:9/content/catalogs/others/index-10.12-10.11-10.10-10.9") +
      kTail;
  SettingsRecord s;
  ParseSettingsText(
      "[Sucatalog User Defined URL list]\r\n"
      "bad = http://elsewhere/catalog.sucatalog\r\n"
      "again = " +
          internal12 +
          "\r\n"
          "mine = https://mirror/index-10.16-10.15.sucatalog\r\n",
      s);
  ASSERT_EQ(s.UserSucatalogUrls.size(), 2u);
  EXPECT_EQ(s.UserSucatalogUrls[0].first, "again");
  ASSERT_EQ(s.SummarySucatalogUrls.size(), 15u);  // the double of 10.12 regular is gone
  EXPECT_EQ(s.SummarySucatalogUrls.back().first, "mine");

  SettingsRecord off;
  ParseSettingsText("[Sucatalog Check Setting]\r\nUseInternalSucatalogUrlList = 0\r\n", off);
  EXPECT_TRUE(off.SummarySucatalogUrls.empty());
}

}  // namespace
}  // namespace fw
