// Raw access and the inventory on real loop devices (512- and 4096-byte logical sectors): the rows
// of partitioned disks, sector transfers at the disk end, the exclusive lock against other
// processes and against partition windows, the 20-try volume lock, devices that vanish or change,
// the system-disk walls on a real device described by a fake system, and missing rights.
#include <grp.h>
#include <sys/resource.h>

#include <climits>

#include "disk/disk_table.h"
#include "tests/disk_loop/disk_fixture.h"

namespace fw::disktest {
namespace {

using LoopDiskTest = DiskFixture;

// Partitions `loop` with sfdisk: slot 1 active FAT32 LBA at 1 MiB, slot 2 the rest when asked.
void Partition(const std::string& loop, uint32_t ss, int64_t part1Bytes, bool second) {
  const int64_t start = MiB / ss;
  std::string script = "label: dos\nstart=" + std::to_string(start) +
                       ", size=" + std::to_string(part1Bytes / ss) + ", type=c, bootable\n";
  if (second) script += "type=af\n";
  int st = 0;
  const std::string out = Shell("printf '" + script + "' | sfdisk --no-reread -q " + loop, &st);
  ASSERT_EQ(st, 0) << out;
}

TEST_F(LoopDiskTest, RowsVolumesAndWindowsOn512And4096ByteSectors) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE("sector size " + std::to_string(ss));
    ResetDriveLetters();
    const fs::path file = MakeFile("disk" + std::to_string(ss) + ".img", 320 * MiB);
    const std::string loop = AttachLoop(file, ss);
    FW_REQUIRE_LOOP(loop);
    Partition(loop, ss, 288 * MiB, true);
    // The first partition gets a FAT32 file system through a window loop over its bytes.
    const std::string window = AttachLoop(
        file, ss, "-o " + std::to_string(MiB) + " --sizelimit " + std::to_string(288 * MiB));
    FW_REQUIRE_LOOP(window);
    int st = 0;
    const std::string out = Shell("mkfs.fat -F 32 -n FWLOOP " + window, &st);
    ASSERT_EQ(st, 0) << out;
    DetachLoop(window);

    const int32_t n = ListLoops({loop}, file);
    ASSERT_GE(n, 0) << LogText();
    const DiskRecord& d = *Record(n);
    EXPECT_EQ(d.BytesPerSector, ss);
    EXPECT_EQ(d.DiskLength, 320 * MiB);
    EXPECT_EQ(d.DriveLetters, "D:");
    EXPECT_EQ(d.Partitions[0].StartingOffset, MiB);
    EXPECT_EQ(d.Partitions[1].StartingOffset, 289 * MiB);
    std::vector<std::string> rows;
    for (const DriveListRow& r : DriveListRows()) rows.push_back(r.text);
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "FileBackedVirtual: " + file.filename().string() + " 320 MB (D:)",
                        "Part1: 288 MB FAT32 Act <FWLOOP> D:", "Part2: 31 MB <NONAME> "}));

    // The volume handle is a window of exactly the partition: its sector 0 is the boot sector,
    // its last sector is the partition's last, and nothing spills into the next partition.
    ASSERT_EQ(SetCurrentDisk(n, 0), 1);
    const DriveHandle v = GetDriveHandle(n, "d:", true, false);
    ASSERT_NE(v, kInvalidHandle);
    EXPECT_EQ(DriveSize(v), 288 * MiB);
    std::vector<uint8_t> boot(ss);
    EXPECT_EQ(read_sectors(v, ss, 0, 1, boot.data()), ss);
    EXPECT_EQ(boot, ReadBytes(file, MiB, ss));
    const int64_t last = 288 * MiB / ss - 1;
    const std::vector<uint8_t> next = ReadBytes(file, 289 * MiB, ss);
    const std::vector<uint8_t> two = Pattern(2 * ss, ss);
    EXPECT_EQ(write_sectors(v, ss, last, 2, two.data()), 0);
    EXPECT_EQ(write_sectors(v, ss, last, 1, two.data()), ss);
    CloseHandle(v);
    EXPECT_EQ(ReadBytes(file, 289 * MiB - ss, ss),
              std::vector<uint8_t>(two.begin(), two.begin() + ss));
    EXPECT_EQ(ReadBytes(file, 289 * MiB, ss), next);
    EXPECT_EQ(OpenHandleCount(), 0);
    DetachLoop(loop);
  }
}

TEST_F(LoopDiskTest, TransfersAtTheDiskEnd) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE("sector size " + std::to_string(ss));
    const int64_t size = 8 * MiB;
    const fs::path file = MakeFile("end" + std::to_string(ss) + ".img", size);
    WriteBytes(file, 0, Pattern(static_cast<size_t>(size), ss));
    const std::string loop = AttachLoop(file, ss);
    FW_REQUIRE_LOOP(loop);
    const int32_t n = ListLoops({loop}, file);
    ASSERT_GE(n, 0);
    ASSERT_EQ(SetCurrentDisk(n, -1), 1);
    const DriveHandle h = GetDriveHandle(n, "", true, false);
    ASSERT_NE(h, kInvalidHandle);
    const int64_t sectors = size / ss;
    std::vector<uint8_t> buf(2 * ss, 0);

    // The last sector reads whole; a range past the end reads short and says so.
    EXPECT_EQ(read_sectors(h, ss, sectors - 1, 1, buf.data()), ss);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + ss), ReadBytes(file, size - ss, ss));
    EXPECT_EQ(read_sectors(h, ss, sectors - 1, 2, buf.data()), ss);
    EXPECT_TRUE(LogHas("read_sectors: Error StartSector:" + std::to_string(sectors - 1) +
                       ", nSectors:2, SectorSize:" + std::to_string(ss)));
    EXPECT_EQ(read_sectors(h, ss, sectors + 1, 1, buf.data()), 0);
    EXPECT_TRUE(LogHas("read_sectors: Could not access sector " + std::to_string(sectors + 1)));
    EXPECT_EQ(read_sectors(h, ss, -1, 1, buf.data()), 0);

    // Writes: whole or nothing. A range reaching past the end leaves the last sector as it was.
    const std::vector<uint8_t> first = ReadBytes(file, 0, ss);
    const std::vector<uint8_t> before = ReadBytes(file, size - ss, ss);
    const std::vector<uint8_t> data = Pattern(2 * ss, 99);
    EXPECT_EQ(write_sectors(h, ss, sectors - 1, 2, data.data()), 0);
    EXPECT_EQ(write_sectors(h, ss, sectors, 1, data.data()), 0);
    EXPECT_EQ(write_sectors(h, ss, sectors + 5, 1, data.data()), 0);
    // Counts whose byte size does not fit in 64 bits must not wrap into a small transfer
    // (2^64 / ss + 1 sectors would come out as exactly one sector).
    const int64_t wrapping = static_cast<int64_t>(UINT64_MAX / ss + 2);
    EXPECT_EQ(write_sectors(h, ss, 0, wrapping, data.data()), 0);
    EXPECT_EQ(read_sectors(h, ss, 0, wrapping, buf.data()), 0);
    EXPECT_EQ(write_sectors(h, ss, INT64_MAX / 2, 1, data.data()), 0);
    ASSERT_TRUE(DeviceForHandle(h)->Flush());
    EXPECT_EQ(ReadBytes(file, 0, ss), first);
    EXPECT_EQ(ReadBytes(file, size - ss, ss), before);
    EXPECT_EQ(write_sectors(h, ss, sectors - 1, 1, data.data()), ss);
    CloseHandle(h);
    EXPECT_EQ(ReadBytes(file, size - ss, ss),
              std::vector<uint8_t>(data.begin(), data.begin() + ss));

    // A read-only handle moves nothing on a write.
    const DriveHandle r = GetDriveHandle(n, "", false, false);
    ASSERT_NE(r, kInvalidHandle);
    EXPECT_EQ(write_sectors(r, ss, 0, 1, data.data()), 0);
    CloseHandle(r);
    EXPECT_EQ(OpenHandleCount(), 0);
    DetachLoop(loop);
  }
}

TEST_F(LoopDiskTest, DiskLockAgainstAnotherProcess) {
  const fs::path file = MakeFile("lock.img", 8 * MiB);
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  const int32_t n = ListLoops({loop}, file);
  ASSERT_GE(n, 0);
  const std::string path = "\\\\.\\PHYSICALDRIVE" + std::to_string(n);

  ExclusiveHolder other;
  ASSERT_TRUE(other.Hold(loop));
  EXPECT_EQ(GetDriveHandle(n, "", true, true), kInvalidHandle);
  EXPECT_TRUE(LogHas("GetDriveHandle: Error 16 LOCK drive " + path)) << LogText();
  EXPECT_TRUE(clock_.pauses.empty()) << "a disk lock is tried once";
  EXPECT_EQ(OpenHandleCount(), 0);
  other.Release();

  // Held by us, nobody else can take the disk; unlocked, they can while our handle stays open.
  const DriveHandle h = GetDriveHandle(n, "", true, true);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(LogHas("GetDriveHandle: Success LOCK " + path));
  EXPECT_FALSE(OthersCanClaim(loop));
  EXPECT_EQ(UnlockDrive(h), 1);
  EXPECT_EQ(UnlockDrive(h), 0);
  EXPECT_TRUE(OthersCanClaim(loop));
  CloseHandle(h);
}

TEST_F(LoopDiskTest, DiskLockAgainstPartitionWindowsHeldOrMounted) {
  const fs::path file = MakeFile("win.img", 64 * MiB);
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  Partition(loop, 512, 32 * MiB, false);
  const std::string window = AttachLoop(
      file, 512, "-o " + std::to_string(MiB) + " --sizelimit " + std::to_string(32 * MiB));
  FW_REQUIRE_LOOP(window);
  const int32_t n = ListLoops({loop}, file);
  ASSERT_GE(n, 0);

  // The kernel does not relate two loop devices over one file; the lock must.
  {
    ExclusiveHolder other;
    ASSERT_TRUE(other.Hold(window));
    EXPECT_EQ(GetDriveHandle(n, "", true, true), kInvalidHandle);
    EXPECT_TRUE(LogHas(NameOf(loop) + ": " + NameOf(window) + " over its bytes is in use"));
  }
  int st = 0;
  const std::string out = Shell("mkfs.ext4 -q -F " + window, &st);
  ASSERT_EQ(st, 0) << out;
  const fs::path mnt = dir_ / "mnt";
  Mount(window, mnt);
  EXPECT_EQ(GetDriveHandle(n, "", true, true), kInvalidHandle);
  EXPECT_EQ(OpenHandleCount(), 0);

  // Dismounting the disk unmounts the window; then the lock holds it against a new mount.
  const DriveHandle plain = GetDriveHandle(n, "", true, false);
  ASSERT_NE(plain, kInvalidHandle);
  EXPECT_EQ(UnmountDrive(plain), 1);
  EXPECT_EQ(Shell("grep -c ' " + mnt.string() + " ' /proc/mounts"), "0\n");
  CloseHandle(plain);
  const DriveHandle locked = GetDriveHandle(n, "", true, true);
  ASSERT_NE(locked, kInvalidHandle);
  EXPECT_EQ(Shell("mount " + window + " " + mnt.string() + "; echo rc=$?").find("rc=0"),
            std::string::npos);
  EXPECT_FALSE(OthersCanClaim(window));
  CloseHandle(locked);
  EXPECT_TRUE(OthersCanClaim(window));
}

// A loop device over the disk's own loop device shows its bytes, and the kernel does not count it
// as a user of the disk: held by another program it keeps the disk from being claimed, and the
// claim keeps it from being taken.
TEST_F(LoopDiskTest, DiskLockAgainstALoopDeviceOverTheDisk) {
  const fs::path file = MakeFile("stack.img", 16 * MiB);
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  int st = 0;
  std::string upper = Shell("losetup -f --show " + loop, &st);
  upper = upper.substr(0, upper.find('\n'));
  ASSERT_EQ(st, 0) << upper;
  ASSERT_EQ(upper.rfind("/dev/loop", 0), 0u) << upper;
  struct Detach {
    std::string device;
    ~Detach() { Shell("losetup -d " + device); }
  } detach{upper};
  const int32_t n = ListLoops({loop}, file);
  ASSERT_GE(n, 0);
  {
    ExclusiveHolder other;
    ASSERT_TRUE(other.Hold(upper));
    EXPECT_EQ(GetDriveHandle(n, "", true, true), kInvalidHandle);
    EXPECT_TRUE(LogHas(NameOf(loop) + ": " + NameOf(upper) + " over its bytes is in use"))
        << LogText();
  }
  const DriveHandle locked = GetDriveHandle(n, "", true, true);
  ASSERT_NE(locked, kInvalidHandle);
  EXPECT_FALSE(OthersCanClaim(upper));
  CloseHandle(locked);
  EXPECT_TRUE(OthersCanClaim(upper));
  EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(LoopDiskTest, VolumeLockTriesTwentyTimesHalfASecondApart) {
  const fs::path file = MakeFile("vol.img", 64 * MiB);
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  Partition(loop, 512, 40 * MiB, false);
  const std::string window = AttachLoop(
      file, 512, "-o " + std::to_string(MiB) + " --sizelimit " + std::to_string(40 * MiB));
  FW_REQUIRE_LOOP(window);
  int st = 0;
  const std::string out = Shell("mkfs.fat -F 32 -n VOL " + window, &st);
  ASSERT_EQ(st, 0) << out;
  DetachLoop(window);
  const int32_t n = ListLoops({loop}, file);
  ASSERT_GE(n, 0);
  ASSERT_EQ(Record(n)->Partitions[0].DriveLetter, "D:");
  ASSERT_EQ(SetCurrentDisk(n, 0), 1);

  ExclusiveHolder other;
  ASSERT_TRUE(other.Hold(loop));
  EXPECT_EQ(GetDriveHandle(n, "D:", true, true), kInvalidHandle);
  EXPECT_EQ(clock_.pauses, std::vector<int64_t>(20, 500));
  EXPECT_EQ(clock_.TotalMs(), 10000);
  const std::string log = LogText();
  EXPECT_NE(log.find("GetDriveHandle: Try #1 Error 16 LOCK drive \\\\.\\D:"), std::string::npos);
  EXPECT_NE(log.find("GetDriveHandle: Try #20 Error 16 LOCK drive \\\\.\\D:"), std::string::npos);
  EXPECT_EQ(log.find("Try #21"), std::string::npos);
  EXPECT_EQ(OpenHandleCount(), 0);

  // When the other user lets go during the waits, the next try takes the volume.
  other.Release();
  clock_.pauses.clear();
  clock_.onPause = [&](int count) {
    if (count == 3) other.Release();
  };
  ASSERT_TRUE(other.Hold(loop));
  const DriveHandle h = GetDriveHandle(n, "D:", true, true);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(clock_.pauses.size(), 3u);
  EXPECT_FALSE(OthersCanClaim(loop));
  CloseHandle(h);
  clock_.onPause = nullptr;
}

TEST_F(LoopDiskTest, VanishedOrReplacedDeviceIsAnErrorNotAnotherDisk) {
  const int64_t size = 8 * MiB;
  const fs::path file = MakeFile("gone.img", size);
  const fs::path other = MakeFile("other.img", size);
  WriteBytes(other, 0, Pattern(4096, 7));
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  const int32_t n = ListLoops({loop}, file);
  ASSERT_GE(n, 0);
  ASSERT_EQ(SetCurrentDisk(n, -1), 1);

  // Detached while a handle is open: the handle keeps working until it is closed.
  const DriveHandle h = GetDriveHandle(n, "", false, false);
  ASSERT_NE(h, kInvalidHandle);
  DetachLoop(loop);
  Adopt(loop);  // the kernel detaches it at the last close; teardown makes sure
  std::vector<uint8_t> buf(512);
  EXPECT_EQ(read_sectors(h, 512, 0, 1, buf.data()), 512);
  CloseHandle(h);

  // Gone: the stale inventory's disk number opens nothing.
  EXPECT_EQ(GetDriveHandle(n, "", false, false), kInvalidHandle);
  EXPECT_EQ(GetDriveHandle(n, "", true, true), kInvalidHandle);

  // The same loop device over another file is another disk, whatever the old number says.
  int st = 0;
  Shell("losetup " + loop + " " + other.string(), &st);
  if (st != 0) GTEST_SKIP() << "another test took " << loop << " in the meantime";
  EXPECT_EQ(GetDriveHandle(n, "", true, false), kInvalidHandle);
  EXPECT_TRUE(LogHas(NameOf(loop) + " is another disk than the one listed")) << LogText();
  EXPECT_EQ(ReadBytes(other, 0, 4096), Pattern(4096, 7));
  const int32_t again = ListLoops({loop}, other);
  ASSERT_GE(again, 0);
  const DriveHandle fresh = GetDriveHandle(again, "", false, false);
  ASSERT_NE(fresh, kInvalidHandle);
  CloseHandle(fresh);

  // Shrinking under an open handle: reads come back short, writes fail, nothing crashes; a new
  // open is refused until the inventory has looked again.
  const DriveHandle w = GetDriveHandle(again, "", true, false);
  ASSERT_NE(w, kInvalidHandle);
  ASSERT_EQ(::truncate(other.c_str(), size / 2), 0);
  Shell("losetup -c " + loop);
  const int64_t last = size / 512 - 1;
  EXPECT_EQ(read_sectors(w, 512, last, 1, buf.data()), 0);
  EXPECT_EQ(write_sectors(w, 512, last, 1, buf.data()), 0);
  CloseHandle(w);
  EXPECT_EQ(GetDriveHandle(again, "", false, false), kInvalidHandle);
  EXPECT_TRUE(LogHas("changed size since it was listed"));
  EXPECT_EQ(OpenHandleCount(), 0);
}

// A fake system description whose root file system lives on a window of the test's loop device,
// and whose device node links to the real loop device.
class FakeSystemTest : public DiskFixture {
 protected:
  void WriteFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text << "\n";
  }
  void DescribeLoop(const fs::path& root, const std::string& loop, const fs::path& file,
                    int64_t offset, int64_t bytes) {
    const std::string name = NameOf(loop);
    const fs::path sys = root / "sys/block" / name;
    WriteFile(sys / "size", std::to_string(bytes / 512));
    std::string dev = Shell("cat /sys/block/" + name + "/dev");
    WriteFile(sys / "dev", dev.substr(0, dev.find('\n')));
    WriteFile(sys / "removable", "0");
    WriteFile(sys / "queue/logical_block_size", "512");
    WriteFile(sys / "loop/backing_file", file.string());
    WriteFile(sys / "loop/offset", std::to_string(offset));
    fs::create_directories(sys / "holders");
    fs::create_directories(root / "dev");
    fs::create_symlink(loop, root / "dev" / name);
  }
};

TEST_F(FakeSystemTest, SystemDiskIsNeverOpenedForWriting) {
  const fs::path file = MakeFile("sys.img", 64 * MiB);
  WriteBytes(file, 0, Pattern(512, 3));
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  Partition(loop, 512, 32 * MiB, false);
  const std::string window = AttachLoop(
      file, 512, "-o " + std::to_string(MiB) + " --sizelimit " + std::to_string(32 * MiB));
  FW_REQUIRE_LOOP(window);
  const std::vector<uint8_t> sector0 = ReadBytes(file, 0, 512);

  // "/" is mounted from the window loop: the disk holds the root file system.
  const fs::path root = dir_ / "root";
  DescribeLoop(root, loop, file, 0, 64 * MiB);
  DescribeLoop(root, window, file, MiB, 32 * MiB);
  WriteFile(root / "proc/mounts", "/dev/" + NameOf(window) + " / ext4 rw 0 0");
  WriteFile(root / "proc/swaps", "Filename Type Size Used Priority");
  BlockDiskBackend fake(root.string());
  fake.SetOnlyDevices({NameOf(loop)});
  DiskBackends() = {&fake};
  UpdateAllDrives();
  ASSERT_EQ(DiskRecords().size(), 1u) << LogText();
  const DiskRecord& d = DiskRecords()[0];
  EXPECT_EQ(d.Partitions[0].DriveLetter, "C:");
  EXPECT_EQ(d.DriveLetters, "C:");
  EXPECT_TRUE(LogHas(NameOf(loop) + " is a system disk"));

  // Refused with the user's texts when CurrentDisk holds it, and below that whatever it holds.
  ASSERT_EQ(SetCurrentDisk(d.DiskNumber, -1), 1);
  EXPECT_EQ(GetDriveHandle(d.DiskNumber, "", true, true), kInvalidHandle);
  ASSERT_FALSE(ui_.statuses.empty());
  EXPECT_EQ(ui_.statuses.back(), "WARNING - write access to System Drive disabled!");
  EXPECT_EQ(ui_.boxes,
            (std::vector<std::string>{
                "Error|Sorry, operation not permitted!\r\nYou selected a System Drive."}));
  CurrentDisk() = DiskRecord{};
  EXPECT_EQ(GetDriveHandle(d.DiskNumber, "", true, false), kInvalidHandle);
  int err = 0;
  NumberedDisk nd;
  ASSERT_TRUE(FindNumberedDisk(d.DiskNumber, &nd));
  EXPECT_EQ(fake.Open(nd.info, true, &err), nullptr);
  EXPECT_EQ(err, EPERM);

  // Reading the disk is allowed; the system volume is refused even for reading.
  const DriveHandle r = GetDriveHandle(d.DiskNumber, "", false, false);
  ASSERT_NE(r, kInvalidHandle);
  std::vector<uint8_t> buf(512);
  EXPECT_EQ(read_sectors(r, 512, 0, 1, buf.data()), 512);
  CloseHandle(r);
  EXPECT_EQ(GetDriveHandle(d.DiskNumber, "c:", false, false), kInvalidHandle);
  EXPECT_EQ(ui_.statuses.back(), "WARNING - access to Disk C: disabled!");
  EXPECT_TRUE(LogHas("GetDriveHandle: WARNING: Bad DriveLetter$=C. Please check the code!"));
  EXPECT_EQ(ReadBytes(file, 0, 512), sector0);
  EXPECT_EQ(OpenHandleCount(), 0);
  ResetDiskBackends();
}

TEST_F(LoopDiskTest, WithoutRightsTheInventorySaysSoAndStillListsImages) {
  const fs::path file = MakeFile("rights.img", 8 * MiB);
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  const fs::path image = MakeFile("readable.img", 4 * MiB);
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(logPath_, fs::perms::all);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The child drops root for good and looks at the same devices as an ordinary user.
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(10);
    DefaultBlockBackend().SetOnlyDevices({NameOf(loop)});
    Settings().EnableFixedDisks = 1;  // a loop device is offered as a fixed disk
    int code = AttachImageDisk(image.string(), 512) == 1 ? 0 : 2;
    UpdateAllDrives();
    if (InventoryAccessProblem() != kNeedRightsText) code |= 1;
    if (DriveListRows().size() != 1 ||
        DriveListRows()[0].text.find("readable.img") == std::string::npos)
      code |= 2;
    if (ui_.statuses.empty() || ui_.statuses.back() != "Select the USB Flash Drive, please")
      code |= 4;
    DetachAllImageDisks();
    UpdateAllDrives();
    if (ui_.statuses.back() != kNeedRightsText) code |= 8;
    CloseLog();
    _exit(code);
  }
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  ASSERT_NE(WEXITSTATUS(st), 10) << "could not drop root";
  EXPECT_EQ(WEXITSTATUS(st), 0) << "1 rights not noticed, 2 image not listed, 4 status with "
                                   "image, 8 status without disks";
  EXPECT_TRUE(LogHas(kNeedRightsText));
}

}  // namespace
}  // namespace fw::disktest
