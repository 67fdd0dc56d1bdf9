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

struct Entry {
  uint8_t boot, startHead;
  uint16_t startWord;
  uint8_t type, endHead;
  uint16_t endWord;
  uint32_t start, count;
};
Entry EntryOf(const JobPartitionTable& pt, int i) {
  const uint8_t* e = pt.bytes.data() + 16 * i;
  auto u16 = [](const uint8_t* q) { return static_cast<uint16_t>(q[0] | (q[1] << 8)); };
  auto u32 = [](const uint8_t* q) {
    return static_cast<uint32_t>(q[0] | (q[1] << 8) | (q[2] << 16) | (uint32_t{q[3]} << 24));
  };
  return {e[0], e[1], u16(e + 2), e[4], e[5], u16(e + 6), u32(e + 8), u32(e + 12)};
}

DiskRecord DiskOf(int64_t sectors, uint32_t bps = 512) {
  DiskRecord d;
  d.BytesPerSector = bps;
  d.SectorsPerTrack = 63;
  d.DiskSize = sectors * bps;
  d.GeometrySectors = sectors / (255 * 63) * 255 * 63;
  return d;
}

TEST(PartitionTable, AlignmentChsFieldsAndLimits) {
  const DiskRecord disk = DiskOf(16 * 1024 * 2048);  // 16 GiB
  SettingsRecord s;
  s.StartLBASector = "2048";
  s.MultiPartitions = 1;
  s.BootPartitionSize = 200;
  JobPartitionTable pt = JobBuildPartitionTable(disk, s);
  Entry e0 = EntryOf(pt, 0), e1 = EntryOf(pt, 1);
  EXPECT_EQ(e0.boot, 0x80);
  EXPECT_EQ(e0.type, 0x06);
  EXPECT_EQ(e0.start, 2048u);
  EXPECT_EQ(e0.count, 409600u);
  EXPECT_EQ(e0.startHead, 32);
  EXPECT_EQ(e0.startWord, 0x0021);
  EXPECT_EQ(e1.boot, 0);
  EXPECT_EQ(e1.start, 411648u);
  EXPECT_EQ(int64_t{e1.start} + e1.count, disk.DiskSize / 512);
  EXPECT_EQ(pt.bytes[64], 0x55);
  EXPECT_EQ(pt.bytes[65], 0xAA);
  EXPECT_EQ(pt.startingSectors, (std::vector<int64_t>{2048, 411648, 0, 0}));
  // The disk is beyond the CHS limit: partition 2 ends with the maximal fields.
  EXPECT_EQ(e1.endHead, 254);
  EXPECT_EQ(e1.endWord, 0xFFFF);

  // 63: head 1, sector 1, cylinder 0. A boot partition ending past the limit moves partition 2's
  // start fields to their maximum too.
  s.StartLBASector = "63";
  s.BootPartitionSize = 8192;
  pt = JobBuildPartitionTable(disk, s);
  e0 = EntryOf(pt, 0);
  e1 = EntryOf(pt, 1);
  EXPECT_EQ(e0.start, 63u);
  EXPECT_EQ(e0.startHead, 1);
  EXPECT_EQ(e0.startWord, 0x0001);
  EXPECT_EQ(e1.startHead, 254);
  EXPECT_EQ(e1.startWord, 0xFFFF);

  // One partition to the end of the disk; entries 2 and 3 stay empty.
  s.MultiPartitions = 0;
  pt = JobBuildPartitionTable(disk, s);
  EXPECT_EQ(int64_t{EntryOf(pt, 0).start} + EntryOf(pt, 0).count, disk.DiskSize / 512);
  EXPECT_EQ(EntryOf(pt, 1).count, 0u);
  for (int i = 16; i < 64; ++i) EXPECT_EQ(pt.bytes[i], 0) << i;
}

TEST(PartitionTable, StartFallsBackTo63OnTinyGeometryAndOversizedBootIsRefused) {
  DiskRecord disk = DiskOf(16065 * 2);  // two cylinders
  disk.GeometrySectors = 8192;
  SettingsRecord s;
  s.StartLBASector = "8192";
  s.MultiPartitions = 0;
  EXPECT_EQ(EntryOf(JobBuildPartitionTable(disk, s), 0).start, 63u);

  std::string why;
  const DiskRecord stick = DiskOf(64 * 2048);  // 64 MiB
  s.StartLBASector = "2048";
  s.MultiPartitions = 1;
  s.BootPartitionSize = 32;
  EXPECT_TRUE(JobPartitionLayoutFits(stick, s, &why));
  s.BootPartitionSize = 63;  // leaves no room for partition 2
  EXPECT_FALSE(JobPartitionLayoutFits(stick, s, &why));
  EXPECT_NE(why.find("63 MB"), std::string::npos);
  s.BootPartitionSize = 2000000;
  EXPECT_FALSE(JobPartitionLayoutFits(stick, s, &why));
  s.MultiPartitions = 0;
  EXPECT_TRUE(JobPartitionLayoutFits(stick, s, &why));
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
