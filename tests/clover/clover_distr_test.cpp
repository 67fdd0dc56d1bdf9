// Clover release archives installed as data sets: from the local repository and downloaded from
// the code-hosting site on 127.0.0.1, onto a folder (the volume case is the format job's).
#include "datasets/clover_distr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/work_folder.h"
#include "datasets/clover_local_distr.h"
#include "datasets/test_support.h"
#include "net/clover_release_download.h"
#include "net/http_get.h"
#include "tests/clover/clover_fixture.h"
#include "tests/clover/clover_test_support.h"

namespace fwtest {
namespace {

using Texts = std::vector<std::string>;

// A clock whose every look is 100 seconds later: the 300-second limit passes after a few looks,
// while the real waits between them stay short.
class HurriedClock final : public fw::Clock {
 public:
  void Pause(int64_t) override {}
  int64_t NowMs() const override { return now_ += 100000; }

 private:
  mutable std::atomic<int64_t> now_{0};
};

class CloverDistrTest : public CloverTest {
 protected:
  void SetUp() override {
    CloverTest::SetUp();
    site_.Activate();
  }
  void TearDown() override {
    fw::SetClockForTesting(nullptr);
    fw::JoinGetCloverRevThread();
    CloverTest::TearDown();
  }
  // The release archive of `rev` offered by the site (and its bytes), with `bulk` bytes that do
  // not compress.
  std::string OfferArchive(const std::string& rev, size_t bulk = 0) {
    CloverIsoOptions iso;
    iso.rev = rev;
    if (bulk > 0) iso.extra.push_back({"EFI/CLOVER/OEM/noise.bin", Noise(bulk)});
    const fs::path made = MakeCloverReleaseArchive(root_ / "made", iso);
    const std::string bytes = Slurp(made);
    site_.SetArchive(rev, bytes);
    return bytes;
  }
  Texts Boxes() const { return ui_.BoxTexts(); }

  FakeCodeHost site_;
};

TEST_F(CloverDistrTest, LocalArchiveIsInstalledAndKeptAsZip) {
  CloverIsoOptions iso;
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, iso).empty());
  fw::TheCloverChoice() = {(repo_ / "Clover-5119-X64.iso.7z").string(), "5119"};
  fw::Settings().SaveLatestCloverAfterDL = 1;
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 1), 1);
  EXPECT_EQ(FilesUnder(dest_), CloverDataSetTree(iso));
  EXPECT_TRUE(ui_.Saw("Use Clover-5119-X64.iso.7z"));
  EXPECT_TRUE(ui_.Saw("Clover-5119-X64.zip Saved to Clover Local Repo"));
  EXPECT_EQ(ui_.active, fw::kMainWindow);
  EXPECT_TRUE(Boxes().empty());
  // The next scan lists the revision twice: the archive and the zip made from it.
  fw::FindCloverLocalDistr();
  const auto listed = fw::CloverLocalDistrs();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].Rev, 5119);
  EXPECT_EQ(listed[1].Rev, 5119);
  EXPECT_EQ(ZipEntries(repo_ / "Clover-5119-X64.zip"), CloverDataSetTree(iso));
}

TEST_F(CloverDistrTest, LatestReleaseIsDownloadedUnpackedAndInstalled) {
  OfferArchive("5151");
  fw::CloverDLRev() = "5151";
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 1);
  CloverIsoOptions iso;
  iso.rev = "5151";
  EXPECT_EQ(FilesUnder(dest_), CloverDataSetTree(iso));
  EXPECT_TRUE(ui_.Saw("Clover r5151 Downloaded"));
  EXPECT_TRUE(Boxes().empty());
  // The zip stays in the work folder; without SaveLatestCloverAfterDL the repository is unchanged.
  EXPECT_TRUE(fs::exists(fw::ZorTempWorkDir() + "Clover-5151-X64.zip"));
  EXPECT_TRUE(FilesUnder(repo_).empty());
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

TEST_F(CloverDistrTest, PreparedZipWaitsForTheInstall) {
  OfferArchive("5151");
  fw::CloverDLRev() = "5151";
  fw::Settings().SaveLatestCloverAfterDL = 1;
  std::string zip;
  ASSERT_EQ(fw::PrepareCloverDataSetZip(0, &zip), 1);
  EXPECT_EQ(zip, fw::ZorTempWorkDir() + "Clover-5151-X64.zip");
  EXPECT_TRUE(FilesUnder(dest_).empty());
  EXPECT_TRUE(FilesUnder(repo_).empty());  // kept only after it was installed
  EXPECT_EQ(fw::InstallCloverDataSetZip(dest_.string(), zip), 1);
  EXPECT_EQ(FilesUnder(repo_), (Texts{"Clover-5151-X64.zip"}));
  EXPECT_FALSE(FilesUnder(dest_).empty());
}

TEST_F(CloverDistrTest, MissingReleaseEndsWithoutABox) {
  fw::CloverDLRev() = "4000";  // nothing offered
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 0);
  EXPECT_TRUE(ui_.Saw("HTTP status code = 404"));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(FilesUnder(dest_).empty());
}

TEST_F(CloverDistrTest, DownloadThatIsNoArchive) {
  site_.SetArchive("5151", "<html>a login page</html>");
  fw::CloverDLRev() = "5151";
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 0);
  EXPECT_TRUE(ui_.Saw("Error: The downloaded file is not an LZMA file."));
  EXPECT_TRUE(FilesUnder(dest_).empty());
}

TEST_F(CloverDistrTest, BrokenArchiveShowsTheExtractError) {
  std::string bytes("7z\xBC\xAF\x27\x1C", 6);
  bytes += std::string(5000, '\x33');
  site_.SetArchive("5151", bytes);
  fw::CloverDLRev() = "5151";
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 0);
  EXPECT_EQ(Boxes(), (Texts{"Error!: Error During Extract Latest Clover Data Set."}));
  EXPECT_TRUE(FilesUnder(dest_).empty());
}

TEST_F(CloverDistrTest, MissingArchiverShowsTheExtractError) {
  CloverIsoOptions iso;
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, iso).empty());
  fw::TheCloverChoice() = {(repo_ / "Clover-5119-X64.iso.7z").string(), "5119"};
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (root_ / "no-programs").c_str(), 1);
  const int result = fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 1);
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Boxes(), (Texts{"Error!: Error During Extract Latest Clover Data Set."}));
}

TEST_F(CloverDistrTest, MissingLocalArchiveFailsInTheUnpackSteps) {
  fw::TheCloverChoice() = {(repo_ / "Clover-5119-X64.iso.7z").string(), "5119"};
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 1), 0);
  EXPECT_EQ(Boxes(), (Texts{"Error!: Error During Extract Latest Clover Data Set."}));
}

TEST_F(CloverDistrTest, DownloadLongerThanTheLimitTimesOut) {
  // 2 MiB in 64 KiB pieces every 200 ms: the first 512 KiB chunk arrives after 1.6 s.
  OfferArchive("5151", 2 * 1024 * 1024);
  site_.SetDownloadDripMs(200);
  HurriedClock clock;
  fw::SetClockForTesting(&clock);
  fw::CloverDLRev() = "5151";
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 0);
  EXPECT_EQ(Boxes(), (Texts{"Error!: Can't download Latest Clover: Timeout 300 secs."}));
  // The abandoned worker stops at its next chunk and gives the transfer record back.
  fw::JoinGetCloverRevThread();
  EXPECT_EQ(fw::LastCloverDownload().code, fw::kWebAborted);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

TEST_F(CloverDistrTest, BusyTransferRecordMeansNoDownload) {
  flgNetThreadRunning = 1;
  fw::CloverDLRev() = "5151";
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 0);
  EXPECT_EQ(Boxes(), (Texts{"Error!: Can't download Latest Clover."}));
}

TEST_F(CloverDistrTest, WorkFolderThatCannotBeMade) {
  ::setenv("TMPDIR", (root_ / "not-a-folder").c_str(), 1);
  WriteFile(root_ / "not-a-folder", "a file");
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 0), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].rfind("Error!: Can't create TEMP folder!", 0), 0u);
}

TEST_F(CloverDistrTest, FailedSaveKeepsTheResult) {
  CloverIsoOptions iso;
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, iso).empty());
  fw::TheCloverChoice() = {(repo_ / "Clover-5119-X64.iso.7z").string(), "5119"};
  fw::Settings().SaveLatestCloverAfterDL = 1;
  fw::Settings().CloverLocalRepository = (root_ / "gone/").string();
  EXPECT_EQ(fw::DLAndExtractCloverFromCloverDistrISO(dest_.string(), 1), 1);
  EXPECT_FALSE(ui_.Saw("Clover-5119-X64.zip Saved to Clover Local Repo"));
  EXPECT_FALSE(fs::exists(root_ / "gone"));
}

}  // namespace
}  // namespace fwtest
