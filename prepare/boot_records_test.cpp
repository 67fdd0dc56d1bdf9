#include "prepare/boot_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace fw {
namespace {

std::vector<uint8_t> FormatterSector(const char* fsText, size_t at) {
  std::vector<uint8_t> s(512, 0x11);
  std::memcpy(s.data() + at, fsText, 8);
  s[11] = 0x00;
  s[12] = 0x02;
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

TEST(BootRecords, Fat32KeepsFormatterFieldsAndImageCode) {
  std::vector<uint8_t> image(512, 0xCC);
  image[0] = 0xE9;
  std::vector<uint8_t> out;
  std::string why;
  ASSERT_TRUE(
      MergePartitionBootRecord(FormatterSector("FAT32   ", 82), image, "FAT32", &out, &why));
  ASSERT_EQ(out.size(), 512u);
  EXPECT_EQ(out[0], 0xE9);
  EXPECT_EQ(out[2], 0xCC);
  EXPECT_EQ(out[3], 0x11);
  EXPECT_EQ(out[82], 'F');
  EXPECT_EQ(out[89], ' ');
  EXPECT_EQ(out[90], 0xCC);
}

TEST(BootRecords, ExfatTakesFirst120BytesOfTwoSectors) {
  std::vector<uint8_t> image(1024, 0xCC);
  std::vector<uint8_t> f = FormatterSector("EXFAT   ", 3);
  f[0] = 0xEB;
  std::vector<uint8_t> out;
  std::string why;
  ASSERT_TRUE(MergePartitionBootRecord(f, image, "exFAT", &out, &why));
  ASSERT_EQ(out.size(), 1024u);
  EXPECT_EQ(out[0], 0xEB);
  EXPECT_EQ(out[119], 0x11);
  EXPECT_EQ(out[120], 0xCC);
  EXPECT_EQ(out[600], 0xCC);
}

TEST(BootRecords, RefusesUnreadOrForeignBootSector) {
  std::vector<uint8_t> out;
  std::string why;
  EXPECT_FALSE(MergePartitionBootRecord(std::vector<uint8_t>(512, 0), std::vector<uint8_t>(512),
                                        "FAT32", &out, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(MergePartitionBootRecord(FormatterSector("EXFAT   ", 3), std::vector<uint8_t>(512),
                                        "FAT32", &out, &why));
  EXPECT_FALSE(MergePartitionBootRecord(FormatterSector("FAT32   ", 82), std::vector<uint8_t>(1024),
                                        "exFAT", &out, &why));
  EXPECT_FALSE(MergePartitionBootRecord({}, std::vector<uint8_t>(512), "FAT32", &out, &why));
}

}  // namespace
}  // namespace fw
