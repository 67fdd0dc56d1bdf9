// The DMG job end to end: fixture images made here, taken apart by the real 7zz.
#include <gtest/gtest.h>

#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/work_folder.h"
#include "app/workers.h"
#include "datasets/hfs_archiver.h"
#include "datasets/hfs_extraction.h"
#include "datasets/mac_image_jobs.h"
#include "tests/hfs/hfs_test_support.h"
#include "tests/hfs/udif_writer.h"

namespace fwtest {
namespace {

class DmgJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hfs_ = HfsPartitionBytes(3000, 11);
    dmg_ = s_.root / "Install.dmg";
    WriteAll(dmg_, MakeHfsDmg(hfs_));
  }
  HfsScratch s_;
  std::string hfs_;
  fs::path dmg_;
};

TEST_F(DmgJobTest, TheHfsPartitionComesOutByteForByte) {
  const fw::HfsJobOutcome out = fw::RunExtractHFSFromDMG(dmg_.string(), s_.repo.string());
  EXPECT_EQ(out.result, 1);
  ASSERT_EQ(out.images.size(), 1u);
  EXPECT_EQ(ReadAll(out.images[0]), hfs_);
  EXPECT_EQ(s_.ui.boxes, std::vector<std::string>{"Info: HFS volume Extracted."});
  EXPECT_EQ(format_op_in_progress.load(), 0);
  // The work folder is emptied, not left with files.
  EXPECT_TRUE(fs::is_empty(fw::ZorTempWorkDir()));
}

TEST_F(DmgJobTest, ASecondRunKeepsTheFirstImage) {
  ASSERT_EQ(fw::RunExtractHFSFromDMG(dmg_.string(), s_.repo.string()).result, 1);
  const std::string other = HfsPartitionBytes(1000, 99);
  WriteAll(dmg_, MakeHfsDmg(other));
  const fw::HfsJobOutcome second = fw::RunExtractHFSFromDMG(dmg_.string(), s_.repo.string());
  ASSERT_EQ(second.result, 1);
  ASSERT_EQ(second.images.size(), 1u);
  EXPECT_EQ(ReadAll(second.images[0]), other);
  int images = 0;
  for (const auto& f : fs::directory_iterator(s_.repo)) {
    const std::string bytes = ReadAll(f.path());
    EXPECT_TRUE(bytes == hfs_ || bytes == other);
    ++images;
  }
  EXPECT_EQ(images, 2);
}

TEST_F(DmgJobTest, ADmgWithoutHfsPartitionsIsAFailure) {
  // The archiver says "Everything is Ok" for an APFS-only image and writes nothing.
  WriteAll(dmg_, MakeApfsDmg(hfs_));
  const fw::HfsJobOutcome apfs = fw::RunExtractHFSFromDMG(dmg_.string(), s_.repo.string());
  EXPECT_EQ(apfs.result, 0);
  EXPECT_TRUE(fs::is_empty(s_.repo));
  // Not a DMG at all: the archiver fails.
  WriteAll(s_.root / "notes.dmg", "just text");
  EXPECT_EQ(fw::RunExtractHFSFromDMG((s_.root / "notes.dmg").string(), s_.repo.string()).result, 0);
  EXPECT_EQ(s_.ui.boxes,
            (std::vector<std::string>{"Error: Can't open \"Install.dmg\"\r\nas DMG archive.",
                                      "Error: Can't open \"notes.dmg\"\r\nas DMG archive."}));
}

TEST_F(DmgJobTest, ChoosersDecideAndCancelEndsQuietly) {
  EXPECT_EQ(fw::ExtractHFSFromDMG(), 0);  // the file chooser cancelled
  s_.ui.openAnswer = dmg_.string();
  EXPECT_EQ(fw::ExtractHFSFromDMG(), 0);  // the folder chooser cancelled
  EXPECT_TRUE(s_.ui.boxes.empty());
  EXPECT_EQ(s_.ui.folderStart, s_.root.string());
  ASSERT_EQ(s_.ui.filters.size(), 2u);
  EXPECT_EQ(s_.ui.filters[0].pattern, "*.dmg");

  const fs::path chosen = s_.root / "chosen";
  fs::create_directories(chosen);
  s_.ui.folderAnswer = chosen.string();
  EXPECT_EQ(fw::ExtractHFSFromDMG(), 1);
  EXPECT_EQ(
      s_.ui.chooserTitles,
      (std::vector<std::string>{"Select DMG-file for extraction", "Select DMG-file for extraction",
                                "Select path to save image file:", "Select DMG-file for extraction",
                                "Select path to save image file:"}));
  ASSERT_EQ(std::distance(fs::directory_iterator(chosen), fs::directory_iterator()), 1);
  EXPECT_EQ(ReadAll(fs::directory_iterator(chosen)->path()), hfs_);
  EXPECT_TRUE(fs::is_empty(s_.repo));
}

TEST_F(DmgJobTest, AMissingArchiverIsReported) {
  fw::SetArchiverProgramForTesting((s_.root / "no-7zz").string());
  EXPECT_EQ(fw::RunExtractHFSFromDMG(dmg_.string(), s_.repo.string()).result, 0);
  fw::SetArchiverProgramForTesting("");
  EXPECT_EQ(s_.ui.boxes, std::vector<std::string>{"Error ! : Error Run Extract HFS volume."});
}

TEST_F(DmgJobTest, TheMenuStartsTheJobOnItsWorkerOnlyWhenIdle) {
  fw::RegisterMacImageJobs();
  s_.ui.openAnswer = dmg_.string();
  s_.ui.folderAnswer = s_.repo.string();
  format_op_in_progress = 1;  // another job runs
  fw::TheJobs().StartExtractHFSFromDMG(0);
  fw::JoinWorkers();
  EXPECT_TRUE(s_.ui.chooserTitles.empty());
  format_op_in_progress = 0;
  fw::TheJobs().StartExtractHFSFromDMG(0);
  fw::JoinWorkers();
  EXPECT_EQ(s_.ui.boxes, std::vector<std::string>{"Info: HFS volume Extracted."});
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_FALSE(fw::StartDLAndExtractHFSImageFromRecoveryHD(0));  // the list is empty
  fw::TheJobs().StartExtractHFSFromDMG = nullptr;
}

}  // namespace
}  // namespace fwtest
