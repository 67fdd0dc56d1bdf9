#include "resources/boot/boot_images.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(BootImages, MbrCodeStaysBeforeTheTable) {
  const EmbeddedBootImage* mbr = FindEmbeddedBootImage("USB-HDD+");
  ASSERT_NE(mbr, nullptr);
  ASSERT_EQ(mbr->size, 512u);
  EXPECT_EQ(mbr->data[510], 0x55);
  EXPECT_EQ(mbr->data[511], 0xAA);
  for (size_t i = 440; i < 510; ++i) EXPECT_EQ(mbr->data[i], 0) << i;
  EXPECT_EQ(FindEmbeddedBootImage("none"), nullptr);
}

}  // namespace
}  // namespace fw
