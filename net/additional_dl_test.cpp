#include "net/additional_dl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/models/fake_front_end_test.h"
#include "app/settings.h"
#include "app/startup.h"
#include "net/additional_dl_get.h"
#include "net/file_digest.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

TEST(AdditionalDLList, KeysAreTrimmedAndCaseFreeValuesTrimmedAndUnknownKeysIgnored) {
  const std::string text =
      "\xEF\xBB\xBF\r\n; comment\r\n[Clover Tools]\r\n  url  =  http://h/a/tools.zip  \r\n"
      "SiZe\t= 47941\r\ndescription=Two words \r\nMd5Digest = 0123\r\nPOSTDATE=2022-09-22 20:24\r\n"
      "Colour = blue\r\n;URL=http://h/commented.zip\r\ncatalog = Drivers/Audio\r\n"
      "[second]\r\nURL=http://h/1.zip\r\nURL=http://h/2.zip\r\n";
  const std::vector<AdditionalDLEntry> list = ParseAdditionalDLList(text, 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0], (AdditionalDLEntry{0, kUserDLHeader}));
  AdditionalDLEntry tools{1,      "Clover Tools",         "Drivers/Audio", "Two words",
                          "0123", "http://h/a/tools.zip", "47941",         "2022-09-22 20:24"};
  EXPECT_EQ(list[1], tools);
  // A repeated key overwrites; the group name keeps its letter case.
  EXPECT_EQ(list[2].Name, "second");
  EXPECT_EQ(list[2].URL, "http://h/2.zip");
  const std::vector<AdditionalDLEntry> empty = {{0, kMakerDLHeader}};
  EXPECT_EQ(ParseAdditionalDLList("", 0), empty);
}

TEST(AdditionalDLList, RowsShowTheSizeOnlyWhenGiven) {
  EXPECT_EQ(AdditionalDLRow({1, "Kext", "", "Audio driver", "", "http://h/k.zip", "", ""}),
            "Kext: Audio driver");
  EXPECT_EQ(AdditionalDLRow({1, "Kext", "", "Audio driver", "", "http://h/k.zip", "47941", ""}),
            "Kext 46.8 KB: Audio driver");
  EXPECT_EQ(AdditionalDLRow({0, kMakerDLHeader}), " -- ZOR Additional Downloads: ");
}

class AdditionalDLFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fw-adl-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ClearAdditionalDL();
  }
  void TearDown() override {
    ClearAdditionalDL();
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(AdditionalDLFiles, LoadingAppendsAndAMissingFileAddsNothing) {
  std::ofstream(dir_ / "a.ini") << "[One]\nURL=http://h/1.zip\n[Two]\nURL=http://h/2.zip\n";
  EXPECT_EQ(LoadAdditionalDLList((dir_ / "missing.ini").string(), 1), 0);
  EXPECT_TRUE(AdditionalDL().empty());
  EXPECT_EQ(LoadAdditionalDLList((dir_ / "a.ini").string(), 1), 2);
  EXPECT_EQ(LoadAdditionalDLList((dir_ / "a.ini").string(), 0), 2);
  EXPECT_EQ(AdditionalDLRows(),
            (std::vector<std::string>{" -- User Downloads: ", "One: ", "Two: ",
                                      " -- ZOR Additional Downloads: ", "One: ", "Two: "}));
  EXPECT_EQ(AdditionalDL()[4].IsUser, 0);
}

// The example list written at exit is read back by the list reader as the one entry it describes.
TEST_F(AdditionalDLFiles, TheExampleUserListLoadsAsItsOneEntry) {
  const std::string path = (dir_ / kUserDLFile).string();
  ASSERT_TRUE(WriteIniLines(path, UserDlExampleLines()));
  ASSERT_EQ(LoadAdditionalDLList(path, 1), 1);
  const AdditionalDLEntry e = AdditionalDL()[1];
  EXPECT_EQ(e.Name, "SomeFileName");
  EXPECT_EQ(e.Catalog, "Drivers");
  EXPECT_EQ(e.PostDate, "2022-09-22 20:24");
  EXPECT_EQ(AdditionalDLRow(e), "SomeFileName 46.8 KB: Some text without line feed");
  // Its digest has the length of SHA-1, which the download checks as such.
  DigestKind kind;
  ASSERT_TRUE(DigestKindOfHex(e.MD5Digest, &kind));
  EXPECT_EQ(kind, DigestKind::Sha1);
  AdditionalDLPlace place;
  std::string why;
  ASSERT_TRUE(PlanAdditionalDL(e, "/repo/", &place, &why)) << why;
  EXPECT_EQ(place.Path(), "/repo/Drivers/SomeFileName.zip");
}

TEST_F(AdditionalDLFiles, SortFillsListThirtyTwoAndSelectsTheFirstRow) {
  testing::FakeFrontEnd front;
  std::ofstream(dir_ / "a.ini") << "[One]\nURL=http://h/1.zip\nSize=1000\nDescription=d\n";
  LoadAdditionalDLList((dir_ / "a.ini").string(), 1);
  SortAdditionalDLList();
  const std::vector<std::string> rows = {" -- User Downloads: ", "One 1000 B: d"};
  EXPECT_EQ(front.combo[std::make_pair(2, 32)], rows);
  EXPECT_EQ(front.selection[std::make_pair(2, 32)], 0);
  const std::vector<testing::FakeFrontEnd::Key> widened = {{2, 32}};
  EXPECT_EQ(front.dropWidthSet, widened);
}

// Entries come from downloaded files: none may write outside the repository or under a name that
// is no plain file name.
TEST(AdditionalDLPlan, HostileEntriesAreRefusedAndOrdinaryOnesLandInTheRepository) {
  struct Case {
    std::string url, catalog, path;  // path "" = refused
  };
  const std::vector<Case> cases = {
      {"http://h/d/f.zip", "", "/repo/f.zip"},
      {"http://h/f.zip?x=1#top", "Drivers/Audio", "/repo/Drivers/Audio/f.zip"},
      {"http://h/f.zip", "Drivers\\Audio\\", "/repo/Drivers/Audio/f.zip"},
      {"http://h/f.zip", "./A//B", "/repo/A/B/f.zip"},
      {"ftp://user:pw@h/pub/f.zip", "", "/repo/f.zip"},
      {"http://h/f.zip", "../../etc", ""},
      {"http://h/f.zip", "A/../../etc", ""},
      {"http://h/f.zip", "Drivers/..", ""},
      {"http://h/f.zip", "/etc", ""},
      {"http://h/f.zip", "\\etc", ""},
      {"http://h/dir/", "", ""},
      {"http://h", "", ""},
      {"http://h/..", "", ""},
      {"http://h/.", "", ""},
      {"http://h/a\\..\\b.zip", "", ""},
      {"", "", ""},
      {"file:///etc/passwd", "", ""},
  };
  for (const Case& c : cases) {
    AdditionalDLEntry e;
    e.Name = "x";
    e.URL = c.url;
    e.Catalog = c.catalog;
    AdditionalDLPlace place;
    std::string why;
    const bool ok = PlanAdditionalDL(e, "/repo", &place, &why);
    EXPECT_EQ(ok, !c.path.empty()) << c.url << " " << c.catalog;
    if (ok) {
      EXPECT_EQ(place.Path(), c.path) << c.url << " " << c.catalog;
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
  AdditionalDLEntry nul;
  nul.URL = "http://h/f.zip";
  nul.Catalog = std::string("A\0B", 3);
  AdditionalDLPlace place;
  std::string why;
  EXPECT_FALSE(PlanAdditionalDL(nul, "/repo/", &place, &why));
}

TEST(AdditionalDLPlan, TheMakersSiteComesFromTheEnvironment) {
  ::unsetenv("FLASHWRIGHT_SITE_HOST");
  EXPECT_EQ(MakerSiteHost(), kDefaultMakerSite);
  ::setenv("FLASHWRIGHT_SITE_HOST", "http://127.0.0.1:8080/", 1);
  EXPECT_EQ(MakerSiteHost(), "http://127.0.0.1:8080");
  ::setenv("FLASHWRIGHT_SITE_HOST", "mirror.example.org", 1);
  EXPECT_EQ(MakerSiteHost(), "https://mirror.example.org");
  ::unsetenv("FLASHWRIGHT_SITE_HOST");
}

}  // namespace
}  // namespace fw
