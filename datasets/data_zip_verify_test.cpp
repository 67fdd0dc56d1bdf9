#include "datasets/data_zip_verify.h"

#include <gtest/gtest.h>

#include "app/globals.h"
#include "datasets/data_zip.h"
#include "datasets/packed_items.h"
#include "datasets/test_support.h"

namespace {

using namespace fwtest;

int32_t Verify(const Scratch& s, const std::string& target, fw::DataZipCheck* check) {
  return fw::VerifyDataZip(nullptr, 0, target, false, s.Path("d.zip").string(), true, check);
}

TEST(VerifyDataZip, ExtractedFilesReadBackAndAChangedOneIsNamed) {
  Scratch s;
  // A folder entry, a name given twice (the second one is what lands), names the extraction
  // refuses and an empty file.
  WriteFile(s.Path("d.zip"), MakeZip({{"EFI/", "", true},
                                      {"EFI/CLOVER/config.plist", "<plist version=\"1.0\"/>"},
                                      {"EFI/BOOT/BOOTX64.efi", std::string(300000, 'x')},
                                      {"EFI/CLOVER/config.plist", "<plist version=\"2.0\"/>"},
                                      {"../outside", "x"},
                                      {"link", "", false, "/etc/passwd"},
                                      {"empty", ""}}));
  const std::string target = s.Path("out").string();
  ASSERT_EQ(fw::ExtractDataZip(nullptr, 0, target, false, s.Path("d.zip").string(), false, false),
            1);
  fw::DataZipCheck check;
  EXPECT_EQ(Verify(s, target, &check), 1);
  EXPECT_EQ(check.files, 3);
  EXPECT_EQ(check.failedFile, "");
  EXPECT_EQ(s.ui.statuses.back().first, "Verified (3/3) files on " + target);

  // The same size with one byte changed, a shorter file, a missing one.
  std::string boot = ReadFile(s.Path("out/EFI/BOOT/BOOTX64.efi"));
  boot[123456] = 'y';
  WriteFile(s.Path("out/EFI/BOOT/BOOTX64.efi"), boot);
  EXPECT_EQ(Verify(s, target, &check), 0);
  EXPECT_EQ(check.failedFile, "EFI/BOOT/BOOTX64.efi");
  EXPECT_EQ(check.files, 1);
  WriteFile(s.Path("out/EFI/BOOT/BOOTX64.efi"), std::string(299999, 'x'));
  EXPECT_EQ(Verify(s, target, &check), 0);
  EXPECT_EQ(check.failedFile, "EFI/BOOT/BOOTX64.efi");
  WriteFile(s.Path("out/EFI/BOOT/BOOTX64.efi"), std::string(300000, 'x'));
  fs::remove(s.Path("out/empty"));
  EXPECT_EQ(Verify(s, target, &check), 0);
  EXPECT_EQ(check.failedFile, "empty");
}

TEST(VerifyDataZip, NothingToCompareAgainstIsAFailureWithoutAName) {
  Scratch s;
  fw::DataZipCheck check;
  // No zip, a file that is no zip, a volume nobody can open.
  EXPECT_EQ(Verify(s, s.Path("out").string(), &check), 0);
  WriteFile(s.Path("d.zip"), "not a zip at all");
  EXPECT_EQ(Verify(s, s.Path("out").string(), &check), 0);
  WriteFile(s.Path("d.zip"), MakeZip({{"a", "1"}}));
  EXPECT_EQ(Verify(s, "E:", &check), 0);
  EXPECT_EQ(check.failedFile, "");
  // A cancelled format job cancels the check.
  FormatStatus = 1;
  EXPECT_EQ(Verify(s, s.Path("out").string(), &check), 0);
  EXPECT_EQ(check.failedFile, "");
}

TEST(VerifyDataZip, PackedItemsAreCheckedFromTheirOwnTemporaryZip) {
  Scratch s;
  const std::string target = s.Path("fd").string();
  ASSERT_EQ(fw::ExtractDataZip(PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength), target,
                               true, "", false, false),
            1);
  fw::DataZipCheck check;
  EXPECT_EQ(fw::VerifyDataZip(PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength), target,
                              true, "", false, &check),
            1);
  EXPECT_GT(check.files, 0);
  // Its temporary zip is gone again (making it removed the extraction's older one).
  EXPECT_TRUE(s.FilesUnder(s.work).empty());
}

}  // namespace
