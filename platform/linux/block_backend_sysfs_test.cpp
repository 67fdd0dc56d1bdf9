// The block backend against fake system trees: a temporary folder holding sys/block, proc/mounts,
// proc/swaps and dev/, never the machine's own /sys or /dev.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/linux/block_backend.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class FakeRoot {
 public:
  FakeRoot() {
    root_ = fs::temp_directory_path() /
            ("fw-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/block");
    fs::create_directories(root_ / "proc");
    fs::create_directories(root_ / "dev");
    Put("proc/mounts", "proc /proc proc rw 0 0\n");
    Put("proc/swaps", "Filename\tType\tSize\tUsed\tPriority\n");
  }
  ~FakeRoot() { fs::remove_all(root_); }

  std::string Root() const { return root_.string(); }

  void Put(const std::string& rel, const std::string& text) {
    const fs::path p = root_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  void Append(const std::string& rel, const std::string& text) {
    std::ofstream(root_ / rel, std::ios::app) << text;
  }

  // A whole disk whose sysfs folder lives under `devicePath` (as the kernel links it from
  // /sys/block), with a plain file standing for its node in dev/.
  std::string Disk(const std::string& name, const std::string& devicePath, int64_t sectors,
                   bool removable, int logicalBlock = 512) {
    const std::string rel = "sys/devices/" + devicePath + "/block/" + name;
    fs::create_directories(root_ / rel);
    fs::create_directory_symlink("../devices/" + devicePath + "/block/" + name,
                                 root_ / "sys/block" / name);
    const std::string sys = "sys/block/" + name + "/";
    Put(sys + "size", std::to_string(sectors) + "\n");
    Put(sys + "removable", removable ? "1\n" : "0\n");
    Put(sys + "queue/logical_block_size", std::to_string(logicalBlock) + "\n");
    Put(sys + "dev", "8:" + std::to_string(minor_++ * 16) + "\n");
    Put("dev/" + name, "");
    return sys;
  }
  // A loop device of `sectors` showing `backing` from byte `offset` on.
  void Loop(const std::string& name, const std::string& backing, int64_t offset,
            int64_t sectors = 2048) {
    Disk(name, "virtual", sectors, false);
    Put("sys/block/" + name + "/loop/backing_file", backing + "\n");
    Put("sys/block/" + name + "/loop/offset", std::to_string(offset) + "\n");
  }
  void Partition(const std::string& disk, const std::string& part, int64_t startSector) {
    const std::string sys = "sys/block/" + disk + "/" + part + "/";
    Put(sys + "partition", "1\n");
    Put(sys + "start", std::to_string(startSector) + "\n");
    Put(sys + "dev", "259:" + std::to_string(minor_++) + "\n");
    Put("dev/" + part, "");
  }

 private:
  static inline int counter_ = 0;
  fs::path root_;
  int minor_ = 0;
};

std::map<std::string, DiskInfo> ByName(const std::vector<DiskInfo>& disks) {
  std::map<std::string, DiskInfo> out;
  for (const DiskInfo& d : disks) out[d.name] = d;
  return out;
}

constexpr const char* kUsbPath =
    "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
constexpr const char* kSataPath = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* kNvmePath = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";

TEST(BlockBackendSysfs, DescribesUsbSataNvmeAndLoopDisks) {
  FakeRoot t;
  std::string s = t.Disk("sdb", kUsbPath, 15728640, true);
  t.Put(s + "device/vendor", "SanDisk \n");
  t.Put(s + "device/model", "Cruzer Blade    \n");
  t.Partition("sdb", "sdb1", 2048);
  s = t.Disk("sda", kSataPath, 976773168, false);
  t.Put(s + "device/vendor", "ATA     \n");
  t.Put(s + "device/model", "WDC WD5000AAKX\n");
  s = t.Disk("nvme0n1", kNvmePath, 1000215216, false, 4096);
  t.Put(s + "device/model", "Samsung SSD 970 EVO\n");
  t.Partition("nvme0n1", "nvme0n1p1", 256);
  t.Loop("loop3", "/srv/images/stick.img", 0, 204800);

  BlockDiskBackend backend(t.Root() + "/");
  bool denied = true;
  const std::vector<DiskInfo> disks = backend.Enumerate(&denied);
  EXPECT_FALSE(denied);
  ASSERT_EQ(disks.size(), 4u);
  // Sorted by kernel name, so the order is stable from one inventory to the next.
  EXPECT_EQ(disks[0].name, "loop3");
  EXPECT_EQ(disks[1].name, "nvme0n1");
  EXPECT_EQ(disks[2].name, "sda");
  EXPECT_EQ(disks[3].name, "sdb");

  auto m = ByName(disks);
  const DiskInfo& usb = m["sdb"];
  EXPECT_EQ(usb.key, "block:sdb");
  EXPECT_EQ(usb.devicePath, t.Root() + "/dev/sdb");
  EXPECT_EQ(usb.busCode, 7);
  EXPECT_EQ(usb.DriveType, 2u);
  EXPECT_EQ(usb.VendorId, "SanDisk");
  EXPECT_EQ(usb.ProductId, "Cruzer Blade");
  EXPECT_EQ(usb.DiskLength, 15728640LL * 512);
  EXPECT_EQ(usb.BytesPerSector, 512u);
  EXPECT_FALSE(usb.systemDisk);
  EXPECT_EQ(usb.rootPartitionOffset, -1);

  const DiskInfo& sata = m["sda"];
  EXPECT_EQ(sata.busCode, 11);
  EXPECT_EQ(sata.DriveType, 3u);
  EXPECT_EQ(sata.VendorId, "ATA");
  EXPECT_EQ(sata.ProductId, "WDC WD5000AAKX");

  const DiskInfo& nvme = m["nvme0n1"];
  EXPECT_EQ(nvme.busCode, 17);
  EXPECT_EQ(nvme.VendorId, "");
  EXPECT_EQ(nvme.ProductId, "Samsung SSD 970 EVO");
  EXPECT_EQ(nvme.BytesPerSector, 4096u);  // the size file counts 512-byte units all the same
  EXPECT_EQ(nvme.DiskLength, 1000215216LL * 512);

  const DiskInfo& loop = m["loop3"];
  EXPECT_EQ(loop.busCode, 15);
  EXPECT_EQ(loop.ProductId, "stick.img");
  EXPECT_EQ(loop.VendorId, "");
}

TEST(BlockBackendSysfs, LeavesOutWhatIsNoDiskOrHasNoMedium) {
  FakeRoot t;
  t.Disk("sdc", kUsbPath, 0, true);             // card reader without a card
  t.Disk("loop0", "virtual", 0, false);         // unused loop device
  t.Disk("loop1", "virtual", 2048, false);      // no backing file either
  t.Disk("sr0", kSataPath, 2097152, true);      // optical drive
  t.Disk("nvme0c0n1", kNvmePath, 1000, false);  // multipath controller path
  t.Disk("mmcblk0boot0", "platform/mmc", 8192, false);
  t.Disk("sdd", kSataPath, 1000, false);
  BlockDiskBackend backend(t.Root());
  const std::vector<DiskInfo> disks = backend.Enumerate(nullptr);
  ASSERT_EQ(disks.size(), 1u);
  EXPECT_EQ(disks[0].name, "sdd");

  backend.SetOnlyDevices({"sdx"});
  EXPECT_TRUE(backend.Enumerate(nullptr).empty());
  backend.SetOnlyDevices({"sdd"});
  EXPECT_EQ(backend.Enumerate(nullptr).size(), 1u);
}

TEST(BlockBackendSysfs, MarksEveryDiskTheSystemUses) {
  FakeRoot t;
  // sda holds "/" in its second partition.
  t.Disk("sda", kSataPath, 976773168, false);
  t.Partition("sda", "sda1", 2048);
  t.Partition("sda", "sda2", 1050624);
  // nvme0n1 carries the active swap.
  t.Disk("nvme0n1", kNvmePath, 1000215216, false);
  t.Partition("nvme0n1", "nvme0n1p1", 2048);
  t.Partition("nvme0n1", "nvme0n1p2", 4096);
  // sdb holds /boot, named through a by-uuid link.
  t.Disk("sdb", kSataPath, 1000000, false);
  t.Partition("sdb", "sdb1", 2048);
  fs::create_directories(fs::path(t.Root()) / "dev/disk/by-uuid");
  fs::create_symlink("../../sdb1", fs::path(t.Root()) / "dev/disk/by-uuid/1234-ABCD");
  // sdc is a member of a device-mapper stack through a partition; sdd as a whole disk.
  t.Disk("sdc", kSataPath, 1000000, false);
  t.Partition("sdc", "sdc1", 2048);
  t.Put("sys/block/sdc/sdc1/holders/dm-0", "");
  t.Disk("sdd", kSataPath, 1000000, false);
  t.Put("sys/block/sdd/holders/md0", "");
  // sde is a USB stick mounted somewhere ordinary: not a system disk.
  t.Disk("sde", kUsbPath, 1000000, true);
  t.Partition("sde", "sde1", 2048);
  // sdf is mounted at /home as a whole disk without partitions.
  t.Disk("sdf", kSataPath, 1000000, false);

  t.Append("proc/mounts",
           "/dev/sda2 / ext4 rw,relatime 0 0\n"
           "/dev/sda1 /boot/efi vfat rw 0 0\n"
           "/dev/disk/by-uuid/1234-ABCD /boot ext4 rw 0 0\n"
           "/dev/sde1 /media/user/STICK vfat rw 0 0\n"
           "/dev/sdf /home ext4 rw 0 0\n"
           "/dev/sda2 /home/user/with\\040space ext4 rw 0 0\n");
  t.Append("proc/swaps", "/dev/nvme0n1p2                          partition\t8388604\t0\t-2\n");

  auto m = ByName(BlockDiskBackend(t.Root()).Enumerate(nullptr));
  ASSERT_EQ(m.size(), 7u);
  EXPECT_TRUE(m["sda"].systemDisk);
  EXPECT_EQ(m["sda"].rootPartitionOffset, 1050624LL * 512);
  EXPECT_TRUE(m["nvme0n1"].systemDisk);
  EXPECT_EQ(m["nvme0n1"].rootPartitionOffset, -1);
  EXPECT_TRUE(m["sdb"].systemDisk);
  EXPECT_TRUE(m["sdc"].systemDisk);
  EXPECT_TRUE(m["sdd"].systemDisk);
  EXPECT_FALSE(m["sde"].systemDisk);
  EXPECT_TRUE(m["sdf"].systemDisk);

  // The system disk is never opened for writing, whatever the caller asks.
  BlockDiskBackend backend(t.Root());
  int error = 0;
  EXPECT_EQ(backend.Open(m["sda"], true, &error), nullptr);
  EXPECT_EQ(error, EPERM);
  // A plain file standing in a fake dev folder is no block device: refused as well.
  error = 0;
  EXPECT_EQ(backend.Open(m["sde"], false, &error), nullptr);
  EXPECT_EQ(error, ENOTBLK);
}

TEST(BlockBackendSysfs, LoopDevicesOverTheSameFileShareTheirUse) {
  FakeRoot t;
  const std::string img = t.Root() + "/disk.img";
  t.Put("disk.img", std::string(4096, '\0'));
  // loop2 shows the whole file, loop5 a window of it that is mounted at /.
  t.Loop("loop2", img, 0, 8);
  t.Loop("loop5", img, 1024, 2);
  // loop6 shows another file and stays free.
  t.Put("other.img", std::string(4096, '\0'));
  t.Loop("loop6", t.Root() + "/other.img", 0, 8);
  t.Append("proc/mounts", "/dev/loop5 / ext4 rw 0 0\n");

  auto m = ByName(BlockDiskBackend(t.Root()).Enumerate(nullptr));
  ASSERT_EQ(m.size(), 3u);
  EXPECT_TRUE(m["loop5"].systemDisk);
  EXPECT_TRUE(m["loop2"].systemDisk);
  EXPECT_EQ(m["loop2"].rootPartitionOffset, 1024);
  EXPECT_FALSE(m["loop6"].systemDisk);
  EXPECT_EQ(m["loop6"].ProductId, "other.img");
}

// A loop device writes onto what it reads: over a partition of the system disk, over the system
// disk itself, over a device-mapper device on it, or over another such loop device, it is a system
// disk too. Over a plain file, or over a stick that holds nothing of the system, it is not.
TEST(BlockBackendSysfs, LoopDevicesOverTheSystemDiskAreSystemDisks) {
  FakeRoot t;
  t.Disk("sda", kSataPath, 976773168, false);
  t.Partition("sda", "sda1", 2048);
  t.Partition("sda", "sda2", 1050624);
  t.Disk("sde", kUsbPath, 1000000, true);
  t.Partition("sde", "sde1", 2048);
  // dm-0 is built on sdc1 and mounted at /home.
  t.Disk("sdc", kSataPath, 1000000, false);
  t.Partition("sdc", "sdc1", 2048);
  t.Put("sys/block/sdc/sdc1/holders/dm-0", "");
  t.Disk("dm-0", "virtual", 990000, false);
  t.Put("sys/block/dm-0/slaves/sdc1", "");
  t.Loop("loop1", "/dev/sda2", 0);              // a partition of the system disk
  t.Loop("loop2", "/dev/loop1", 4096);          // a loop device over that one
  t.Loop("loop3", "/dev/sda", 0);               // the system disk itself
  t.Loop("loop4", "/dev/mapper/home", 0);       // the device-mapper device, through its link
  t.Loop("loop5", "/dev/sde1", 512);            // a partition of a stick
  t.Loop("loop6", t.Root() + "/stick.img", 0);  // a plain image file
  t.Loop("loop7", "/dev/loop5", 0);             // a loop over a loop over the stick
  fs::create_directories(fs::path(t.Root()) / "dev/mapper");
  fs::create_symlink("../dm-0", fs::path(t.Root()) / "dev/mapper/home");
  t.Put("dev/dm-0", "");
  t.Put("stick.img", std::string(4096, '\0'));
  t.Append("proc/mounts",
           "/dev/sda2 / ext4 rw 0 0\n"
           "/dev/mapper/home /home ext4 rw 0 0\n");

  BlockDiskBackend backend(t.Root());
  auto m = ByName(backend.Enumerate(nullptr));
  EXPECT_TRUE(m["sda"].systemDisk);
  EXPECT_TRUE(m["sdc"].systemDisk);
  for (const char* name : {"loop1", "loop2", "loop3", "loop4"})
    EXPECT_TRUE(m[name].systemDisk) << name;
  for (const char* name : {"sde", "loop5", "loop6", "loop7"})
    EXPECT_FALSE(m[name].systemDisk) << name;
  int error = 0;
  EXPECT_EQ(backend.Open(m["loop2"], true, &error), nullptr);
  EXPECT_EQ(error, EPERM);

  // The other way round: a loop device over the stick's partition mounted at "/" makes the
  // stick a system disk, with the root where that loop device's bytes begin.
  t.Append("proc/mounts", "/dev/loop7 / ext4 rw 0 0\n");
  m = ByName(backend.Enumerate(nullptr));
  EXPECT_TRUE(m["sde"].systemDisk);
  EXPECT_EQ(m["sde"].rootPartitionOffset, 2048 * 512 + 512);
  EXPECT_TRUE(m["loop5"].systemDisk);
  EXPECT_FALSE(m["loop6"].systemDisk);
}

}  // namespace
}  // namespace fw
