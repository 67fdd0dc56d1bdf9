#include "disk/inventory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/quiet_ui_test_support.h"
#include "disk/disk_record.h"
#include "disk/drive_letters.h"
#include "disk/mbr_layout.h"
#include "disk/raw_access.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/linux/block_backend.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

void PutSlot(uint8_t* s, int i, uint8_t boot, uint8_t type, uint32_t start, uint32_t count) {
  uint8_t* e = s + 0x1BE + i * 16;
  e[0] = boot;
  e[4] = type;
  std::memcpy(e + 8, &start, 4);
  std::memcpy(e + 12, &count, 4);
  s[510] = 0x55;
  s[511] = 0xAA;
}

TEST(MbrLayout, SlotsGptAndBadEntries) {
  uint8_t s[512] = {};
  EXPECT_TRUE(ParseMbrLayout(s, 512, 1 << 20, 512).isMbr);  // blank: MBR, no slots
  PutSlot(s, 0, 0x80, 0x0C, 2048, 1000);
  PutSlot(s, 1, 0, 0x07, 2500, 100);   // overlaps slot 1
  PutSlot(s, 2, 0, 0x0C, 4000, 0);     // length 0
  PutSlot(s, 3, 0, 0x0C, 100000, 10);  // beyond the end
  MbrLayout l = ParseMbrLayout(s, 512, 4096 * 512, 512);
  ASSERT_TRUE(l.isMbr);
  EXPECT_EQ(l.slots[0].StartingOffset, 2048 * 512);
  EXPECT_EQ(l.slots[0].BootIndicator, 1);
  EXPECT_EQ(l.slots[1].PartitionNumber, 2u);
  EXPECT_EQ(l.slots[2].PartitionLength, 0);
  EXPECT_EQ(l.slots[3].PartitionLength, 0);
  EXPECT_EQ(l.notes.size(), 2u);
  PutSlot(s, 0, 0, 0xEE, 1, 4095);
  EXPECT_FALSE(ParseMbrLayout(s, 512, 4096 * 512, 512).isMbr);
}

TEST(RowTexts, DiskAndPartition) {
  DiskRecord d;
  d.BusType = "USB";
  d.VendorId = "Generic";
  d.ProductId = "Flash Disk";
  d.DiskLength = 15518924800;
  d.DriveLetters = "E: F:";
  EXPECT_EQ(DiskRowText(d), "USB: Generic Flash Disk 14.45 GB (E: F:)");
  d.DriveLetters.clear();
  EXPECT_EQ(DiskRowText(d), "USB: Generic Flash Disk 14.45 GB ()");
  PartitionEntry p;
  p.PartitionLength = 200 * 1024 * 1024;
  p.FileSystem = "FAT32";
  p.BootIndicator = 0x80;
  p.VolumeName = "ZOR";
  p.DriveLetter = "E:";
  EXPECT_EQ(PartitionRowText(p, 0), "Part1: 200 MB FAT32 Act <ZOR> E:");
  p.VolumeName.clear();
  p.FileSystem.clear();
  p.BootIndicator = 0;
  p.DriveLetter.clear();
  EXPECT_EQ(PartitionRowText(p, 1), "Part2: 200 MB <NONAME> ");
}

class FakeRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("fw_fakeroot_" + std::to_string(getpid()));
    fs::remove_all(root);
    Write("proc/mounts", "/dev/sda2 / ext4 rw 0 0\n/dev/sdb1 /media/x vfat rw 0 0\n");
    Write("proc/swaps", "Filename Type Size Used Priority\n");
    Disk("sda", "../devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", "0");
    Write("sys/block/sda/sda2/partition", "2");
    Write("sys/block/sda/sda2/start", "4096");
    Disk("sdb", "../devices/pci0000:00/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb", "1");
    Write("sys/block/sdb/device/vendor", "Generic ");
    Write("sys/block/sdb/device/model", "Flash Disk  ");
  }
  void TearDown() override { fs::remove_all(root); }
  void Write(const std::string& rel, const std::string& text) {
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel) << text;
  }
  void Disk(const std::string& name, const std::string& link, const std::string& removable) {
    fs::create_directories(root / "sys/devices" / name);
    fs::create_directories(root / "sys/block");
    const fs::path target = root / "sys/block" / link;
    fs::create_directories(target);
    fs::create_symlink(target, root / "sys/block" / name);
    Write("sys/block/" + name + "/size", "2097152");
    Write("sys/block/" + name + "/removable", removable);
    Write("sys/block/" + name + "/queue/logical_block_size", "512");
    Write("dev/" + name, "");
  }
  fs::path root;
};

TEST_F(FakeRoot, SystemDiskIsMarkedAndNeverOpenedForWriting) {
  BlockDiskBackend backend(root.string());
  std::vector<DiskInfo> disks = backend.Enumerate(nullptr);
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].name, "sda");
  EXPECT_TRUE(disks[0].systemDisk);
  EXPECT_EQ(disks[0].rootPartitionOffset, 4096 * 512);
  EXPECT_EQ(disks[0].busCode, 11);
  EXPECT_FALSE(disks[1].systemDisk);
  EXPECT_EQ(disks[1].busCode, 7);
  EXPECT_EQ(disks[1].VendorId, "Generic");
  EXPECT_EQ(disks[1].ProductId, "Flash Disk");
  EXPECT_EQ(disks[1].DriveType, 2u);
  int err = 0;
  EXPECT_EQ(backend.Open(disks[0], true, &err), nullptr);
  EXPECT_EQ(err, EPERM);
}

TEST(ImageInventory, ListedSelectedReadAndWritten) {
  const std::string path =
      (fs::temp_directory_path() / ("fw_inv_" + std::to_string(getpid()) + ".img")).string();
  ASSERT_EQ(CreateImageFile(path, 8 << 20), 1);
  {
    std::vector<uint8_t> s(512);
    PutSlot(s.data(), 0, 0x80, 0x0C, 2048, 8192);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.write(reinterpret_cast<char*>(s.data()), 512);
  }
  DiskBackends() = {&ImageDiskBackend()};
  ASSERT_EQ(AttachImageDisk(path, 512), 1);
  EXPECT_EQ(AttachImageDisk(path + ".missing", 512), 0);
  ASSERT_EQ(UpdateAllDrives(), 1);
  ASSERT_EQ(DriveListRows().size(), 2u);
  EXPECT_EQ(DriveListRows()[1].text, "Part1: 4 MB Act <NONAME> ");
  SelectDriveListRow(1);
  ASSERT_EQ(SetCurrentDisk(), 1);
  EXPECT_EQ(CurrentDisk().SelectedPartition, 1);
  SelectDriveListRow(7);
  EXPECT_EQ(SetCurrentDisk(), 0);

  const std::string letter = AssignDriveLetter(DriveListRows()[0].diskNumber, 0);
  ASSERT_FALSE(letter.empty());
  DriveHandle h = GetDriveHandle(0, letter, true, true);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(DriveSize(h), 8192 * 512);
  std::vector<uint8_t> buf(1024, 0xA5), back(1024);
  EXPECT_EQ(write_sectors(h, 512, 3, 2, buf.data()), 1024);
  EXPECT_EQ(read_sectors(h, 512, 3, 2, back.data()), 1024);
  EXPECT_EQ(buf, back);
  EXPECT_EQ(write_sectors(h, 512, 8192, 1, buf.data()), 0);  // past the volume's end
  CloseHandle(h);
  EXPECT_EQ(OpenHandleCount(), 0);
  EXPECT_EQ(GetDriveHandle(0, "C:", false, false), kInvalidHandle);  // the system volume
  DetachAllImageDisks();
  ResetDiskBackends();
  fs::remove(path);
}

TEST(ImageInventory, RefreshKeepsTheSelectedDiskAndSlotWhileTheyAreThere) {
  const std::string base =
      (fs::temp_directory_path() / ("fw_inv_sel_" + std::to_string(getpid()))).string();
  auto image = [&](const std::string& name, bool partitioned) {
    const std::string path = base + name;
    std::vector<uint8_t> s(512);
    if (partitioned) PutSlot(s.data(), 0, 0x80, 0x0C, 2048, 4096);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.write(reinterpret_cast<char*>(s.data()), 512);
    return path;
  };
  DiskBackends() = {&ImageDiskBackend()};
  ASSERT_EQ(CreateImageFile(base + "a.img", 8 << 20), 1);
  ASSERT_EQ(CreateImageFile(base + "b.img", 8 << 20), 1);
  ASSERT_EQ(AttachImageDisk(image("a.img", true), 512), 1);
  ASSERT_EQ(AttachImageDisk(image("b.img", true), 512), 1);
  UpdateAllDrives();
  ASSERT_EQ(DriveListRows().size(), 4u);
  EXPECT_EQ(SelectedDriveListRow(), 0);
  SelectDriveListRow(3);  // b's partition 1
  const int32_t b = DriveListRows()[3].diskNumber;

  // a loses its partition: b's rows move up, the selection follows them.
  image("a.img", false);
  UpdateAllDrives();
  ASSERT_EQ(DriveListRows().size(), 3u);
  EXPECT_EQ(SelectedDriveListRow(), 2);
  ASSERT_EQ(SetCurrentDisk(), 1);
  EXPECT_EQ(CurrentDisk().DiskNumber, b);
  EXPECT_EQ(CurrentDisk().SelectedPartition, 1);
  // b's partition goes: its disk row.
  image("b.img", false);
  UpdateAllDrives();
  EXPECT_EQ(SelectedDriveListRow(), 1);
  EXPECT_EQ(DriveListRows()[1].diskNumber, b);
  // b goes: row 0.
  fs::remove(base + "b.img");
  UpdateAllDrives();
  EXPECT_EQ(DriveListRows().size(), 1u);
  EXPECT_EQ(SelectedDriveListRow(), 0);
  DetachAllImageDisks();
  ResetDiskBackends();
  fs::remove(base + "a.img");
}

// Disks whose open fails with a given error; what the inventory tells the user about them.
class RefusingBackend final : public DiskBackend {
 public:
  std::vector<DiskInfo> disks;
  int error = EACCES;
  std::string Name() const override { return "refusing"; }
  std::vector<DiskInfo> Enumerate(bool* accessDenied) override {
    if (accessDenied) *accessDenied = true;
    return disks;
  }
  std::unique_ptr<BlockDevice> Open(const DiskInfo&, bool, int* e) override {
    *e = error;
    return nullptr;
  }
  std::unique_ptr<DiskLock> Lock(const DiskInfo&, int* e) override {
    *e = error;
    return nullptr;
  }
  bool Dismount(const DiskInfo&, int64_t, int*) override { return false; }
  bool RereadPartitions(const DiskInfo&, BlockDevice&) override { return false; }
};

class StatusUi final : public QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override { last = text; }
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons b, MsgIcon) override {
    return SafeAnswer(b);
  }
  std::string last;
};

TEST(InventoryRights, OnlyOfferedDisksCountAndRootIsToldTheReason) {
  StatusUi ui;
  SetUi(&ui);
  RefusingBackend backend;
  DiskBackends() = {&backend};
  DiskInfo vda;  // the machine's own virtual disk: never offered
  vda.key = "block:vda";
  vda.devicePath = "/dev/vda";
  vda.name = "vda";
  vda.busCode = 14;
  vda.DiskLength = 1 << 30;
  DiskInfo stick = vda;  // a USB stick
  stick.key = "block:sdb";
  stick.devicePath = "/dev/sdb";
  stick.name = "sdb";
  stick.busCode = 7;

  backend.disks = {vda};
  backend.error = EPERM;
  UpdateAllDrives();
  EXPECT_EQ(ui.last, "Insert a USB Flash Drive ...");
  EXPECT_EQ(InventoryAccessProblem(), "");

  backend.disks = {vda, stick};
  for (const int error : {EACCES, EPERM}) {
    backend.error = error;
    UpdateAllDrives();
    // Only someone who is not root is told to become root; root is told what failed.
    const std::string expected = RunningAsAdministrator()
                                     ? "Cannot open /dev/sdb: " + ErrnoText(error)
                                     : std::string(kNeedRightsText);
    EXPECT_EQ(ui.last, expected);
    EXPECT_EQ(InventoryAccessProblem(), expected);
  }
  EXPECT_EQ(AccessProblemText("/dev/sdc", EACCES, false), kNeedRightsText);
  EXPECT_EQ(AccessProblemText("/dev/sdc", EACCES, true),
            "Cannot open /dev/sdc: " + ErrnoText(EACCES));
  EXPECT_EQ(AccessProblemText("/dev/sdc", EIO, false), "Cannot open /dev/sdc: " + ErrnoText(EIO));
  ResetDiskBackends();
  SetUi(nullptr);
}

}  // namespace
}  // namespace fw
