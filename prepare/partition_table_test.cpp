#include "prepare/partition_table.h"

#include <gtest/gtest.h>

#include "app/globals.h"

namespace fw {
#ifdef FW_FAKE_SECTOR_IO
extern std::vector<int64_t> g_fakeWrites;
#endif
namespace {

DiskRecord Disk(int64_t sectors, uint32_t bps = 512) {
  DiskRecord d;
  d.BytesPerSector = bps;
  d.SectorsPerTrack = 63;
  d.DiskSize = sectors * bps;
  d.GeometrySectors = sectors / (255 * 63) * 255 * 63;
  return d;
}

SettingsRecord Layout(const char* start, int multi, int64_t bootMb) {
  SettingsRecord s;
  s.StartLBASector = start;
  s.MultiPartitions = multi;
  s.BootPartitionSize = bootMb;
  return s;
}

TEST(PartitionTable, TwoPartitionsAlignedAt2048) {
  const DiskRecord d = Disk(4000000);
  const PartitionTableBytes pt = BuildPartitionTable(d, Layout("2048", 1, 200));
  EXPECT_EQ(pt[0], 0x80);
  EXPECT_EQ(pt[1], 32);
  EXPECT_EQ(pt[2] | (pt[3] << 8), 0x0021);
  EXPECT_EQ(pt[4], 0x06);
  EXPECT_EQ(EntryStartingSector(pt, 0), 2048u);
  EXPECT_EQ(EntryNumberOfSects(pt, 0), 409600u);
  EXPECT_EQ(pt[16], 0);
  EXPECT_EQ(EntryStartingSector(pt, 1), 411648u);
  EXPECT_EQ(EntryNumberOfSects(pt, 1), 4000000u - 411648u);
  for (int i = 32; i < 64; ++i) EXPECT_EQ(pt[i], 0) << i;
  EXPECT_EQ(pt[64], 0x55);
  EXPECT_EQ(pt[65], 0xAA);
}

TEST(PartitionTable, StartFallsBackTo63) {
  PartitionTableBytes pt = BuildPartitionTable(Disk(4000000), Layout("63", 0, 0));
  EXPECT_EQ(pt[1], 1);
  EXPECT_EQ(pt[2] | (pt[3] << 8), 0x0001);
  EXPECT_EQ(EntryNumberOfSects(pt, 0), 4000000u - 63u);
  DiskRecord tiny = Disk(16065 * 2);  // GeometrySectors 32130 < 65536
  tiny.GeometrySectors = 8192;
  pt = BuildPartitionTable(tiny, Layout("8192", 0, 0));
  EXPECT_EQ(EntryStartingSector(pt, 0), 63u);
}

TEST(PartitionTable, ChsLimitGivesMaximalFields) {
  const PartitionTableBytes single =
      BuildPartitionTable(Disk(16450560 + 16065), Layout("2048", 0, 0));
  EXPECT_EQ(single[5], 254);
  EXPECT_EQ(single[6] | (single[7] << 8), 0xFFFF);
  const PartitionTableBytes two = BuildPartitionTable(Disk(40000000), Layout("2048", 1, 8192));
  EXPECT_EQ(two[16 + 1], 254);
  EXPECT_EQ(two[16 + 2] | (two[16 + 3] << 8), 0xFFFF);
  // Just below the limit the fields are computed.
  const ChsFields f = ChsOf(kChsLimit, 63, kChsLimit);
  EXPECT_EQ(f.head, 254);
  EXPECT_EQ(f.cylAndSect, 0xFFFF & ((((1023 >> 2) & 0xC0) + 63 + ((1023 << 8) & 0xFFFF))));
}

TEST(PartitionTable, LayoutsThatCannotBeWrittenAreRefused) {
  std::string why, note;
  EXPECT_TRUE(CheckPartitionLayout(Disk(4000000), Layout("2048", 1, 200), &why));
  EXPECT_FALSE(CheckPartitionLayout(Disk(411648), Layout("2048", 1, 200), &why));
  EXPECT_NE(why.find("no room"), std::string::npos);
  EXPECT_FALSE(CheckPartitionLayout(Disk(409600), Layout("2048", 1, 200), &why));
  // More than 2^32 sectors: accepted, the last partition clamped to the 32-bit field.
  const DiskRecord huge = Disk(int64_t{5} << 30 << 2);
  EXPECT_TRUE(CheckPartitionLayout(huge, Layout("2048", 1, 200), &why, &note));
  EXPECT_FALSE(note.empty());
  const PartitionTableBytes pt = BuildPartitionTable(huge, Layout("2048", 1, 200));
  EXPECT_EQ(EntryNumberOfSects(pt, 1), 0xFFFFFFFFu);
}

TEST(PartitionTable, MbrSectorWith4096ByteSectors) {
  std::vector<uint8_t> image(512, 0xCC);
  const PartitionTableBytes pt = BuildPartitionTable(Disk(1000000, 4096), Layout("2048", 0, 0));
  const std::vector<uint8_t> s = ComposeMbrSector(image, pt, 0x11223344, 4096);
  ASSERT_EQ(s.size(), 4096u);
  EXPECT_EQ(s[439], 0xCC);
  EXPECT_EQ(s[440], 0x44);
  EXPECT_EQ(s[443], 0x11);
  EXPECT_EQ(s[444], 0xCC);
  EXPECT_EQ(s[446], 0x80);
  EXPECT_EQ(s[510], 0x55);
  EXPECT_EQ(s[511], 0xAA);
  for (size_t i = 512; i < s.size(); ++i) ASSERT_EQ(s[i], 0) << i;
}

#ifdef FW_FAKE_SECTOR_IO
TEST(PartitionTable, ClearMBRGPTWipesBothEndsAndHonoursFormatStatus) {
  g_fakeWrites.clear();
  FormatStatus = 1;
  EXPECT_EQ(ClearMBRGPT(3, 512, int64_t{1000} * 512), 0);
  EXPECT_TRUE(g_fakeWrites.empty());
  FormatStatus = 0;
  EXPECT_EQ(ClearMBRGPT(3, 512, int64_t{1000} * 512), 1);
  ASSERT_EQ(g_fakeWrites.size(), 256u);
  EXPECT_EQ(g_fakeWrites[127], 127);
  EXPECT_EQ(g_fakeWrites[128], 872);
  EXPECT_EQ(g_fakeWrites[255], 999);
}

TEST(PartitionTable, MbrWriteZeroesEachPartitionStart) {
  g_fakeWrites.clear();
  const PartitionTableBytes pt = BuildPartitionTable(Disk(4000000), Layout("2048", 1, 200));
  EXPECT_EQ(WriteMbrAndClearPbrs(3, 512, std::vector<uint8_t>(512, 0), pt, 1), 1);
  EXPECT_EQ(g_fakeWrites, (std::vector<int64_t>{0, 2048, 411648}));
}
#endif

}  // namespace
}  // namespace fw
