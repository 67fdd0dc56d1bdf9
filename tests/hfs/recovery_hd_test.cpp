// The Recovery HD catalog search and the package job end to end: catalogs, companion documents and
// packages served on 127.0.0.1 through the real libcurl transport, packages taken apart by 7zz.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/globals.h"
#include "app/settings.h"
#include "app/work_folder.h"
#include "datasets/hfs_extraction.h"
#include "datasets/mac_image_jobs.h"
#include "net/catalog_test_support.h"
#include "net/file_digest.h"
#include "net/http_get.h"
#include "net/recovery_hd_cache.h"
#include "net/recovery_hd_search.h"
#include "net/sucatalog_urls.h"
#include "tests/hfs/hfs_test_support.h"
#include "tests/hfs/udif_writer.h"

namespace fwtest {
namespace {

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

std::string Sha1(const std::string& data) {
  fw::Digest d(fw::DigestKind::Sha1);
  d.Update(data.data(), data.size());
  return d.FinalHex();
}

std::string PackageUrlPath(const std::string& product, const std::string& file) {
  return "/pkgs/content/downloads/12/34/" + product + "-A_XYZ/key/" + file;
}

class CatalogSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("FLASHWRIGHT_CATALOG_HOST", web_.Root().c_str(), 1);
    fw::Settings().SummarySucatalogUrls.clear();
    fw::MakeInternalSucatalogList(fw::Settings().SummarySucatalogUrls);
    fw::RemoveDoublesSUCatalogURLList(fw::Settings().SummarySucatalogUrls);
  }
  void TearDown() override { ::unsetenv("FLASHWRIGHT_CATALOG_HOST"); }

  std::string CatalogPath(int minor) {
    std::string path = "/content/catalogs/others/index";
    for (int v = minor; v >= 9; --v) path += "-10." + std::to_string(v);
    return path + "-mountainlion-lion-snowleopard-leopard.merged-1.sucatalog";
  }
  CatalogPackage Package(const std::string& product, const std::string& file,
                         const std::string& digest, const std::string& metadataPath = "") {
    return {web_.Url(PackageUrlPath(product, file)), "1000", digest,
            metadataPath.empty() ? "" : web_.Url(metadataPath)};
  }

  HfsScratch s_;
  DocumentServer web_;
};

TEST_F(CatalogSearchTest, CatalogsAreSearchedCompletedReducedAndSaved) {
  // Companion documents on other paths than the packages: only the catalog names them.
  web_.Put("/meta/A.pkm", {PkmXml("com.apple.pkg.RecoveryHDUpdate.17G65")});
  web_.Put("/meta/B.pkm", {PkmXml("com.apple.pkg.RecoveryHDUpdate")});
  web_.Put("/dist/031-10002.English.dist", {DistXml("17G66")});
  web_.Put("/meta/D.pkm", {PkmXml("com.apple.pkg.RecoveryHDUpdate.17G65")});
  web_.Put("/meta/E.pkm", {PkmXml("com.apple.pkg.RecoveryHDUpdate.16G29")});
  // Without a MetadataURL the document is looked for beside the package.
  web_.Put(PackageUrlPath("041-10003", "RecoveryHDMetaDmg.pkm"),
           {PkmXml("com.apple.pkg.RecoveryHDMetaDmg.18G103")});
  web_.Put(CatalogPath(13),
           {CatalogXml({
               {"031-10001",
                "2018-07-01T10:00:00Z",
                "",
                {Package("031-10001", "RecoveryHDUpdate.pkg", "dA", "/meta/A.pkm")}},
               {"031-10002",
                "2018-09-01T10:00:00Z",
                web_.Url("/dist/031-10002.English.dist"),
                {Package("031-10002", "RecoveryHDUpdate.pkg", "dB", "/meta/B.pkm")}},
               {"041-10003",
                "2019-10-01T10:00:00Z",
                "",
                {Package("041-10003", "InstallESDDmg.pkg", "x1"),
                 Package("041-10003", "RecoveryHDMetaDmg.pkg", "dC"),
                 Package("041-10003", "InstallInfo.plist", "x2")}},
               {"031-10004",
                "2018-06-01T10:00:00Z",
                "",
                {Package("031-10004", "RecoveryHDUpdate.pkg", "dD", "/meta/D.pkm")}},
           })});
  // A compressed answer that nobody asked for, holding a double (by digest) and a new package.
  web_.Put(CatalogPath(14),
           {Gzip(CatalogXml({
                {"031-10001",
                 "2018-07-01T10:00:00Z",
                 "",
                 {Package("031-10001", "RecoveryHDUpdate.pkg", "dA", "/meta/A.pkm")}},
                {"031-10005",
                 "2017-07-01T10:00:00Z",
                 "",
                 {Package("031-10005", "RecoveryHDUpdate.pkg", "dE", "/meta/E.pkm")}},
            })),
            "Content-Encoding: gzip\r\n"});
  web_.Put(CatalogPath(15), {"<html>gone</html>\n<p>"});

  const fw::RecoveryHDSearchOutcome out = fw::RunCheckRecoveryHD();
  EXPECT_EQ(out.catalogs, 14);
  EXPECT_EQ(out.catalogsRead, 2);
  ASSERT_TRUE(out.replaced);
  const std::vector<std::string> names = {"(16G29) Sierra 2017-07-01 1000 B",
                                          "(17G66) High Sierra 2018-09-01 1000 B",
                                          "(18G103) Mojave 2019-10-01 1000 B"};
  EXPECT_EQ(fw::RecoveryHDRows(), names);
  EXPECT_EQ(s_.ui.comboItems, names);
  EXPECT_EQ(s_.ui.comboSelected, 2);
  EXPECT_EQ(fw::RecoveryHDEntryAt(2).URL,
            web_.Url(PackageUrlPath("041-10003", "RecoveryHDMetaDmg.pkg")));
  EXPECT_EQ(fw::RecoveryHDEntryAt(1).Digest, "dB");  // from the cache beside the settings
  EXPECT_EQ(fw::RecoveryHDEntryAt(1).Size, "1000");

  // The settings file and the cache were written.
  const std::string ini = ReadAll(s_.root / "flashwright.ini");
  EXPECT_NE(
      ini.find("[Download Data Settings]\r\n; Name of Recovery HD = URL for Download\r\n" +
               names[0] + " = " + web_.Url(PackageUrlPath("031-10005", "RecoveryHDUpdate.pkg"))),
      std::string::npos);
  EXPECT_EQ(fw::ParseRecoveryHDCache(ReadAll(s_.root / "RecoveryHD.cache")).size(), 3u);

  EXPECT_TRUE(s_.ui.Saw("Checking for Updates ... Wait Please"));
  EXPECT_TRUE(s_.ui.Saw("Update RecoveryHD List ... Error: Get SUCatalog"));
  EXPECT_TRUE(s_.ui.Saw("Update RecoveryHD List ... Ended"));
  EXPECT_EQ(s_.ui.boxes,
            std::vector<std::string>{"Error: Error in the XML file:\rMessage: junk after "
                                     "document element\rLine: 2   Character: 0"});
  // The addresses derived from the package URLs were not needed where the catalog named its own.
  const std::vector<std::string> asked = web_.Paths();
  EXPECT_FALSE(Has(asked, PackageUrlPath("031-10001", "RecoveryHDUpdate.pkm")));
  EXPECT_FALSE(Has(asked, PackageUrlPath("031-10002", "031-10002.English.dist")));
  EXPECT_TRUE(Has(asked, "/dist/031-10002.English.dist"));
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);

  // Every build, when not only the newest of each macOS version is wanted.
  fw::Settings().SearchOnlyNewestRevRecoveryHD = 0;
  EXPECT_EQ(fw::RunCheckRecoveryHD().list.size(), 4u);
}

TEST_F(CatalogSearchTest, ASearchThatReadsNoCatalogKeepsTheList) {
  fw::Settings().DownloadData = {{"(17G66) High Sierra", "http://old/RecoveryHDUpdate.pkg"}};
  const fw::RecoveryHDSearchOutcome out = fw::RunCheckRecoveryHD();
  EXPECT_EQ(out.catalogsRead, 0);
  EXPECT_FALSE(out.replaced);
  EXPECT_EQ(fw::RecoveryHDRows(), std::vector<std::string>{"(17G66) High Sierra"});
  // ... and a search never runs beside another transfer.
  ASSERT_TRUE(fw::TryStartNetTransfer());
  EXPECT_TRUE(fw::RunCheckRecoveryHD().busy);
  EXPECT_EQ(flgNetThreadRunning.load(), 1);
  fw::EndNetTransfer();
}

class PackageJobTest : public ::testing::Test {
 protected:
  void SetUp() override { hfs_ = HfsPartitionBytes(2500, 21); }
  fw::RecoveryHDEntry Serve(const std::string& package, const std::string& size = "",
                            const std::string& digest = "") {
    web_.Put("/pkg/RecoveryHDUpdate.pkg", {package});
    fw::RecoveryHDEntry e;
    e.Name = "(18G103) Mojave 2019-10-01";
    e.URL = web_.Url("/pkg/RecoveryHDUpdate.pkg");
    e.Size = size.empty() ? std::to_string(package.size()) : size;
    e.Digest = digest.empty() ? Sha1(package) : digest;
    return e;
  }
  std::vector<std::string> Images() {
    std::vector<std::string> images;
    for (const auto& f : fs::directory_iterator(s_.repo)) images.push_back(ReadAll(f.path()));
    return images;
  }
  HfsScratch s_;
  DocumentServer web_;
  std::string hfs_;
};

TEST_F(PackageJobTest, ThePackagesImageLandsInTheRepository) {
  const fw::HfsJobOutcome out =
      fw::DLAndExtractHFSImageFromRecoveryHD(Serve(RecoveryHDPackage(hfs_)));
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(Images(), std::vector<std::string>{hfs_});
  EXPECT_EQ(s_.ui.boxes,
            std::vector<std::string>{
                "Info: \tSummary Information:\r\n\r\nDL Recovery HD file for macOS: \r\n\"(18G103) "
                "Mojave 2019-10-01\" ........... Success\r\nExtract HFS-Image (*.hfs) file "
                "................. Success\r\nSave in the Directory: \"" +
                s_.repo.string() +
                "/\" ........... Success\r\n\r\nAn ZORImage file can be restored to the required "
                "Partition\r\nusing the button [Restore ...]."});
  EXPECT_EQ(s_.ui.controlTexts, (std::vector<std::string>{"0/1=Cancel DL", "0/1=DL Center"}));
  EXPECT_TRUE(s_.ui.Saw("RecoveryHD.pkg Downloaded"));
  EXPECT_TRUE(s_.ui.Saw("Done"));
  EXPECT_EQ(fw::ZorTempWorkDir(), "");  // the work folder went with the package
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

TEST_F(PackageJobTest, AnInstallerProductsMetaDmgPackageIsOpenedAsTheDmg) {
  const fw::HfsJobOutcome out =
      fw::DLAndExtractHFSImageFromRecoveryHD(Serve(RecoveryHDMetaDmgPackage(hfs_)));
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(Images(), std::vector<std::string>{hfs_});
}

TEST_F(PackageJobTest, APackageOtherThanTheCatalogSaysIsAFailedDownload) {
  const std::string package = RecoveryHDPackage(hfs_);
  fw::HfsJobOutcome out =
      fw::DLAndExtractHFSImageFromRecoveryHD(Serve(package, std::to_string(package.size() + 100)));
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.downloadCode, fw::kWebSizeMismatch);
  EXPECT_EQ(out.unpackCode, -2);
  // The engine's own text for a length other than expected.
  EXPECT_TRUE(std::any_of(s_.ui.statuses.begin(), s_.ui.statuses.end(), [](const std::string& t) {
    return t.rfind("Error writing to the file ", 0) == 0 &&
           t.find("/RecoveryHD.pkg") != std::string::npos;
  }));
  out = fw::DLAndExtractHFSImageFromRecoveryHD(
      Serve(package, "", "0123456789abcdef0123456789abcdef01234567"));
  EXPECT_EQ(out.result, 0);
  EXPECT_TRUE(s_.ui.Saw("The SHA-1 digest of RecoveryHD.pkg does not match the catalog"));
  EXPECT_TRUE(Images().empty());
  EXPECT_TRUE(s_.ui.boxes.empty());

  // A later run knows the size from the cache that the search wrote.
  fw::RecoveryHDEntry bare = Serve(package);
  bare.Size = std::to_string(package.size() - 1);
  ASSERT_TRUE(fw::SaveRecoveryHDCache({bare}));
  bare.Size.clear();
  bare.Digest.clear();
  EXPECT_EQ(fw::DLAndExtractHFSImageFromRecoveryHD(bare).downloadCode, fw::kWebSizeMismatch);
}

TEST_F(PackageJobTest, APackageWithoutHfsPartitionEndsWithErrorCode4) {
  const fw::HfsJobOutcome out =
      fw::DLAndExtractHFSImageFromRecoveryHD(Serve(RecoveryHDPackage(hfs_, /*apfs=*/true)));
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.unpackCode, 4);
  EXPECT_TRUE(s_.ui.Saw("Extract HFS-Image from RecoveryHD.pkg ErrorCode: 4"));
  EXPECT_TRUE(s_.ui.boxes.empty());
  EXPECT_TRUE(Images().empty());
}

TEST_F(PackageJobTest, NoSecondDownloadBesideARunningTransfer) {
  ASSERT_TRUE(fw::TryStartNetTransfer());
  const fw::HfsJobOutcome out =
      fw::DLAndExtractHFSImageFromRecoveryHD(Serve(RecoveryHDPackage(hfs_)));
  fw::EndNetTransfer();
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(s_.ui.boxes,
            std::vector<std::string>{
                "Error!: Can't download RecoveryHD for MAC OS X (18G103) Mojave 2019-10-01"});
  EXPECT_EQ(s_.ui.controlTexts.back(), "0/1=DL Center");
}

TEST_F(PackageJobTest, CancelDLStopsTheDownload) {
  TestServer slow(TestServer::Scripted([](const Request&, int) {
    Plan p;
    p.size = 64 << 20;
    p.dripMs = 5;
    return p;
  }));
  fw::RecoveryHDEntry e;
  e.Name = "(17G66) High Sierra";
  e.URL = slow.Url("/RecoveryHDUpdate.pkg");
  std::thread pressCancel([this] {
    while (!s_.ui.Saw("Connecting ... Wait Please"))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    CancelMainThread = 1;  // what the DL Center button does while it reads "Cancel DL"
  });
  const fw::HfsJobOutcome out = fw::DLAndExtractHFSImageFromRecoveryHD(e);
  pressCancel.join();
  slow.Stop();
  EXPECT_EQ(out.downloadCode, fw::kWebAborted);
  EXPECT_EQ(out.result, 0);
  EXPECT_TRUE(s_.ui.boxes.empty());
  EXPECT_EQ(CancelMainThread.load(), 0);
  EXPECT_EQ(s_.ui.controlTexts.back(), "0/1=DL Center");
}

}  // namespace
}  // namespace fwtest
