#include "disk/safe_removal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/log.h"
#include "app/scratch_folder_test_support.h"
#include "app/settings.h"
#include "disk/disk_record.h"
#include "disk/drive_letters.h"
#include "disk/inventory.h"
#include "disk/system_fakes_test_support.h"
#include "platform/imagedisk/image_disk.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr int kUsb = 7, kSata = 11, kFileBacked = 15;

class SafeRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    DiskBackends() = {&disks, &ImageDiskBackend()};
    DetachAllImageDisks();
    ResetDriveLetters();
    Settings().EnableFixedDisks = 1;
    SetClockForTesting(&clock);
    CloseLog();
    ASSERT_TRUE(OpenLog((dir / "debug.log").string()));
  }
  void TearDown() override {
    CloseLog();
    SetClockForTesting(nullptr);
    DetachAllImageDisks();
    ResetDiskBackends();
    ResetDriveLetters();
  }

  // Refreshes the inventory, gives every partition of `disk` a letter and selects `row` of the
  // drive tree.
  void ListAndSelect(const std::string& disk, int row) {
    UpdateAllDrives();
    for (const DiskRecord& d : DiskRecords())
      if (d.ProductId == disk)
        for (int slot = 0; slot < 4; ++slot)
          if (d.Partitions[static_cast<size_t>(slot)].PartitionLength != 0)
            AssignDriveLetter(d.DiskNumber, slot);
    SelectDriveListRow(row);
  }
  std::string Log() const {
    std::ifstream in(dir / "debug.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ScratchFolder scratch{"fw-eject"};
  fs::path dir = scratch.path();
  FileDiskBackend disks;
  RecordingRemovalService system;
  SteppingClock clock;
};

TEST_F(SafeRemoval, SecondPartitionRowRemovesTheWholeUsbDiskByItsFirstLetter) {
  const DiskInfo stick = disks.Add(dir, "sdz", kUsb, {8, 8});
  ListAndSelect("sdz", 2);  // rows: disk, Part1, Part2
  ASSERT_EQ(DriveListRows()[2].level, 1);
  EXPECT_EQ(RemoveDriveByLetter(system), 1);
  EXPECT_EQ(disks.dismounted, std::vector<std::string>{"sdz@-1"});
  EXPECT_EQ(system.calls,
            (std::vector<std::string>{"Flush " + stick.devicePath, "DeleteDevice sdz"}));
  const std::string log = Log();
  EXPECT_NE(log.find("DeviceId= " + stick.devicePath), std::string::npos);
  EXPECT_NE(log.find("Tries #1"), std::string::npos);
  EXPECT_NE(log.find("Success"), std::string::npos);
  EXPECT_TRUE(clock.pauses.empty());
}

TEST_F(SafeRemoval, ARefusalFollowedByAcceptanceSucceedsOnTheSecondTry) {
  disks.Add(dir, "sdz", kUsb, {8});
  system.refusals = 1;
  ListAndSelect("sdz", 0);
  EXPECT_EQ(RemoveDriveByLetter(system), 1);
  EXPECT_EQ(clock.pauses, std::vector<int64_t>{500});
}

TEST_F(SafeRemoval, NothingHappensWithoutALetterASelectionOrAWayToRemove) {
  disks.Add(dir, "sdz", kUsb, {});  // no partition, so no letter
  UpdateAllDrives();
  SelectDriveListRow(0);
  EXPECT_EQ(RemoveDriveByLetter(system), 0);
  SelectDriveListRow(-1);
  EXPECT_EQ(RemoveDriveByLetter(system), 0);
  EXPECT_TRUE(system.calls.empty());
  EXPECT_TRUE(disks.dismounted.empty());

  // A fixed disk without udisks2: the sysfs delete is for USB disks only.
  disks.disks.clear();
  disks.Add(dir, "sdx", kSata, {8});
  ListAndSelect("sdx", 0);
  EXPECT_EQ(RemoveDriveByLetter(system), 0);
  EXPECT_EQ(system.calls.size(), 1u);  // the flush only
  EXPECT_NE(Log().find("Failed no way to remove sdx"), std::string::npos);
}

TEST_F(SafeRemoval, TheSystemDiskIsRefusedBeforeAnythingIsTouched) {
  DiskInfo& sys = disks.Add(dir, "sda", kSata, {8});
  sys.systemDisk = true;
  ListAndSelect("sda", 0);
  EXPECT_EQ(RemoveDriveByLetter(system), 0);
  EXPECT_TRUE(system.calls.empty());
  EXPECT_TRUE(disks.dismounted.empty());
}

TEST_F(SafeRemoval, ABusyOrUnflushableDiskIsNotRemoved) {
  disks.Add(dir, "sdz", kUsb, {8});
  disks.dismountSucceeds = false;
  ListAndSelect("sdz", 0);
  EXPECT_EQ(RemoveDriveByLetter(system), 0);
  EXPECT_TRUE(system.calls.empty());

  disks.dismountSucceeds = true;
  system.flushSucceeds = false;
  EXPECT_EQ(RemoveDriveByLetter(system), 0);
  ASSERT_EQ(system.calls.size(), 1u);
  EXPECT_EQ(system.calls[0].rfind("Flush ", 0), 0u);
}

TEST_F(SafeRemoval, LoopDevicesAreDetachedAndImagesLeaveTheTree) {
  const DiskInfo loop = disks.Add(dir, "loop9", kFileBacked, {8});
  system.udisks = true;  // a loop device is detached directly even then
  ListAndSelect("loop9", 0);
  EXPECT_EQ(RemoveDriveByLetter(system), 1);
  EXPECT_EQ(system.calls.back(), "DetachLoop " + loop.devicePath);

  // An attached image file: the same MBR, offered by the image backend instead.
  const std::string image = disks.Add(dir, "stick", kFileBacked, {8}).devicePath;
  disks.disks.clear();
  ASSERT_EQ(AttachImageDisk(image, 512), 1);
  ListAndSelect("stick.disk", 1);
  system.calls.clear();
  EXPECT_EQ(RemoveDriveByLetter(system), 1);
  EXPECT_EQ(system.calls, std::vector<std::string>{"Flush " + image});
  EXPECT_TRUE(AttachedImages().empty());
  UpdateAllDrives();
  EXPECT_TRUE(DriveListRows().empty());
}

}  // namespace
}  // namespace fw
