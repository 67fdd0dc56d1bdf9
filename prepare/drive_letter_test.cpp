#include "prepare/drive_letter.h"

#include <gtest/gtest.h>

#include "disk/drive_letters.h"

namespace fw {
namespace {

TEST(DriveLetter, DeviceNamesAreParsedStrictly) {
  int32_t disk = -1;
  int part = 0;
  EXPECT_TRUE(ParsePartitionDeviceName("\\device\\harddisk3\\partition1", disk, part));
  EXPECT_EQ(disk, 3);
  EXPECT_EQ(part, 1);
  EXPECT_TRUE(ParsePartitionDeviceName("\\Device\\Harddisk12\\Partition4", disk, part));
  EXPECT_EQ(disk, 12);
  for (const char* bad :
       {"", "\\device\\harddisk\\partition1", "\\device\\harddisk3\\partition5",
        "\\device\\harddisk3\\partition1x", "\\device\\harddisk99\\partition1", "/dev/sda1"})
    EXPECT_FALSE(ParsePartitionDeviceName(bad, disk, part)) << bad;
}

TEST(DriveLetter, UnknownVolumesGetNoLetterAndRemountLeavesThemAlone) {
  ResetDriveLetters();
  // No inventory holds disk 7: no letter, and the result is empty.
  EXPECT_EQ(AssignDriveLetter("\\device\\harddisk7\\partition1"), "");
  EXPECT_EQ(AssignDriveLetter("not a device"), "");
  // A letter that is no mount point: 1, and "E:" behaves as "E:\".
  EXPECT_EQ(RemountVolume("Q:"), 1);
  EXPECT_EQ(RemountVolume("Q:\\"), 1);
}

}  // namespace
}  // namespace fw
