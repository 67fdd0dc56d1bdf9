#include "prepare/drive_letter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/clock.h"
#include "app/log.h"
#include "disk/disk_record.h"
#include "disk/drive_letters.h"
#include "disk/inventory.h"
#include "disk/raw_access.h"
#include "fs/fat_common.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/volume_files.h"
#include "prepare/format_drive.h"

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

namespace fs = std::filesystem;
constexpr int64_t kMiB = 1024 * 1024;

// Image disks of this test only (never a disk of the machine), the debug log in the scratch
// folder, pauses off.
class LetteredVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPausesEnabled(false);
    ::setenv("FLASHWRIGHT_BLOCK_DEVICES", "", 1);
    dir_ = fs::temp_directory_path() / ("fw-letters-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    CloseLog();
    ASSERT_TRUE(OpenLog((dir_ / "debug.log").string()));
    ResetDriveLetters();
  }
  void TearDown() override {
    CloseLog();
    DetachAllImageDisks();
    ResetDriveLetters();
    UpdateAllDrives();
    fs::remove_all(dir_);
  }
  // A 64 MiB image with partition 1 at sector 2048 (type 0x0B, no file system yet); returns its
  // disk number.
  int32_t MakeDisk(const std::string& name) {
    const fs::path img = dir_ / name;
    EXPECT_EQ(CreateImageFile(img.string(), 64 * kMiB), 1);
    std::vector<uint8_t> mbr(512, 0);
    mbr[446 + 4] = 0x0B;
    fat::Put32(mbr.data() + 446 + 8, 2048);
    fat::Put32(mbr.data() + 446 + 12, static_cast<uint32_t>(64 * kMiB / 512 - 2048));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    std::fstream(img, std::ios::binary | std::ios::in | std::ios::out)
        .write(reinterpret_cast<const char*>(mbr.data()), 512);
    EXPECT_EQ(AttachImageDisk(img.string(), 512), 1);
    UpdateAllDrives();
    for (const DiskRecord& d : DiskRecords())
      if (d.VendorId == "Image" && d.Partitions[0].PartitionLength > 0 &&
          d.Partitions[0].DriveLetter.empty())
        return d.DiskNumber;
    ADD_FAILURE() << "image disk not in the inventory";
    return -1;
  }
  static std::string DeviceName(int32_t disk) {
    return "\\device\\harddisk" + std::to_string(disk) + "\\partition1";
  }
  static const PartitionEntry* First(int32_t disk) {
    for (const DiskRecord& d : DiskRecords())
      if (d.DiskNumber == disk) return &d.Partitions[0];
    return nullptr;
  }
  std::string Log() const {
    std::ifstream in(dir_ / "debug.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
};

TEST_F(LetteredVolumeTest, LowestFreeLetterFromCAndNoneWhenAllAreTaken) {
  const int32_t disk = MakeDisk("a.img");
  ASSERT_GE(disk, 0);
  // C: is the system's; D:, E:, F: belong to other volumes: the partition gets G:.
  for (const char* key : {"other-d", "other-e", "other-f"})
    ASSERT_FALSE(ClaimDriveLetter(key, "").empty());
  EXPECT_EQ(AssignDriveLetter(DeviceName(disk)), "G:");
  EXPECT_NE(Log().find("AssignDriveLetter: FirstFreeRootName = G:"), std::string::npos) << Log();
  EXPECT_NE(Log().find("AssignDriveLetter: Success mount "), std::string::npos);
  ASSERT_NE(First(disk), nullptr);
  EXPECT_EQ(First(disk)->DriveLetter, "G:");
  VolumeLocation where;
  ASSERT_TRUE(LookupDriveLetter("G:", &where));
  EXPECT_EQ(where.DiskNumber, disk);
  EXPECT_EQ(where.StartingOffset, 2048 * 512);
  // Asked again, the partition keeps its letter, and says so.
  EXPECT_EQ(AssignDriveLetter(DeviceName(disk)), "G:");
  EXPECT_EQ(Log().find("FirstFreeRootName = H:"), std::string::npos);

  // Every letter from C: to Z: taken: nothing is found and the result is empty.
  const int32_t second = MakeDisk("b.img");
  ASSERT_GE(second, 0);
  for (int i = 0; i < 26; ++i) ClaimDriveLetter("filler-" + std::to_string(i), "");
  EXPECT_EQ(UsedDriveLetterMask() & 0x3FFFFFCu, 0x3FFFFFCu);
  EXPECT_EQ(AssignDriveLetter(DeviceName(second)), "");
  EXPECT_EQ(AssignDriveLetter(DeviceName(disk)), "G:");  // a lettered volume still has its own
  EXPECT_NE(Log().find("AssignDriveLetter: FirstFreeRootName = \r\n"), std::string::npos) << Log();
  EXPECT_NE(Log().find("AssignDriveLetter: 1-st DefineDosDevice Error for " + DeviceName(second)),
            std::string::npos);
  ASSERT_NE(First(second), nullptr);
  EXPECT_TRUE(First(second)->DriveLetter.empty());
}

TEST_F(LetteredVolumeTest, RemountReadsTheNewBootSectorAndLabel) {
  const int32_t disk = MakeDisk("r.img");
  ASSERT_GE(disk, 0);
  const std::string letter = AssignDriveLetter(DeviceName(disk));
  ASSERT_EQ(letter, "D:");
  EXPECT_TRUE(First(disk)->FileSystem.empty() || First(disk)->FileSystem == "RAW")
      << First(disk)->FileSystem;
  // Format the volume behind the records' back, as the job does, then remount.
  {
    const DriveHandle h = GetDriveHandle(disk, letter, true, false);
    ASSERT_NE(h, kInvalidHandle);
    ASSERT_NE(DeviceForHandle(h), nullptr);
    EXPECT_EQ(FormatVolumeDevice(*DeviceForHandle(h), "FAT32", "FIRST", true, 0, 2048, 63, 255), 1);
    CloseHandle(h);
  }
  EXPECT_EQ(RemountVolume(letter), 1);
  EXPECT_NE(Log().find("Success remount "), std::string::npos) << Log();
  EXPECT_EQ(First(disk)->FileSystem, "FAT32");
  EXPECT_EQ(First(disk)->VolumeName, "FIRST");
  // A new label written through the volume's files shows after the next remount ("D:\" too).
  {
    const DriveHandle h = GetDriveHandle(disk, letter, true, false);
    ASSERT_NE(h, kInvalidHandle);
    auto files = OpenVolumeFiles(*DeviceForHandle(h));
    ASSERT_TRUE(files);
    ASSERT_TRUE(files->SetLabel("SECOND"));
    ASSERT_TRUE(files->Flush());
    files.reset();
    CloseHandle(h);
  }
  EXPECT_EQ(RemountVolume(letter + "\\"), 1);
  EXPECT_EQ(First(disk)->VolumeName, "SECOND");
  // The image shrunk under the letter: the volume can no longer be read.
  fs::resize_file(dir_ / "r.img", 0);
  EXPECT_EQ(RemountVolume(letter), 0);
  EXPECT_NE(Log().find("Error remount D:\\"), std::string::npos) << Log();
}

}  // namespace
}  // namespace fw
