#include "resources/boot/boot_images.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(BootImages, MbrCodeStaysBeforeTheTable) {
  for (const char* name : {"USB-HDD+", "boot0"}) {
    SCOPED_TRACE(name);
    const EmbeddedBootImage* mbr = FindEmbeddedBootImage(name);
    ASSERT_NE(mbr, nullptr);
    ASSERT_EQ(mbr->size, 512u);
    EXPECT_EQ(mbr->data[510], 0x55);
    EXPECT_EQ(mbr->data[511], 0xAA);
    for (size_t i = 440; i < 510; ++i) EXPECT_EQ(mbr->data[i], 0) << i;
  }
  EXPECT_EQ(FindEmbeddedBootImage("none"), nullptr);
}

// The exFAT boot record: two blocks, the short jump over the 120-byte header that the merge takes
// from the formatter, both blocks signed (the second at its end, as exFAT's extended boot sectors).
TEST(BootImages, ExfatBootRecordLeavesTheHeaderFree) {
  const EmbeddedBootImage* pbr = FindEmbeddedBootImage("boot1xalt");
  ASSERT_NE(pbr, nullptr);
  ASSERT_EQ(pbr->size, 1024u);
  EXPECT_EQ(pbr->data[0], 0xEB);
  EXPECT_EQ(pbr->data[1], 0x76);
  EXPECT_EQ(pbr->data[2], 0x90);
  for (size_t i = 3; i < 120; ++i) EXPECT_EQ(pbr->data[i], 0) << i;
  for (size_t at : {size_t{510}, size_t{1022}}) {
    EXPECT_EQ(pbr->data[at], 0x55);
    EXPECT_EQ(pbr->data[at + 1], 0xAA);
  }
  const std::string_view code(reinterpret_cast<const char*>(pbr->data), pbr->size);
  EXPECT_NE(code.find("no file boot"), std::string_view::npos);
  EXPECT_EQ(code.find("boot code in this build"), std::string_view::npos);
}

// The FAT32 boot sectors: a jump at byte 0 that lands on the code at byte 90, nothing of the
// code inside the parameter block that the merge takes from the formatter, the boot signature,
// and the root-folder name each one looks for.
TEST(BootImages, Fat32BootSectorsLeaveTheParameterBlockFree) {
  struct Expect {
    const char* name;
    bool shortJump;
    std::string_view fileName;
  };
  for (const Expect& e :
       {Expect{"boot1f32alt", false, "BOOT       "}, Expect{"Fat32LBA", true, "KERNEL  SYS"}}) {
    SCOPED_TRACE(e.name);
    const EmbeddedBootImage* pbr = FindEmbeddedBootImage(e.name);
    ASSERT_NE(pbr, nullptr);
    ASSERT_EQ(pbr->size, 512u);
    size_t target = 0;
    if (e.shortJump) {
      EXPECT_EQ(pbr->data[0], 0xEB);
      EXPECT_EQ(pbr->data[2], 0x90);
      target = 2 + static_cast<size_t>(pbr->data[1]);
    } else {
      EXPECT_EQ(pbr->data[0], 0xE9);
      target = 3 + static_cast<size_t>(pbr->data[1] | pbr->data[2] << 8);
    }
    EXPECT_EQ(target, 90u);
    for (size_t i = 3; i < 90; ++i) EXPECT_EQ(pbr->data[i], 0) << i;
    EXPECT_EQ(pbr->data[510], 0x55);
    EXPECT_EQ(pbr->data[511], 0xAA);
    const std::string_view code(reinterpret_cast<const char*>(pbr->data), pbr->size);
    EXPECT_NE(code.find(e.fileName), std::string_view::npos);
    EXPECT_NE(code.find("Read error"), std::string_view::npos);
    EXPECT_EQ(code.find("boot code in this build"), std::string_view::npos);
  }
}

}  // namespace
}  // namespace fw
