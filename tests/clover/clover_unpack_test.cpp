// The release-archive steps with the real 7-Zip archiver on archives built by the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datasets/clover_iso_unpack.h"
#include "datasets/test_support.h"
#include "tests/clover/clover_fixture.h"
#include "tests/clover/clover_test_support.h"

namespace fwtest {
namespace {

using Lines = std::vector<std::string>;

class CloverUnpackTest : public CloverTest {
 protected:
  int Unpack(const std::string& archiveName, int zipLevel = 9,
             const std::string& archiver = "7zz") {
    fw::UnpackCloverIsoOptions options;
    options.archiver = archiver;
    options.zipLevel = zipLevel;
    options.onLine = [this](std::string_view line) { lines_.emplace_back(line); };
    return fw::UnpackCloverIso(repo_.string() + "/", archiveName, options);
  }
  bool SaidSomething(const std::string& part) const {
    for (const auto& l : lines_)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  Lines lines_;
};

TEST_F(CloverUnpackTest, ReleaseArchiveBecomesTheDataSetZip) {
  CloverIsoOptions iso;
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, iso).empty());
  ASSERT_EQ(Unpack("Clover-5119-X64.iso.7z"), fw::kUnpackOk);
  const fs::path zip = repo_ / "Clover-5119-X64.zip";
  // The ISO's tree, the root boot files, no [BOOT] view and no ISO; the unpack folder is gone.
  EXPECT_EQ(ZipEntries(zip), CloverDataSetTree(iso));
  EXPECT_EQ(FilesUnder(repo_), (Lines{"Clover-5119-X64.iso.7z", "Clover-5119-X64.zip"}));
  // The zip's "boot" is boot6, and it names the revision for the repository scan.
  const fs::path out = root_ / "out";
  ASSERT_EQ(Output("cd '" + root_.string() + "' && 7zz x -bd -oout '" + zip.string() +
                   "' >/dev/null; echo $?"),
            "0\n");
  EXPECT_EQ(Slurp(out / "boot"), Slurp(out / "usr/standalone/i386/x64/boot6"));
  EXPECT_NE(Slurp(out / "boot").find("Clover revision: 5119"), std::string::npos);
}

TEST_F(CloverUnpackTest, ZipLevelChangesTheCompressionOnly) {
  CloverIsoOptions iso;
  iso.extra.push_back({"EFI/CLOVER/doc.txt", std::string(200000, 'c')});
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, iso).empty());
  ASSERT_EQ(Unpack("Clover-5119-X64.iso.7z", 0), fw::kUnpackOk);
  const fs::path zip = repo_ / "Clover-5119-X64.zip";
  const auto storedSize = fs::file_size(zip);
  const Lines stored = ZipEntries(zip);
  ASSERT_EQ(Unpack("Clover-5119-X64.iso.7z", 9), fw::kUnpackOk);
  EXPECT_EQ(ZipEntries(zip), stored);
  EXPECT_LT(fs::file_size(zip) + 150000, storedSize);
}

TEST_F(CloverUnpackTest, ExitCodesKeepTheScriptMeanings) {
  EXPECT_EQ(Unpack(""), fw::kUnpackUsage);
  EXPECT_EQ(Unpack("Clover-4000-X64.iso.7z"), fw::kUnpackNoArchive);
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, CloverIsoOptions{}).empty());
  EXPECT_EQ(Unpack("Clover-5119-X64.iso.7z", 9, "7zz-not-installed"), fw::kUnpackNoArchiver);
  EXPECT_TRUE(SaidSomething("package 7zip"));
  EXPECT_EQ(FilesUnder(repo_), (Lines{"Clover-5119-X64.iso.7z"}));
}

TEST_F(CloverUnpackTest, ArchiveWithoutAPlainIsoFails) {
  // 7zz takes nothing out and still exits 0; a link named like an image is not read either.
  fs::create_directories(root_ / "src");
  WriteFile(root_ / "src" / "readme.txt", "no image here");
  fs::create_symlink("/etc/hostname", root_ / "src" / "Clover-5121-X64.iso");
  ASSERT_EQ(Output("cd '" + (root_ / "src").string() + "' && 7zz a -bd -snl '" +
                   (repo_ / "Clover-5121-X64.iso.7z").string() +
                   "' readme.txt Clover-5121-X64.iso >/dev/null; echo $?"),
            "0\n");
  EXPECT_EQ(Unpack("Clover-5121-X64.iso.7z"), fw::kUnpackArchiverFailed);
  EXPECT_TRUE(SaidSomething("No ISO image"));
  EXPECT_EQ(FilesUnder(repo_), (Lines{"Clover-5121-X64.iso.7z"}));
}

TEST_F(CloverUnpackTest, MissingBoot6GivesAWarningAndNoBootFile) {
  CloverIsoOptions iso;
  iso.withBoot6 = false;
  ASSERT_FALSE(MakeCloverReleaseArchive(repo_, iso).empty());
  ASSERT_EQ(Unpack("Clover-5119-X64.iso.7z"), fw::kUnpackOk);
  EXPECT_EQ(ZipEntries(repo_ / "Clover-5119-X64.zip"), CloverDataSetTree(iso));
  EXPECT_TRUE(SaidSomething("Warning: no boot6"));
}

TEST(CloverUnpackFolder, FollowsTheArchiveName) {
  EXPECT_EQ(fw::CloverIsoUnpackFolder("/r/Clover-5119-X64.iso.7z"), "Clover-5119-X64");
  EXPECT_EQ(fw::CloverIsoUnpackFolder("Clover-5119-X64.ISO.7z"), "Clover-5119-X64");
  EXPECT_EQ(fw::CloverIsoUnpackFolder("clover.7z"), "clover");
}

}  // namespace
}  // namespace fwtest
