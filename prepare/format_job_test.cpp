#include "prepare/format_job.h"

#include <gtest/gtest.h>

#include "prepare/format_steps.h"

namespace fw {
namespace {

SettingsRecord With(const std::string& br, const std::string& fs, const std::string& align,
                    const std::string& dataSet) {
  SettingsRecord s;
  s.Boot_records = br;
  s.FileSystem = fs;
  s.StartLBASector = align;
  s.InstallDataSet = dataSet;
  return s;
}

TEST(TaskSummary, EachBootRecordChoiceDescribesItsJob) {
  CloverChoice latest;
  EXPECT_EQ(BuildTaskSummary(With("Clover", "exFAT", "2048", "DL"), 1, latest, "0"),
            "Task:\tInstall Full Data\r\nMBR:\tboot0 (Clover)\r\nPBR:\tboot1xalt (Clover)\r\n"
            "Align:\tto flash block (2048 sects)\r\nFS:\texFAT\r\nClover:\tDL Latest Rev.\r\n");
  EXPECT_EQ(BuildTaskSummary(With("Windows", "NTFS", "63", "DL"), 0, latest, "0"),
            "Task:\tWindows format only \r\nMBR:\tUSB-HDD+ (UltraISO)\r\nPBR:\tStandart "
            "(Windows)\r\nAlign:\tto cylinder (63 sects)\r\nFS:\tNTFS\r\n\r\n");
  // FreeDos with InstallData 0 has an empty task; an unknown alignment gives no line.
  EXPECT_EQ(BuildTaskSummary(With("FreeDos", "FAT32-LBA", "1000", "DL"), 0, latest, "0"),
            "Task:\t\r\nMBR:\tUSB-HDD+ (UltraISO)\r\nPBR:\tFat32LBA(FreeDos)\r\nFS:\tFAT32-LBA\r\n"
            "\r\n");
  CloverChoice local{"/repo/Clover-5151-X64.zip", "5151"};
  EXPECT_EQ(BuildTaskSummary(With("Not_Format", "FAT32", "8192", "Local"), 1, local, "0"),
            "Task:\tInstall Full Data\r\nClover:\tLocal r5151 from\r\n\tClover-5151-X64.zip\r\n");
  EXPECT_EQ(BuildTaskSummary(With("Clover", "FAT32", "4096", "DL"), 0, latest, "5100"),
            "Task:\tClover format only\r\nMBR:\tboot0 (Clover)\r\nPBR:\tboot1f32alt (Clover)\r\n"
            "Align:\tto 4096 (sects)\r\nFS:\tFAT32\r\nClover:\tDL r5100\r\n");
}

TEST(TaskSummary, DeviceDescriptionAddsLettersOnlyWhenThereAreSome) {
  DiskRecord d;
  d.ProductId = "Flash Disk";
  d.VendorId = "Generic";
  d.DiskLength = 1024LL * 1024 * 1024;
  const std::string bare = BuildDeviceDescription(d);
  EXPECT_EQ(bare.rfind("Flash Disk Generic ", 0), 0u);
  EXPECT_EQ(bare.find('('), std::string::npos);
  d.DriveLetters = "E: F:";
  EXPECT_EQ(BuildDeviceDescription(d), bare + " (E: F:)");
}

TEST(TaskSummary, AnImageIsNamedByItsFullPath) {
  DiskRecord d;
  d.ProductId = "disk.img";
  d.VendorId = "Image";
  d.ImageFile = "/home/u/b/disk.img";
  d.DiskLength = 64LL * 1024 * 1024;
  EXPECT_EQ(BuildDeviceDescription(d), "/home/u/b/disk.img Image 64 MB");
}

TEST(FormatArguments, InstallDataAndRevisionNames) {
  EXPECT_EQ(FormatInstallDataArgument(With("FreeDos", "", "", "Not_Install")), 1);
  EXPECT_EQ(FormatInstallDataArgument(With("Clover", "", "", "Local")), 1);
  EXPECT_EQ(FormatInstallDataArgument(With("Not_Format", "", "", "Not_Install")), 0);
  EXPECT_EQ(FormatInstallDataArgument(With("Windows", "", "", "DL")), 0);
  EXPECT_EQ(CloverRevisionOfName("/r/Clover-5151-X64.zip"), "5151");
  EXPECT_EQ(CloverRevisionOfName("clover-4920-X64.iso.7z"), "4920");
  EXPECT_EQ(CloverRevisionOfName("Clover-X64.zip"), "");
  EXPECT_EQ(CloverRevisionOfName("boot.zip"), "");
}

TEST(BootImages, LayoutKeepsTheParameterAreasFree) {
  const JobBootImages clover = JobSelectBootImages("Clover", "FAT32");
  ASSERT_EQ(clover.MbrImage.size(), 512u);
  ASSERT_EQ(clover.PbrImage.size(), 512u);
  EXPECT_EQ(clover.PbrImage[0], 0xE9);
  for (int i = 3; i < 90; ++i) EXPECT_EQ(clover.PbrImage[i], 0) << i;
  const JobBootImages xfat = JobSelectBootImages("Clover", "exFAT");
  ASSERT_EQ(xfat.PbrImage.size(), 1024u);
  EXPECT_EQ(xfat.PbrSectorCount, 2);
  EXPECT_EQ(xfat.PbrImage[0], 0xEB);
  EXPECT_EQ(xfat.PbrImage[1], 0x76);
  for (int i = 3; i < 120; ++i) EXPECT_EQ(xfat.PbrImage[i], 0) << i;
  EXPECT_EQ(xfat.PbrImage[1022], 0x55);
  EXPECT_EQ(xfat.PbrImage[1023], 0xAA);
  EXPECT_EQ(JobSelectBootImages("Windows", "NTFS").PbrSectorCount, 0);
  EXPECT_EQ(JobSelectBootImages("FreeDos", "FAT32-LBA").PbrImage[0], 0xEB);
  EXPECT_EQ(JobSelectBootImages("FreeDos", "FAT32-LBA").PbrImage[1], 0x58);
  EXPECT_TRUE(JobSelectBootImages("Not_Format", "FAT32").MbrImage.empty());
}

}  // namespace
}  // namespace fw
