// The backup and restore workers over an in-memory disk with a fault-injecting device.
#include "images/image_jobs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/quiet_ui_test_support.h"
#include "app/settings.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "images/image_transfer.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr int64_t MiB = 1024 * 1024;

// A disk in memory; writes at or past failWriteFrom and reads at or past failReadFrom fail.
class MemoryDisk final : public BlockDevice {
 public:
  MemoryDisk(uint32_t sectorSize, size_t bytes) : sectorSize_(sectorSize), bytes_(bytes) {}
  uint32_t SectorSize() const override { return sectorSize_; }
  uint64_t SizeBytes() const override { return bytes_.size(); }
  int64_t ReadAt(uint64_t off, void* buf, size_t n) override {
    if (off + n > bytes_.size() || (failReadFrom >= 0 && off + n > uint64_t(failReadFrom))) {
      error_ = 5;
      return -1;
    }
    std::memcpy(buf, bytes_.data() + off, n);
    return static_cast<int64_t>(n);
  }
  int64_t WriteAt(uint64_t off, const void* buf, size_t n) override {
    if (off + n > bytes_.size() || (failWriteFrom >= 0 && off + n > uint64_t(failWriteFrom))) {
      error_ = 5;
      return -1;
    }
    std::memcpy(bytes_.data() + off, buf, n);
    return static_cast<int64_t>(n);
  }
  bool Flush() override { return true; }
  int LastError() const override { return error_; }
  std::vector<FileId> BackingFiles() const override { return backing; }

  std::vector<uint8_t>& bytes() { return bytes_; }
  int64_t failWriteFrom = -1;
  int64_t failReadFrom = -1;
  std::vector<FileId> backing;  // the file this disk stands for

 private:
  uint32_t sectorSize_;
  std::vector<uint8_t> bytes_;
  int error_ = 0;
};

// Disk 3 with one MBR slot selected; handle 1 is the whole disk, handle 2 the lettered volume.
class FakeDisk final : public ImageJobDisk {
 public:
  FakeDisk(uint32_t ss, int64_t start, int64_t length, bool lettered)
      : disk(ss, static_cast<size_t>(start + length + 2 * MiB)),
        volume(disk, static_cast<uint64_t>(start), static_cast<uint64_t>(length)) {
    record.DiskNumber = 3;
    record.BytesPerSector = ss;
    record.PartitionCount = 1;
    PartitionEntry& p = record.Partitions[0];
    p.StartingOffset = start;
    p.PartitionLength = length;
    p.PartitionType = 0x0B;
    p.DriveLetter = lettered ? "E:" : "";
    record.SelectedPartition = 1;
    for (size_t i = 0; i < disk.bytes().size(); ++i)
      disk.bytes()[i] = static_cast<uint8_t>((i * 131) ^ (i >> 12));
    uint8_t* e = disk.bytes().data() + 0x1BE;
    std::memset(e, 0, 64);
    e[4] = 0x0B;
    const auto first = static_cast<uint32_t>(start / ss);
    const auto count = static_cast<uint32_t>(length / ss);
    std::memcpy(e + 8, &first, 4);
    std::memcpy(e + 12, &count, 4);
    disk.bytes()[510] = 0x55;
    disk.bytes()[511] = 0xAA;
  }
  int32_t SetCurrentDisk() override {
    CurrentDisk() = record;
    return selectable;
  }
  int32_t UpdateAllDrives() override { return ++refreshes; }
  DriveHandle GetDriveHandle(int32_t n, const std::string& letter, bool forWrite,
                             bool lock) override {
    opens.push_back(letter + (forWrite ? " w" : " r") + (lock ? " lock" : ""));
    if (failOpen) return kInvalidHandle;
    if (letter.empty() && n != 3) return kInvalidHandle;
    const DriveHandle h = letter.empty() ? 1 : 2;
    ++open[h];
    return h;
  }
  BlockDevice* DeviceForHandle(DriveHandle h) override {
    if (!open.count(h) || open[h] == 0) return nullptr;
    return h == 1 ? static_cast<BlockDevice*>(&disk) : &volume;
  }
  int UnmountDrive(DriveHandle) override { return 1; }
  int UnlockDrive(DriveHandle) override { return 1; }
  void CloseHandle(DriveHandle h) override { --open[h]; }
  int64_t read_sectors(DriveHandle h, int64_t ss, int64_t first, int64_t n, void* b) override {
    BlockDevice* d = DeviceForHandle(h);
    return d && d->ReadSectors(uint64_t(first), uint64_t(n), b) ? ss * n : 0;
  }
  int64_t write_sectors(DriveHandle h, int64_t ss, int64_t first, int64_t n,
                        const void* b) override {
    BlockDevice* d = DeviceForHandle(h);
    return d && d->WriteSectors(uint64_t(first), uint64_t(n), b) ? ss * n : 0;
  }
  int RereadPartitionTable(DriveHandle) override { return 1; }

  int openHandles() const {
    int n = 0;
    for (auto& [h, c] : open) n += c;
    return n;
  }
  std::vector<uint8_t> Partition() const {
    const auto& p = record.Partitions[0];
    auto& b = const_cast<MemoryDisk&>(disk).bytes();
    return {b.begin() + p.StartingOffset, b.begin() + p.StartingOffset + p.PartitionLength};
  }
  uint8_t EntryType() { return disk.bytes()[0x1BE + 4]; }
  uint32_t EntryCount() {
    uint32_t c;
    std::memcpy(&c, disk.bytes().data() + 0x1BE + 12, 4);
    return c;
  }

  MemoryDisk disk;
  WindowDevice volume;
  DiskRecord record;
  int selectable = 1;
  bool failOpen = false;
  int refreshes = 0;
  std::map<DriveHandle, int> open;
  std::vector<std::string> opens;
};

class RecordingUi final : public QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override {
    statuses.push_back(text);
    if (cancelOnProgress && text.find("% ") != std::string::npos) CancelMainThread = 1;
    if (!cancelOnText.empty() && text.find(cancelOnText) != std::string::npos) CancelMainThread = 1;
  }
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons,
                       MsgIcon) override {
    boxes.push_back(title + "|" + text);
    return answer;
  }
  std::string OpenFileChooser(const std::string& title, const std::string& def,
                              const std::vector<FileFilter>&) override {
    chooserTitle = title;
    chooserDefault = def;
    return chosen;
  }
  std::string SaveFileChooser(const std::string& title, const std::string& def,
                              const std::vector<FileFilter>& f) override {
    return OpenFileChooser(title, def, f);
  }
  void SetControlText(int w, int c, const std::string& t) override {
    controlTexts.push_back(std::to_string(w) + "/" + std::to_string(c) + "=" + t);
  }
  void SetControlEnabled(int, int c, bool e) override {
    if (c == kDriveList) listEnabled = e;
  }

  bool Saw(const std::string& prefix) const {
    for (const auto& s : statuses)
      if (s.rfind(prefix, 0) == 0) return true;
    return false;
  }

  std::vector<std::string> statuses, boxes, controlTexts;
  std::string chosen, chooserTitle, chooserDefault;
  MsgAnswer answer = MsgAnswer::Yes;
  bool cancelOnProgress = false;
  std::string cancelOnText;  // the user presses Cancel when a status text holds this
  bool listEnabled = true;
};

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  std::vector<uint8_t> v(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size()));
  return v;
}

void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

FileId IdOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Pauses return at once; the user presses Cancel during the first pause of `ms`.
class CancelDuringPause final : public Clock {
 public:
  explicit CancelDuringPause(int64_t ms) : ms_(ms) {}
  void Pause(int64_t ms) override {
    if (ms == ms_) CancelMainThread = 1;
  }
  int64_t NowMs() const override { return 0; }

 private:
  int64_t ms_;
};

class ImageJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPausesEnabled(false);
    dir = fs::temp_directory_path() /
          ("fw-images-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    Settings().ZORImageLocalRepo = dir.string() + "/";
    SetUi(&ui);
    CancelMainThread = 0;
    format_op_in_progress = 0;
  }
  void TearDown() override {
    SetImageJobDiskForTesting(nullptr);
    SetUi(nullptr);
    CancelMainThread = 0;
    fs::remove_all(dir);
  }
  // Checks what every run must leave behind, whatever its end.
  void ExpectCleanEnd(FakeDisk& d) {
    EXPECT_EQ(d.openHandles(), 0);
    EXPECT_EQ(format_op_in_progress.load(), 0);
    EXPECT_EQ(CancelMainThread.load(), 0);
    EXPECT_TRUE(ui.listEnabled);
    EXPECT_GE(d.refreshes, 1);
  }
  fs::path dir;
  RecordingUi ui;
};

TEST_F(ImageJobs, BackupOfMountedAndUnmountedPartitionGivesTheSameBytes) {
  // 20 MiB + 3 sectors: one whole chunk and a remainder.
  const int64_t length = 20 * MiB + 3 * 512;
  for (bool lettered : {false, true}) {
    FakeDisk d(512, 2048 * 512, length, lettered);
    SetImageJobDiskForTesting(&d);
    ui.chosen = (dir / (lettered ? "m.bin" : "u.bin")).string();
    const ImageJobOutcome r = RunBackUp();
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.copied);
    EXPECT_EQ(ReadFile(ui.chosen), d.Partition()) << lettered;
    EXPECT_EQ(d.opens.back(), lettered ? "E: r lock" : " r");
    ExpectCleanEnd(d);
  }
  EXPECT_EQ(ui.chooserTitle, "Save to ZORImage file:");
  EXPECT_EQ(ui.chooserDefault, dir.string() + "/PartSave.bin");
  EXPECT_TRUE(ui.Saw("Write buffered Data to the Disk"));
  // The first chunk always shows its line.
  EXPECT_TRUE(ui.Saw("79% 16 MB/20 MB "));
  EXPECT_NE(ui.statuses.back().find(" Done"), std::string::npos);
  EXPECT_EQ(ui.controlTexts.front(), "0/3=Backup Cancel");
  EXPECT_EQ(ui.controlTexts.back(), "0/3=Backup");
  EXPECT_EQ(ui.boxes.back(), "Information|You have selected following file:\n" + ui.chosen);
}

TEST_F(ImageJobs, BackupRefusalsTouchNothing) {
  FakeDisk d(512, 1 * MiB, 4 * MiB, false);
  SetImageJobDiskForTesting(&d);
  // The whole disk selected.
  d.record.SelectedPartition = 0;
  EXPECT_EQ(BackUp(1), 0);
  EXPECT_TRUE(ui.Saw("For BackUp select Partition only"));
  d.record.SelectedPartition = 1;
  // An existing file and the answer No: the file stays as it was.
  const fs::path keep = dir / "keep.bin";
  WriteFile(keep, {1, 2, 3});
  ui.chosen = keep.string();
  ui.answer = MsgAnswer::No;
  EXPECT_EQ(BackUp(1), 0);
  EXPECT_EQ(ReadFile(keep), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(ui.boxes.back(),
            "Warning|The selected file:\n" + keep.string() + "\nalready exists. Overwrite it?");
  // The file cannot be created.
  ui.answer = MsgAnswer::Yes;
  ui.chosen = (dir / "no-such-folder" / "x.bin").string();
  EXPECT_EQ(BackUp(1), 0);
  EXPECT_TRUE(ui.Saw("Unable to create file " + ui.chosen));
  // The source cannot be opened.
  d.failOpen = true;
  EXPECT_EQ(BackUp(1), 0);
  EXPECT_TRUE(ui.Saw("BackUp: Error open Disk3Part1"));
  ExpectCleanEnd(d);
}

TEST_F(ImageJobs, BackupCancelCutsTheFileAfterTheLastWholeChunk) {
  FakeDisk d(512, 1 * MiB, 40 * MiB, false);
  SetImageJobDiskForTesting(&d);
  ui.chosen = (dir / "c.bin").string();
  ui.cancelOnProgress = true;
  const ImageJobOutcome r = RunBackUp();
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.copied);
  const auto file = ReadFile(ui.chosen);
  const auto part = d.Partition();
  ASSERT_EQ(file.size(), static_cast<size_t>(16 * MiB));
  EXPECT_TRUE(std::equal(file.begin(), file.end(), part.begin()));
  EXPECT_EQ(ui.statuses.back(), "Backup Cancelled");
  EXPECT_NE(ui.statuses[ui.statuses.size() - 2].find(" Done"), std::string::npos);
  ExpectCleanEnd(d);
}

TEST_F(ImageJobs, BackupReadErrorKeepsThePartialFileAndSaysSo) {
  FakeDisk d(512, 1 * MiB, 40 * MiB, false);
  d.disk.failReadFrom = 1 * MiB + 20 * MiB;
  SetImageJobDiskForTesting(&d);
  ui.chosen = (dir / "r.bin").string();
  EXPECT_EQ(BackUp(1), 0);
  EXPECT_EQ(fs::file_size(ui.chosen), static_cast<uintmax_t>(16 * MiB));
  EXPECT_TRUE(ui.Saw("ReadFile Error=5 (incomplete image kept: " + ui.chosen + ")"));
  ExpectCleanEnd(d);
}

TEST_F(ImageJobs, RestoreWritesTheImageAndRewritesTheEntry) {
  for (uint32_t ss : {512u, 4096u}) {
    for (bool lettered : {false, true}) {
      FakeDisk d(ss, 1 * MiB, 24 * MiB, lettered);
      SetImageJobDiskForTesting(&d);
      // Smaller than the partition and not a multiple of 16 MiB.
      std::vector<uint8_t> image(static_cast<size_t>(17 * MiB + ss));
      for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
      ui.chosen = (dir / "img.hfs").string();
      WriteFile(ui.chosen, image);
      const auto before = d.Partition();
      const ImageJobOutcome r = RunRecover();
      EXPECT_EQ(r.result, 1);
      EXPECT_TRUE(r.copied);
      const auto after = d.Partition();
      EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin()));
      // The area behind the image is not touched.
      EXPECT_TRUE(std::equal(after.begin() + static_cast<long>(image.size()), after.end(),
                             before.begin() + static_cast<long>(image.size())));
      EXPECT_EQ(d.EntryType(), 0xAF);
      EXPECT_EQ(d.EntryCount(), image.size() / ss);
      EXPECT_EQ(d.disk.bytes()[510], 0x55);
      EXPECT_EQ(d.opens.front(), " w lock");
      ExpectCleanEnd(d);
    }
  }
  EXPECT_EQ(ui.chooserTitle, "Select ZORImage file to Restore");
  EXPECT_EQ(ui.controlTexts.front(), "0/4=Restore Cancel");
  EXPECT_EQ(ui.controlTexts.back(), "0/4=Restore");
}

TEST_F(ImageJobs, RestoreSizeChecks) {
  FakeDisk d(512, 1 * MiB, 4 * MiB, false);
  SetImageJobDiskForTesting(&d);
  const auto before = d.disk.bytes();
  d.record.SelectedPartition = 0;
  EXPECT_EQ(Recover(1), 0);
  EXPECT_TRUE(ui.Saw("For Restore select Partition only"));
  d.record.SelectedPartition = 1;
  ui.chosen = (dir / "s.bin").string();
  // One byte more than the partition.
  WriteFile(ui.chosen, std::vector<uint8_t>(static_cast<size_t>(4 * MiB + 1), 7));
  EXPECT_EQ(Recover(1), 0);
  EXPECT_EQ(ui.boxes.back(), "Error|File too big:\n" + ui.chosen + "\n4.0 MB");
  // Not a whole number of sectors.
  WriteFile(ui.chosen, std::vector<uint8_t>(1000, 7));
  EXPECT_EQ(Recover(1), 0);
  EXPECT_NE(ui.boxes.back().find("488 bytes are left over after 1 sectors of 512 bytes"),
            std::string::npos);
  // Empty: no message at all.
  const size_t boxes = ui.boxes.size();
  WriteFile(ui.chosen, {});
  EXPECT_EQ(Recover(1), 0);
  EXPECT_EQ(ui.boxes.size(), boxes);
  // Missing.
  ui.chosen = (dir / "none.bin").string();
  EXPECT_EQ(Recover(1), 0);
  EXPECT_EQ(ui.boxes.back(), "Error|The selected file:\n" + ui.chosen + "\nnot found.");
  EXPECT_EQ(d.disk.bytes(), before);
  // Exactly the partition's size is accepted.
  ui.chosen = (dir / "x.bin").string();
  WriteFile(ui.chosen, std::vector<uint8_t>(static_cast<size_t>(4 * MiB), 9));
  EXPECT_EQ(Recover(1), 1);
  EXPECT_EQ(d.EntryCount(), 4 * MiB / 512);
  ExpectCleanEnd(d);
}

TEST_F(ImageJobs, RestoreWriteFailureHalfWayKeepsTheOldEntry) {
  FakeDisk d(512, 1 * MiB, 40 * MiB, false);
  d.disk.failWriteFrom = 1 * MiB + 20 * MiB;
  SetImageJobDiskForTesting(&d);
  ui.chosen = (dir / "f.bin").string();
  WriteFile(ui.chosen, std::vector<uint8_t>(static_cast<size_t>(32 * MiB), 3));
  EXPECT_EQ(Recover(1), 0);
  EXPECT_TRUE(ui.Saw("WriteFile Error=5"));
  EXPECT_EQ(d.EntryType(), 0x0B);
  EXPECT_EQ(d.EntryCount(), 40 * MiB / 512);
  ExpectCleanEnd(d);
}

TEST_F(ImageJobs, RestoreCancelLeavesTheEntryAndSaysTheImageIsIncomplete) {
  FakeDisk d(512, 1 * MiB, 40 * MiB, true);
  SetImageJobDiskForTesting(&d);
  ui.chosen = (dir / "c.bin").string();
  WriteFile(ui.chosen, std::vector<uint8_t>(static_cast<size_t>(32 * MiB), 3));
  ui.cancelOnProgress = true;
  const ImageJobOutcome r = RunRecover();
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(d.EntryType(), 0x0B);
  EXPECT_EQ(d.EntryCount(), 40 * MiB / 512);
  EXPECT_EQ(ui.statuses.back(),
            "Restore Cancelled: partition 1 holds an incomplete image, its entry is unchanged");
  ExpectCleanEnd(d);
}

// The image file is never the disk's own storage (an image disk, or the file behind a loop
// device), never a device node or FIFO: refused before anything is opened, every byte kept.
TEST_F(ImageJobs, ImageFileThatIsTheDiskItselfOrNoRegularFileIsRefused) {
  FakeDisk d(512, 1 * MiB, 4 * MiB, false);
  SetImageJobDiskForTesting(&d);
  const fs::path own = dir / "disk.img";
  WriteFile(own, std::vector<uint8_t>(3000000, 0x5A));
  d.disk.backing = {IdOf(own)};
  const auto diskBefore = d.disk.bytes();

  ui.chosen = own.string();
  const ImageJobOutcome backup = RunBackUp();
  EXPECT_EQ(backup.result, 0);
  EXPECT_FALSE(backup.copied);
  EXPECT_EQ(ReadFile(own), std::vector<uint8_t>(3000000, 0x5A));
  EXPECT_EQ(ui.boxes.back(), "Error|The selected file:\n" + own.string() +
                                 "\nholds the disk being backed up: the backup would destroy "
                                 "what it reads.");

  // A link to it is the same file.
  const fs::path link = dir / "link.img";
  fs::create_symlink(own, link);
  ui.chosen = link.string();
  EXPECT_EQ(BackUp(1), 0);
  EXPECT_EQ(fs::file_size(own), 3000000u);

  ui.chosen = own.string();
  EXPECT_EQ(Recover(1), 0);
  EXPECT_EQ(ui.boxes.back(), "Error|The selected file:\n" + own.string() +
                                 "\nholds the disk being restored: the restore would overwrite "
                                 "what it reads.");
  EXPECT_EQ(d.disk.bytes(), diskBefore);

  // A FIFO and a character device: no backup into them, no restore out of them.
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& target : {fifo.string(), std::string("/dev/null")}) {
    ui.chosen = target;
    EXPECT_EQ(BackUp(1), 0) << target;
    EXPECT_NE(ui.boxes.back().find("is not a regular file"), std::string::npos) << target;
    EXPECT_EQ(Recover(1), 0) << target;
    EXPECT_NE(ui.boxes.back().find("is not a regular file"), std::string::npos) << target;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(d.disk.bytes(), diskBefore);
  ExpectCleanEnd(d);

  // Another file is fine.
  ui.chosen = (dir / "other.bin").string();
  EXPECT_TRUE(RunBackUp().copied);
}

// A cancel that comes when every byte is written stops nothing: the run counts as complete.
TEST_F(ImageJobs, CancelAfterTheWorkIsDoneIsNoCancel) {
  FakeDisk d(512, 1 * MiB, 8 * MiB, false);
  SetImageJobDiskForTesting(&d);
  ui.chosen = (dir / "img.bin").string();
  WriteFile(ui.chosen, std::vector<uint8_t>(static_cast<size_t>(4 * MiB), 3));
  CancelDuringPause pressDuringClosingPause(2000);
  SetClockForTesting(&pressDuringClosingPause);
  const ImageJobOutcome restore = RunRecover();
  SetClockForTesting(nullptr);
  EXPECT_TRUE(restore.copied);
  EXPECT_FALSE(restore.cancelled);
  EXPECT_EQ(d.EntryType(), 0xAF);
  for (const std::string& text : ui.statuses) EXPECT_EQ(text.find("Cancelled"), std::string::npos);
  ExpectCleanEnd(d);

  // The backup's last step: the flush.
  ui.chosen = (dir / "out.bin").string();
  ui.cancelOnText = "Write buffered Data to the Disk";
  const ImageJobOutcome backup = RunBackUp();
  EXPECT_TRUE(backup.copied);
  EXPECT_FALSE(backup.cancelled);
  EXPECT_EQ(ReadFile(ui.chosen), d.Partition());
  EXPECT_NE(ui.statuses.back(), "Backup Cancelled");
  ExpectCleanEnd(d);
}

TEST_F(ImageJobs, StartersRefuseWhileAJobRuns) {
  FakeDisk d(512, 1 * MiB, 4 * MiB, false);
  SetImageJobDiskForTesting(&d);
  format_op_in_progress = 1;
  StartBackUp(1);
  StartRecover(1);
  EXPECT_TRUE(d.opens.empty());
  EXPECT_EQ(format_op_in_progress.load(), 1);
  format_op_in_progress = 0;
}

}  // namespace
}  // namespace fw
