// The readers under the catalog search: the XML tree, gzip bodies, the package facts cache.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "net/catalog_test_support.h"
#include "net/gzip_body.h"
#include "net/recovery_hd_cache.h"
#include "net/xml_tree.h"

namespace fw {
namespace {

using fwtest::Gzip;

TEST(XmlTree, ElementsTextAndAttributes) {
  const std::string xml = "<?xml version=\"1.0\"?><a id=\"x\"><b>one</b><b>t<!-- c -->wo</b></a>";
  const XmlDocument d = ParseXmlDocument(xml.data(), xml.size());
  ASSERT_EQ(d.status, XmlStatus::Ok);
  EXPECT_EQ(d.root->name, "a");
  EXPECT_EQ(d.root->Attribute("id"), "x");
  EXPECT_EQ(d.root->Attribute("none"), "");
  ASSERT_EQ(d.root->children.size(), 2u);
  EXPECT_EQ(d.root->children[1]->text, "two");
}

TEST(XmlTree, ErrorsSayWhereAndDeepNestingIsRefused) {
  const std::string bad = "<plist>\n<dict>\n<key>x</dict>";
  const XmlDocument d = ParseXmlDocument(bad.data(), bad.size());
  EXPECT_EQ(d.status, XmlStatus::ParseError);
  EXPECT_EQ(d.message, "mismatched tag");
  EXPECT_EQ(d.line, 3);
  EXPECT_EQ(d.column, 8);
  const std::string html = "Not Found\n";
  EXPECT_EQ(ParseXmlDocument(html.data(), html.size()).status, XmlStatus::ParseError);
  std::string deep;
  for (int i = 0; i < kMaxXmlDepth + 1; ++i) deep += "<a>";
  EXPECT_EQ(ParseXmlDocument(deep.data(), deep.size()).status, XmlStatus::Failed);
}

TEST(GzipBody, PlainBodiesPassAndGzipIsDecoded) {
  std::string out;
  ASSERT_TRUE(DecodeBody("<plist/>", 8, &out));
  EXPECT_EQ(out, "<plist/>");
  const std::string doc(100000, 'p');
  const std::string twoMembers = Gzip(doc) + Gzip("tail");
  ASSERT_TRUE(DecodeBody(twoMembers.data(), twoMembers.size(), &out));
  EXPECT_EQ(out, doc + "tail");
  const std::string cut = Gzip(doc).substr(0, 40);
  EXPECT_FALSE(DecodeBody(cut.data(), cut.size(), &out));
  const std::string trailing = Gzip("x") + "garbage";
  EXPECT_FALSE(DecodeBody(trailing.data(), trailing.size(), &out));
  // Many small members of one MiB each: a body of a few hundred KB that decodes past the limit.
  const std::string member = Gzip(std::string(1 << 20, '\0'));
  std::string bomb;
  for (int64_t i = 0; i <= kMaxDecodedBody >> 20; ++i) bomb += member;
  EXPECT_FALSE(DecodeBody(bomb.data(), bomb.size(), &out));
}

TEST(RecoveryHDCache, RoundTripAndDamagedLines) {
  const std::vector<PackageFacts> facts = {{"http://h/a.pkg", "123", "abc"},
                                           {"http://h/b.pkg", "", ""},
                                           {"http://h/c\tpkg", "1", ""},  // unwritable: skipped
                                           {"http://h/d.pkg", "12x", "d"}};
  const std::string text = RecoveryHDCacheText(facts);
  EXPECT_EQ(text, "123\tabc\thttp://h/a.pkg\n\t\thttp://h/b.pkg\n");
  const auto back = ParseRecoveryHDCache(text + "junk\n1\t2\n-5\tx\thttp://h/e\r\n");
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].URL, "http://h/a.pkg");
  EXPECT_EQ(back[0].Digest, "abc");

  const auto dir = std::filesystem::temp_directory_path() / "fw_rhd_cache_test";
  std::filesystem::create_directories(dir);
  SetSettingsPath((dir / "flashwright.ini").string());
  RecoveryHDEntry e;
  e.URL = "http://h/a.pkg";
  e.Size = "77";
  e.Digest = "0123456789012345678901234567890123456789";
  ASSERT_TRUE(SaveRecoveryHDCache({e}));
  EXPECT_EQ(RecoveryHDCachePath(), (dir / "RecoveryHD.cache").string());
  EXPECT_EQ(CachedPackageFacts("http://h/a.pkg").Size, "77");
  EXPECT_EQ(CachedPackageFacts("http://h/other.pkg").URL, "");
  SetSettingsPath("");
  EXPECT_EQ(CachedPackageFacts("http://h/a.pkg").URL, "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fw
