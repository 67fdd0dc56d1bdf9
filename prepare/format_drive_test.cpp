#include "prepare/format_drive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/globals.h"
#include "app/quiet_ui_test_support.h"
#include "app/ui.h"
#include "fs/fat_volume.h"
#include "fs/memory_device.h"

namespace fw {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

class RecordingUi final : public QuietUi {
 public:
  std::vector<std::string> status;
  void ShowStatus(const std::string& text, int) override { status.push_back(text); }
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    return MsgAnswer::Ok;
  }
};

class FormatDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FormatStatus = 0;
    SetUi(&ui_);
  }
  void TearDown() override {
    SetUi(nullptr);
    FormatStatus = 0;
  }
  int Call(uint32_t command, uint32_t arg = 0) { return FormatExCallBack(command, 0, &arg); }
  std::string LastStatus() const { return ui_.status.empty() ? "" : ui_.status.back(); }
  RecordingUi ui_;
};

TEST_F(FormatDriveTest, CallbackCommandsSetStatusAndStop) {
  EXPECT_EQ(Call(kFmtProgress, 42), 1);
  EXPECT_EQ(LastStatus(), "Formatting: 42 %");
  const size_t shown = ui_.status.size();
  EXPECT_EQ(Call(kFmtClusterSizeTooBig), 1);  // 17 and 1: nothing visible
  EXPECT_EQ(Call(kFmtDoneWithStructure), 1);
  EXPECT_EQ(ui_.status.size(), shown);
  EXPECT_EQ(Call(kFmtVolumeTooSmall), 1);  // shown, but not an error by itself
  EXPECT_EQ(LastStatus(), "Volume is too small");
  EXPECT_EQ(FormatStatus.load(), 0);
  EXPECT_EQ(Call(kFmtDone, 1), 1);
  EXPECT_EQ(LastStatus(), "Creating file system completed");
  EXPECT_EQ(Call(kFmtDone, 0), 0);
  EXPECT_EQ(LastStatus(), "Error while formatting");
  EXPECT_EQ(FormatStatus.load(), 1);
  // Once stopped, every further command answers 0 at once and shows nothing.
  const size_t stopped = ui_.status.size();
  EXPECT_EQ(Call(kFmtProgress, 50), 0);
  EXPECT_EQ(ui_.status.size(), stopped);

  const std::pair<uint32_t, const char*> errors[] = {{3, "Incompatible File System"},
                                                     {6, "Access denied"},
                                                     {7, "Media is write protected"},
                                                     {8, "Volume is in use"},
                                                     {9, "Cannot quick format this volume"},
                                                     {12, "Bad label"},
                                                     {16, "Unsupported cluster size"},
                                                     {19, "Volume is too big"},
                                                     {20, "No media in drive"}};
  for (const auto& [command, text] : errors) {
    FormatStatus = 0;
    EXPECT_EQ(Call(command), 0) << command;
    EXPECT_EQ(LastStatus(), text);
    EXPECT_EQ(FormatStatus.load(), 1);
  }
  FormatStatus = 0;
  EXPECT_EQ(Call(21), 0);  // unknown command stops the format
  EXPECT_EQ(FormatStatus.load(), 1);
}

TEST_F(FormatDriveTest, FormatsThroughTheEngineAndReportsFailures) {
  fat::MemoryDevice dev(64 * kMiB, 512);
  EXPECT_EQ(FormatVolumeDevice(dev, "FAT32", "ZOR", true, 0, 2048, 63, 255), 1);
  EXPECT_EQ(LastStatus(), "Creating file system completed");
  auto v = fat::OpenVolume(dev);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Label(), "ZOR");
  v.reset();
  EXPECT_EQ(FormatVolumeDevice(dev, "exFAT", "ZOR", true, 0, 2048, 63, 255), 1);
  v = fat::OpenVolume(dev);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->FileSystemName(), "exFAT");
  v.reset();

  fat::MemoryDevice small(20 * kMiB, 512);
  EXPECT_EQ(FormatVolumeDevice(small, "FAT32", "ZOR", true, 0, 2048, 63, 255), 0);
  ASSERT_GE(ui_.status.size(), 2u);
  EXPECT_EQ(ui_.status[ui_.status.size() - 2], "Volume is too small");
  EXPECT_EQ(LastStatus(), "Error while formatting");
  EXPECT_EQ(small.ReadAt(0, nullptr, 0), 0);

  FormatStatus = 0;
  EXPECT_EQ(FormatVolumeDevice(dev, "HFS+", "", true, 0, 2048, 63, 255), 0);
  EXPECT_EQ(LastStatus(), "Incompatible File System");

  // A cancel from the Format button stops the formatter at its next callback.
  FormatStatus = 1;
  EXPECT_EQ(FormatVolumeDevice(dev, "FAT32", "ZOR", false, 0, 2048, 63, 255), 0);

  FormatStatus = 0;
  fat::MemoryDevice base(64 * kMiB, 512);
  fat::FaultDevice ro(base);
  ro.FailWritesWith(EROFS);
  EXPECT_EQ(FormatVolumeDevice(ro, "FAT32", "ZOR", true, 0, 2048, 63, 255), 0);
  EXPECT_EQ(LastStatus(), "Media is write protected");
}

TEST_F(FormatDriveTest, NtfsAndUdfThroughTheSystemTools) {
  for (const char* fs : {"NTFS", "UDF"}) {
    const char* tool = std::string(fs) == "NTFS" ? "/usr/sbin/mkntfs" : "/usr/sbin/mkudffs";
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
    FormatStatus = 0;
    fat::MemoryDevice dev(64 * kMiB, 512);
    std::vector<uint8_t> old(512, 0xEE);
    ASSERT_TRUE(dev.WriteSectors(0, 1, old.data()));
    ASSERT_EQ(FormatVolumeDevice(dev, fs, "ZOR", true, 0, 2048, 63, 255), 1) << fs;
    std::vector<char> b(64 * 1024);
    ASSERT_EQ(dev.ReadAt(0, b.data(), b.size()), static_cast<int64_t>(b.size()));
    if (std::string(fs) == "NTFS") {
      EXPECT_EQ(std::string(b.data() + 3, 8), "NTFS    ");
    } else {
      EXPECT_EQ(std::string(b.data() + 32768 + 1, 5), "BEA01");
      EXPECT_EQ(static_cast<unsigned char>(b[0]), 0u);  // the old boot sector is gone
    }
    EXPECT_NE(std::find(ui_.status.begin(), ui_.status.end(), "Formatting: 50 %"),
              ui_.status.end());
    EXPECT_EQ(LastStatus(), "Creating file system completed");
    // A volume that refuses writes: the copy of the tool's result reports it.
    FormatStatus = 0;
    fat::FaultDevice ro(dev);
    ro.FailWritesWith(EROFS);
    EXPECT_EQ(FormatVolumeDevice(ro, fs, "ZOR", true, 0, 2048, 63, 255), 0) << fs;
    EXPECT_EQ(LastStatus(), "Media is write protected");
  }
  // The tool itself refuses (a cluster size NTFS does not have): a failed completion.
  FormatStatus = 0;
  fat::MemoryDevice dev(64 * kMiB, 512);
  EXPECT_EQ(FormatVolumeDevice(dev, "NTFS", "ZOR", true, 3000, 2048, 63, 255), 0);
  EXPECT_EQ(LastStatus(), "Error while formatting");
}

TEST_F(FormatDriveTest, BootChecksumSkipsFlagsAndPercent) {
  std::vector<uint8_t> s(11 * 512, 0);
  EXPECT_EQ(VBRChecksum(s.data(), 11 * 512), 0u);
  for (size_t i : {106, 107, 112}) {
    s[i] = 0x5A;
    EXPECT_EQ(VBRChecksum(s.data(), 11 * 512), 0u) << i;
  }
  s[105] = 1;
  EXPECT_NE(VBRChecksum(s.data(), 11 * 512), 0u);
  s[105] = 0;
  s[11 * 512 - 1] = 1;
  EXPECT_EQ(VBRChecksum(s.data(), 11 * 512), 1u);
}

TEST_F(FormatDriveTest, LbaTypeFixTouchesOnlyEntryZeroAndNeverWritesBlindly) {
  fat::MemoryDevice disk(8 * kMiB, 512);
  std::vector<uint8_t> mbr(512, 0);
  mbr[450] = 0x0B;
  mbr[466] = 0x07;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  ASSERT_TRUE(disk.WriteSectors(0, 1, mbr.data()));
  std::vector<uint8_t> buffer;
  EXPECT_EQ(FixFat32LbaType(disk, buffer), 1);
  std::vector<uint8_t> now(512);
  ASSERT_TRUE(disk.ReadSectors(0, 1, now.data()));
  EXPECT_EQ(now[450], 0x0C);
  EXPECT_EQ(now[466], 0x07);
  EXPECT_EQ(now[510], 0x55);

  // A disk whose reads fail: the MBR stays as it was.
  class NoReads final : public BlockDevice {
   public:
    explicit NoReads(BlockDevice& b) : b_(b) {}
    uint32_t SectorSize() const override { return 512; }
    uint64_t SizeBytes() const override { return b_.SizeBytes(); }
    int64_t ReadAt(uint64_t, void*, size_t) override { return -1; }
    int64_t WriteAt(uint64_t o, const void* p, size_t n) override { return b_.WriteAt(o, p, n); }
    bool Flush() override { return true; }
    int LastError() const override { return EIO; }
    BlockDevice& b_;
  } broken(disk);
  EXPECT_EQ(FixFat32LbaType(broken, buffer), 0);
  EXPECT_EQ(SetFirstPartitionType(broken, "FAT32"), 0);
  ASSERT_TRUE(disk.ReadSectors(0, 1, now.data()));
  EXPECT_EQ(now[450], 0x0C);
  EXPECT_EQ(now[466], 0x07);
  EXPECT_EQ(now[510], 0x55);

  // Entry 0 takes its file system's type; UDF keeps what the table had.
  for (const auto& [fileSystem, type] : {std::pair<const char*, uint8_t>{"FAT32", 0x0B},
                                         {"exFAT", 0x07},
                                         {"NTFS", 0x07},
                                         {"UDF", 0x07}}) {
    SCOPED_TRACE(fileSystem);
    EXPECT_EQ(SetFirstPartitionType(disk, fileSystem), 1);
    ASSERT_TRUE(disk.ReadSectors(0, 1, now.data()));
    EXPECT_EQ(now[450], type);
    EXPECT_EQ(now[466], 0x07);
    EXPECT_EQ(now[510], 0x55);
  }
}

}  // namespace
}  // namespace fw
