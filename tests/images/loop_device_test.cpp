// Backup and restore through real loop devices with 512- and 4096-byte sectors, and a backup onto
// a file system that fills up. Everything runs on image files and loop devices created here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/settings.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "images/image_jobs.h"
#include "platform/block_device.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr int64_t MiB = 1024 * 1024;
constexpr int64_t kStart = 1 * MiB;
constexpr int64_t kLength = 40 * MiB;

std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  std::array<char, 512> buf{};
  while (fgets(buf.data(), buf.size(), p)) out += buf.data();
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

std::vector<uint8_t> ReadFile(const fs::path& p, int64_t offset = 0, int64_t length = -1) {
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  const int64_t size = static_cast<int64_t>(in.tellg());
  int64_t n = size > offset ? size - offset : 0;
  if (length >= 0 && n > length) n = length;
  std::vector<uint8_t> v(static_cast<size_t>(n));
  in.seekg(offset);
  in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(n));
  return v;
}

// The workers' disk over one loop device: handle 1 the whole disk, handle 2 partition 1.
class LoopJobDisk final : public ImageJobDisk {
 public:
  LoopJobDisk(std::unique_ptr<FdDevice> device, bool lettered)
      : device_(std::move(device)),
        volume_(*device_, static_cast<uint64_t>(kStart), static_cast<uint64_t>(kLength)) {
    record_.DiskNumber = 7;
    record_.BytesPerSector = device_->SectorSize();
    record_.PartitionCount = 1;
    record_.Partitions[0].StartingOffset = kStart;
    record_.Partitions[0].PartitionLength = kLength;
    record_.Partitions[0].DriveLetter = lettered ? "F:" : "";
    record_.SelectedPartition = 1;
  }
  int32_t SetCurrentDisk() override {
    CurrentDisk() = record_;
    return 1;
  }
  int32_t UpdateAllDrives() override { return 1; }
  DriveHandle GetDriveHandle(int32_t, const std::string& letter, bool, bool) override {
    const DriveHandle h = letter.empty() ? 1 : 2;
    ++open;
    return h;
  }
  BlockDevice* DeviceForHandle(DriveHandle h) override {
    return h == 1 ? static_cast<BlockDevice*>(device_.get()) : &volume_;
  }
  int UnmountDrive(DriveHandle) override { return 1; }
  int UnlockDrive(DriveHandle) override { return 1; }
  void CloseHandle(DriveHandle) override { --open; }
  int64_t read_sectors(DriveHandle h, int64_t ss, int64_t first, int64_t n, void* b) override {
    return DeviceForHandle(h)->ReadSectors(uint64_t(first), uint64_t(n), b) ? ss * n : 0;
  }
  int64_t write_sectors(DriveHandle h, int64_t ss, int64_t first, int64_t n,
                        const void* b) override {
    return DeviceForHandle(h)->WriteSectors(uint64_t(first), uint64_t(n), b) ? ss * n : 0;
  }
  int RereadPartitionTable(DriveHandle) override { return 1; }
  int open = 0;

 private:
  std::unique_ptr<FdDevice> device_;
  WindowDevice volume_;
  DiskRecord record_;
};

class FileUi final : public Ui {
 public:
  void ShowStatus(const std::string& text, int) override {
    statuses.push_back(text);
    if (onStatus) onStatus(text);
  }
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    return MsgAnswer::Yes;
  }
  std::string OpenFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return file;
  }
  std::string SaveFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return file;
  }
  std::string FolderChooser(const std::string&, const std::string&) override { return ""; }
  void SetControlText(int, int, const std::string&) override {}
  std::string ControlText(int, int) override { return ""; }
  void SetControlEnabled(int, int, bool) override {}
  void SetComboItems(int, int, const std::vector<std::string>&, int) override {}
  std::string file;
  std::vector<std::string> statuses;
  std::function<void(const std::string&)> onStatus;
};

class LoopImages : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
    if (Shell("command -v losetup").empty()) GTEST_SKIP() << "losetup is not installed";
    SetPausesEnabled(false);
    dir_ = fs::temp_directory_path() /
           ("fw-images-loop-" + std::to_string(::getpid()) + "-" + std::to_string(GetParam()));
    fs::create_directories(dir_);
    disk_ = dir_ / "disk.img";
    {
      // A small MBR disk: partition 1 of type 0x0B from 1 MiB, 40 MiB long, patterned content.
      std::vector<uint8_t> bytes(static_cast<size_t>(kStart + kLength + MiB));
      for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
      const uint32_t ss = GetParam();
      uint8_t* e = bytes.data() + 0x1BE;
      std::memset(e, 0, 64);
      e[4] = 0x0B;
      const auto first = static_cast<uint32_t>(kStart / ss);
      const auto count = static_cast<uint32_t>(kLength / ss);
      std::memcpy(e + 8, &first, 4);
      std::memcpy(e + 12, &count, 4);
      bytes[510] = 0x55;
      bytes[511] = 0xAA;
      std::ofstream(disk_, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    }
    int status = 0;
    loop_ = Shell("losetup -b " + std::to_string(GetParam()) + " --find --show " + disk_.string(),
                  &status);
    while (!loop_.empty() && (loop_.back() == '\n' || loop_.back() == ' ')) loop_.pop_back();
    if (status != 0 || loop_.rfind("/dev/loop", 0) != 0) {
      loop_.clear();
      GTEST_SKIP() << "no loop device available";
    }
    Settings().ZORImageLocalRepo = dir_.string() + "/";
    SetUi(&ui_);
  }
  void TearDown() override {
    SetImageJobDiskForTesting(nullptr);
    SetUi(nullptr);
    if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
    if (!loop_.empty()) Shell("losetup -d " + loop_);
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::unique_ptr<LoopJobDisk> Attach(bool lettered) {
    auto device = FdDevice::Open(loop_, true);
    EXPECT_TRUE(device);
    if (!device) return nullptr;
    EXPECT_EQ(device->SectorSize(), GetParam());
    auto d = std::make_unique<LoopJobDisk>(std::move(device), lettered);
    SetImageJobDiskForTesting(d.get());
    return d;
  }

  fs::path dir_, disk_;
  std::string loop_, mounted_;
  FileUi ui_;
};

TEST_P(LoopImages, BackupThenRestoreRoundTripsByteForByte) {
  const auto original = ReadFile(disk_, kStart, kLength);
  for (bool lettered : {false, true}) {
    auto d = Attach(lettered);
    ASSERT_TRUE(d);
    ui_.file = (dir_ / (lettered ? "vol.bin" : "phys.bin")).string();
    const ImageJobOutcome r = RunBackUp();
    EXPECT_TRUE(r.copied);
    EXPECT_EQ(d->open, 0);
    EXPECT_EQ(ReadFile(ui_.file), original) << "lettered=" << lettered;
  }

  // Restore a shorter, different image; sfdisk must then see type af and the image's length.
  const uint32_t ss = GetParam();
  const int64_t imageLength = 17 * MiB + ss;
  std::vector<uint8_t> image(static_cast<size_t>(imageLength));
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i % 251);
  ui_.file = (dir_ / "hfs.img").string();
  std::ofstream(ui_.file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), imageLength);
  {
    auto d = Attach(false);
    ASSERT_TRUE(d);
    const ImageJobOutcome r = RunRecover();
    EXPECT_TRUE(r.copied);
    EXPECT_EQ(d->open, 0);
  }
  Shell("sync");
  const auto after = ReadFile(disk_, kStart, kLength);
  ASSERT_EQ(after.size(), original.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin()));
  EXPECT_TRUE(std::equal(after.begin() + imageLength, after.end(), original.begin() + imageLength));
  std::string dump = Shell("sfdisk --dump " + loop_);
  std::erase(dump, ' ');
  EXPECT_NE(dump.find("start=" + std::to_string(kStart / ss) +
                      ",size=" + std::to_string(imageLength / ss) + ",type=af"),
            std::string::npos)
      << dump;
  EXPECT_EQ(format_op_in_progress.load(), 0);
}

TEST_P(LoopImages, BackupOntoAFullFileSystemReportsTheWriteError) {
  if (GetParam() != 512) GTEST_SKIP() << "one sector size is enough for this case";
  const fs::path target = dir_ / "small";
  fs::create_directories(target);
  if (::mount("fwtmp", target.c_str(), "tmpfs", 0, "size=8m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  mounted_ = target.string();
  auto d = Attach(false);
  ASSERT_TRUE(d);
  ui_.file = (target / "PartSave.bin").string();
  const ImageJobOutcome r = RunBackUp();
  EXPECT_EQ(r.result, 0);
  EXPECT_FALSE(r.copied);
  bool sawError = false;
  for (const auto& s : ui_.statuses) sawError |= s == "WriteFile Error=28";
  EXPECT_TRUE(sawError);
  EXPECT_EQ(d->open, 0);
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(CancelMainThread.load(), 0);
}

// The loop device shows disk.img: a backup into that file (or through a second loop device over
// the first) would empty what it reads, and a restore from it would overwrite what it reads.
TEST_P(LoopImages, ImageFileBehindTheLoopDeviceIsRefused) {
  if (GetParam() != 512) GTEST_SKIP() << "one sector size is enough for this case";
  const auto before = ReadFile(disk_);
  {
    auto d = Attach(false);
    ASSERT_TRUE(d);
    ui_.file = disk_.string();
    EXPECT_FALSE(RunBackUp().copied);
    EXPECT_FALSE(RunRecover().copied);
    EXPECT_EQ(d->open, 0);
  }
  int status = 0;
  std::string upper = Shell("losetup --find --show " + loop_, &status);
  while (!upper.empty() && (upper.back() == '\n' || upper.back() == ' ')) upper.pop_back();
  ASSERT_EQ(status, 0) << upper;
  ASSERT_EQ(upper.rfind("/dev/loop", 0), 0u) << upper;
  {
    auto device = FdDevice::Open(upper, true);
    ASSERT_TRUE(device);
    const std::vector<FileId> shown = device->BackingFiles();
    LoopJobDisk d(std::move(device), false);
    SetImageJobDiskForTesting(&d);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_FALSE(RunBackUp().copied);
    SetImageJobDiskForTesting(nullptr);
  }
  Shell("losetup -d " + upper);
  EXPECT_EQ(ReadFile(disk_), before);
}

// Flips one byte of a file through a descriptor of its own, as another program would.
void FlipByte(const fs::path& file, int64_t offset) {
  const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  uint8_t b = 0;
  ASSERT_EQ(::pread(fd, &b, 1, offset), 1);
  b ^= 0x5A;
  ASSERT_EQ(::pwrite(fd, &b, 1, offset), 1);
  ::fsync(fd);
  ::close(fd);
}

TEST_P(LoopImages, VerifyPassesAndCatchesAByteChangedBehindTheCache) {
  const ImageJobOptions verify{true};
  auto d = Attach(false);
  ASSERT_TRUE(d);
  ui_.file = (dir_ / "part.bin").string();
  ImageJobOutcome r = RunBackUp(verify);
  EXPECT_TRUE(r.copied && r.verified);
  EXPECT_EQ(ui_.statuses.back(), "Verified");
  r = RunRecover(verify);
  EXPECT_TRUE(r.copied && r.verified);

  // Between the copy and the check another program changes a byte of the loop device's backing
  // file, after the loop device's cache was filled with the copy that was written: the check
  // must see the storage, not the cache.
  const int64_t bad = 5 * MiB + 123;
  uint8_t cached = 0, stored = 0;
  ui_.onStatus = [&](const std::string& text) {
    if (text != "Verify: reading back what was written") return;
    const int fd = ::open(loop_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> range(static_cast<size_t>(kLength));
    ASSERT_EQ(::pread(fd, range.data(), range.size(), kStart), kLength);
    FlipByte(disk_, kStart + bad);
    ASSERT_EQ(::pread(fd, &cached, 1, kStart + bad), 1);
    ::close(fd);
    stored = ReadFile(disk_, kStart + bad, 1)[0];
  };
  ui_.statuses.clear();
  r = RunRecover(verify);
  EXPECT_TRUE(r.copied);
  EXPECT_FALSE(r.verified);
  EXPECT_NE(cached, stored) << "the loop device's cache did not keep the old byte";
  EXPECT_NE(std::find(ui_.statuses.begin(), ui_.statuses.end(),
                      "Verify Error: first difference at byte " + std::to_string(bad)),
            ui_.statuses.end());

  // A backup whose image file is changed before the check.
  ui_.onStatus = [&](const std::string& text) {
    if (text == "Verify: reading back what was written") FlipByte(ui_.file, kLength - 1);
  };
  ui_.statuses.clear();
  r = RunBackUp(verify);
  EXPECT_TRUE(r.copied);
  EXPECT_FALSE(r.verified);
  EXPECT_NE(std::find(ui_.statuses.begin(), ui_.statuses.end(),
                      "Verify Error: first difference at byte " + std::to_string(kLength - 1)),
            ui_.statuses.end());
  EXPECT_EQ(d->open, 0);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, LoopImages, ::testing::Values(512u, 4096u));

}  // namespace
}  // namespace fw
