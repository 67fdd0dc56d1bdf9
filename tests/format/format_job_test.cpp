// The format job end to end on disk-image files and loop devices: the real inventory, raw access,
// partition table, formatter, boot records and data-set extraction, judged by fsck.fat,
// fsck.exfat, mtools and 7-Zip. Only the Ui is replaced, by one that records and answers.
#include "prepare/format_job.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/quiet_ui_test_support.h"
#include "app/settings.h"
#include "app/ui.h"
#include "datasets/dataset_services.h"
#include "disk/inventory.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/linux/block_backend.h"
#include "platform/sysinfo.h"
#include "platform/volume_files.h"
#include "prepare/format_steps.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr int64_t MiB = 1024 * 1024;

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

std::vector<uint8_t> ReadBytes(const fs::path& p, int64_t offset, int64_t length) {
  std::ifstream in(p, std::ios::binary);
  in.seekg(offset);
  std::vector<uint8_t> v(static_cast<size_t>(length));
  in.read(reinterpret_cast<char*>(v.data()), length);
  v.resize(static_cast<size_t>(in.gcount()));
  return v;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Records every status text and message box; answers boxes through `answer`.
class RecordingUi final : public QuietUi {
 public:
  std::function<MsgAnswer(const std::string& title, const std::string& text)> answer =
      [](const std::string&, const std::string&) { return MsgAnswer::Ok; };
  std::function<void(const std::string&)> onStatus;

  void ShowStatus(const std::string& text, int) override {
    std::lock_guard<std::mutex> lock(m);
    statuses.push_back(text);
    if (onStatus) onStatus(text);
  }
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons,
                       MsgIcon) override {
    boxes.push_back(title + "|" + text);
    return answer(title, text);
  }
  void SetControlText(int window, int control, const std::string& text) override {
    if (window == 0 && control == 2) buttonTexts.push_back(text);
  }

  bool Saw(const std::string& status) const {
    for (const auto& s : statuses)
      if (s == status) return true;
    return false;
  }

  std::mutex m;
  std::vector<std::string> statuses;
  std::vector<std::string> boxes;
  std::vector<std::string> buttonTexts;
};

class FormatJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPausesEnabled(false);
    SetUi(&ui_);
    InstallSystemDataSetServices();
    // Only the disks this test attaches: never a disk of the machine.
    ::setenv("FLASHWRIGHT_BLOCK_DEVICES", "", 1);
    dir_ = fs::temp_directory_path() /
           ("fw-format-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Settings() = SettingsRecord{};
    TheCloverChoice() = CloverChoice{};
    CloverDLRev() = "0";
  }
  void TearDown() override {
    DetachAllImageDisks();
    SetUi(nullptr);
    fs::remove_all(dir_);
  }

  // A sparse image of `bytes`, attached and selected; returns its path.
  fs::path MakeDisk(int64_t bytes, uint32_t sectorSize = 512) {
    const fs::path img = dir_ / "disk.img";
    EXPECT_EQ(CreateImageFile(img.string(), bytes), 1);
    EXPECT_EQ(AttachImageDisk(img.string(), sectorSize), 1);
    UpdateAllDrives();
    return img;
  }
  bool SelectImage() {
    for (const DiskRecord& d : DiskRecords())
      if (d.VendorId == "Image") return SetCurrentDisk(d.DiskNumber, -1) == 1;
    return false;
  }
  // A Clover data-set zip made by Python's zipfile: `body` writes into the ZipFile `z`, and the
  // lines after it may change the finished file `path`.
  fs::path MakeZip(const std::string& body, const std::string& after = "",
                   const char* method = "ZIP_DEFLATED") {
    const fs::path zip = dir_ / "Clover-5151-X64.zip";
    std::ofstream(dir_ / "mk.py") << "import zipfile,sys\npath=sys.argv[1]\n"
                                  << "z=zipfile.ZipFile(path,'w',zipfile." << method << ")\n"
                                  << body << "z.close()\n"
                                  << after;
    int st = 0;
    Shell("python3 " + (dir_ / "mk.py").string() + " " + zip.string(), &st);
    EXPECT_EQ(st, 0);
    return zip;
  }
  // A Clover data-set zip with a small EFI tree.
  fs::path MakeDataSetZip() {
    return MakeZip(
        "z.writestr('EFI/CLOVER/config.plist','<plist>'+'x'*5000+'</plist>')\n"
        "z.writestr('EFI/BOOT/BOOTX64.efi',bytes(range(256))*300)\n"
        "z.writestr('EFI/CLOVER/kexts/Other/README.txt','kexts go here')\n");
  }
  // Settings for Clover on one FAT32 partition with the local data set `zip`.
  void CloverFat32With(const fs::path& zip) {
    SettingsRecord& s = Settings();
    s.Boot_records = "Clover";
    s.FileSystem = "FAT32";
    s.MultiPartitions = 0;
    s.InstallDataSet = "Local";
    TheCloverChoice() = {zip.string(), "5151"};
  }
  void Run() {
    UpdateAllDrives();
    ASSERT_TRUE(SelectImage());
    FormatThread(FormatInstallDataArgument(Settings()));
  }
  // Partition `slot` (0..3) of the MBR in sector 0: start sector, sector count, type.
  struct Slot {
    uint32_t start, count;
    uint8_t type;
  };
  Slot SlotOf(const fs::path& img, int slot) {
    const auto mbr = ReadBytes(img, 0, 512);
    const size_t e = 446 + 16 * static_cast<size_t>(slot);
    return {Le32(mbr, e + 8), Le32(mbr, e + 12), mbr[e + 4]};
  }
  // Copies partition 1 out (for the checkers that take no offset).
  fs::path ExtractPartition(const fs::path& img, uint32_t sectorSize) {
    const Slot p = SlotOf(img, 0);
    const fs::path out = dir_ / "part1.img";
    int st = 0;
    Shell("dd if=" + img.string() + " of=" + out.string() + " bs=" + std::to_string(sectorSize) +
              " skip=" + std::to_string(p.start) + " count=" + std::to_string(p.count) +
              " conv=sparse status=none",
          &st);
    EXPECT_EQ(st, 0);
    return out;
  }
  bool AllDone() const { return ui_.Saw("All done"); }

  RecordingUi ui_;
  fs::path dir_;
};

TEST_F(FormatJobTest, CloverFat32LbaTwoPartitionsWithLocalDataSet) {
  const fs::path img = MakeDisk(256 * MiB);
  const fs::path zip = MakeDataSetZip();
  SettingsRecord& s = Settings();
  s.Boot_records = "Clover";
  s.FileSystem = "FAT32-LBA";
  s.StartLBASector = "2048";
  s.MultiPartitions = 1;
  s.BootPartitionSize = 100;
  s.InstallDataSet = "Local";
  s.VolumeLabel = "ZOR";
  TheCloverChoice() = {zip.string(), "5151"};
  Run();

  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  EXPECT_TRUE(LastFormatOutcome().dataSetInstalled);
  EXPECT_TRUE(AllDone());
  ASSERT_FALSE(ui_.boxes.empty());
  EXPECT_NE(ui_.boxes.back().find("WILL BE DESTROYED.\r\n\r\nTask:\tInstall Full Data\r\n"
                                  "MBR:\tboot0 (Clover)\r\nPBR:\tboot1f32alt (Clover)\r\n"),
            std::string::npos);
  EXPECT_EQ(ui_.buttonTexts, (std::vector<std::string>{"Cancel", "Format Disk"}));

  // The MBR: boot0's code, the table, the signature.
  const auto mbr = ReadBytes(img, 0, 512);
  const JobBootImages images = JobSelectBootImages("Clover", "FAT32-LBA");
  ASSERT_GE(images.MbrImage.size(), 440u);
  EXPECT_TRUE(std::equal(mbr.begin(), mbr.begin() + 440, images.MbrImage.begin()));
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  const Slot p1 = SlotOf(img, 0), p2 = SlotOf(img, 1);
  EXPECT_EQ(p1.start, 2048u);
  EXPECT_EQ(p1.count, 100u * 2048);
  EXPECT_EQ(p1.type, 0x0C);
  EXPECT_EQ(p2.start, p1.start + p1.count);
  EXPECT_EQ(int64_t{p2.start} + p2.count, 256 * 2048);
  // Partition 2 gets a zeroed first sector and no file system.
  const auto p2first = ReadBytes(img, int64_t{p2.start} * 512, 512);
  EXPECT_TRUE(std::all_of(p2first.begin(), p2first.end(), [](uint8_t b) { return b == 0; }));

  // The volume: a clean FAT32 with the Clover boot code merged in, and the data set on it.
  const fs::path part = ExtractPartition(img, 512);
  int st = 0;
  const std::string fsck = Shell("fsck.fat -n " + part.string(), &st);
  EXPECT_EQ(st, 0) << fsck;
  EXPECT_EQ(fsck.find("differences between boot sector and its backup"), std::string::npos) << fsck;
  const auto pbr = ReadBytes(part, 0, 512);
  ASSERT_GE(images.PbrImage.size(), 512u);
  EXPECT_TRUE(std::equal(pbr.begin() + 90, pbr.begin() + 510, images.PbrImage.begin() + 90));
  EXPECT_EQ(ReadBytes(part, 6 * 512, 512), pbr);
  const std::string tree = Shell("mdir -a -i " + part.string() + " ::/EFI/CLOVER", &st);
  EXPECT_EQ(st, 0) << tree;
  EXPECT_NE(tree.find("config"), std::string::npos);
  std::string plist = Shell("mtype -i " + part.string() + " ::/EFI/CLOVER/config.plist");
  EXPECT_EQ(plist.size(), 5015u);
  const std::string root = Shell("mattrib -i " + part.string() + " ::/.metadata_never_index");
  EXPECT_NE(root.find("H"), std::string::npos) << root;
  const std::string fsevents = Shell("mattrib -i " + part.string() + " ::/.fseventsd/no_log");
  EXPECT_NE(fsevents.find("H"), std::string::npos) << fsevents;
  EXPECT_EQ(OpenHandleCount(), 0);
  EXPECT_EQ(format_op_in_progress.load(), 0);
}

TEST_F(FormatJobTest, CloverExfatOn512And4096ByteSectors) {
  for (const int64_t S : {512, 4096}) {
    SCOPED_TRACE(S);
    const fs::path img = MakeDisk(512 * MiB, static_cast<uint32_t>(S));
    const fs::path zip = MakeDataSetZip();
    SettingsRecord& s = Settings();
    s.Boot_records = "Clover";
    s.FileSystem = "exFAT";
    s.StartLBASector = "4096";
    s.MultiPartitions = 0;
    s.InstallDataSet = "Local";
    s.VolumeLabel = "ФЛЕШКА";  // exFAT takes it
    TheCloverChoice() = {zip.string(), "5151"};
    Run();
    ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
    const Slot p1 = SlotOf(img, 0);
    EXPECT_EQ(p1.start, 4096u);
    EXPECT_EQ(p1.type, 0x07);
    EXPECT_EQ(int64_t{p1.start} + p1.count, 512 * MiB / S);
    EXPECT_EQ(SlotOf(img, 1).count, 0u);
    const fs::path part = ExtractPartition(img, static_cast<uint32_t>(S));
    int st = 0;
    const std::string fsck = Shell("fsck.exfat -n " + part.string(), &st);
    EXPECT_EQ(st, 0) << fsck;
    // Both boot regions: the loader's code in place, and every extended boot sector (1..8, 13..20)
    // ends in the signature AA550000h.
    const std::vector<uint8_t> code = JobSelectBootImages("Clover", "exFAT").PbrImage;
    ASSERT_EQ(code.size(), 1024u);
    for (const int64_t base : {0, 12}) {
      const auto region = ReadBytes(part, base * S, 12 * S);
      EXPECT_TRUE(std::equal(code.begin() + 120, code.begin() + 510, region.begin() + 120));
      // The code's second block: volume sector 1 on 512-byte sectors, else inside sector 0.
      EXPECT_TRUE(std::equal(code.begin() + 512, code.end(), region.begin() + 512));
      for (int64_t e = 1; e <= 8; ++e) {
        EXPECT_EQ(Le32(region, static_cast<size_t>((e + 1) * S - 4)), 0xAA550000u)
            << "sector " << base + e;
      }
    }
    // 7-Zip reads no exFAT here: read the files back through the program's own volume access.
    UpdateAllDrives();
    ASSERT_TRUE(SelectImage());
    const DriveHandle h = GetDriveHandle(CurrentDisk().DiskNumber,
                                         CurrentDisk().Partitions[0].DriveLetter, false, false);
    ASSERT_NE(h, kInvalidHandle);
    {
      std::unique_ptr<VolumeFiles> files = OpenVolumeFiles(*DeviceForHandle(h));
      ASSERT_TRUE(files);
      std::string plist;
      EXPECT_TRUE(files->ReadFile("EFI/CLOVER/config.plist", plist));
      EXPECT_EQ(plist.size(), 5015u);
      EXPECT_TRUE(files->Exists(".fseventsd/no_log"));
    }
    CloseHandle(h);
    DetachAllImageDisks();
    fs::remove(img);
  }
}

TEST_F(FormatJobTest, FreeDosForcesFat32LbaAndInstallsItsFilesEvenWithoutDataSet) {
  const fs::path img = MakeDisk(128 * MiB);
  SettingsRecord& s = Settings();
  s.Boot_records = "FreeDos";
  s.FileSystem = "exFAT";
  s.MultiPartitions = 0;
  s.InstallDataSet = "Not_Install";
  UpdateAllDrives();
  ASSERT_TRUE(SelectImage());
  FormatThread(0);
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  EXPECT_EQ(Settings().FileSystem, "FAT32-LBA");
  EXPECT_EQ(SlotOf(img, 0).type, 0x0C);
  EXPECT_TRUE(ui_.Saw("FreeDos Data set files Installed"));
  const fs::path part = ExtractPartition(img, 512);
  int st = 0;
  EXPECT_EQ((Shell("fsck.fat -n " + part.string(), &st), st), 0);
  const std::string root = Shell("mdir -a -i " + part.string() + " ::/");
  EXPECT_NE(root.find("KERNEL"), std::string::npos) << root;
}

TEST_F(FormatJobTest, RefusalsAndCancelLeaveTheDiskUntouchedAndNeverSayAllDone) {
  const fs::path img = MakeDisk(64 * MiB);
  std::ofstream(img, std::ios::binary | std::ios::in | std::ios::out).write("MARK", 4);
  const auto before = ReadBytes(img, 0, 1 * MiB);
  SettingsRecord& s = Settings();
  s.InstallDataSet = "Not_Install";

  // Clover on NTFS or UDF is refused before any write.
  for (const char* fsName : {"NTFS", "UDF"}) {
    s.Boot_records = "Clover";
    s.FileSystem = fsName;
    ui_.statuses.clear();
    Run();
    EXPECT_FALSE(LastFormatOutcome().ok);
    EXPECT_TRUE(ui_.Saw("Error : Select FileSystem : FAT32-LBA Or exFAT only!"));
    EXPECT_FALSE(AllDone());
  }
  // A boot partition larger than the disk.
  s.FileSystem = "FAT32";
  s.MultiPartitions = 1;
  s.BootPartitionSize = 1000;
  ui_.statuses.clear();
  Run();
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(AllDone());
  // The confirmation cancelled.
  s.BootPartitionSize = 32;
  ui_.answer = [](const std::string& title, const std::string&) {
    return title == "WARNING" ? MsgAnswer::Cancel : MsgAnswer::Ok;
  };
  ui_.statuses.clear();
  Run();
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(AllDone());
  EXPECT_EQ(ReadBytes(img, 0, 1 * MiB), before);
  EXPECT_EQ(FormatStatus.load(), 0);
  EXPECT_EQ(OpenHandleCount(), 0);
}

// What the formatter would refuse is known before the question: the job says so with the
// formatter's own text and the disk, files and all, stays as it was.
TEST_F(FormatJobTest, ForeseeableRefusalsComeBeforeTheQuestionAndLeaveTheDiskAlone) {
  const fs::path img = MakeDisk(64 * MiB);
  Settings().Boot_records = "Windows";
  Settings().FileSystem = "FAT32";
  Settings().MultiPartitions = 0;
  Run();  // an existing volume, with files on it
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  const fs::path zip = MakeDataSetZip();
  Settings().Boot_records = "Not_Format";
  Settings().InstallDataSet = "Local";
  TheCloverChoice() = {zip.string(), "5151"};
  Run();
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  const auto before = ReadBytes(img, 0, 64 * MiB);

  struct Case {
    const char* bootRecords;
    const char* fileSystem;
    std::string label;
    int bootSize;  // MB of partition 1 (0: the whole disk)
    const char* refusal;
  };
  const std::string longLabel(200, 'L');
  for (const Case& c : {Case{"Windows", "FAT32", "ABCDEFGHIJKLM", 0, "Bad label"},
                        Case{"Clover", "FAT32-LBA", "ФЛЕШКА", 0, "Bad label"},
                        Case{"Clover", "exFAT", "ABCDEFGHIJKLM", 0, "Bad label"},
                        Case{"Clover", "exFAT", "A:B", 0, "Bad label"},
                        Case{"Windows", "FAT32", "OK", 32, "Volume is too small"},
                        Case{"Windows", "NTFS", longLabel, 0, "mkntfs: "},
                        Case{"Windows", "UDF", longLabel, 0, "mkudffs: "}}) {
    SCOPED_TRACE(std::string(c.fileSystem) + " " + c.label);
    SettingsRecord& s = Settings();
    s.Boot_records = c.bootRecords;
    s.FileSystem = c.fileSystem;
    s.VolumeLabel = c.label;
    s.MultiPartitions = c.bootSize ? 1 : 0;
    s.BootPartitionSize = c.bootSize ? c.bootSize : 64;
    s.InstallDataSet = "Not_Install";
    ui_.boxes.clear();
    ui_.statuses.clear();
    Run();
    EXPECT_FALSE(LastFormatOutcome().ok);
    EXPECT_FALSE(LastFormatOutcome().ran);
    EXPECT_EQ(LastFormatOutcome().failure.rfind(c.refusal, 0), 0u) << LastFormatOutcome().failure;
    ASSERT_FALSE(ui_.boxes.empty());
    EXPECT_EQ(ui_.boxes.back(), "Error|" + LastFormatOutcome().failure);
    for (const std::string& box : ui_.boxes) EXPECT_EQ(box.rfind("WARNING|", 0), std::string::npos);
    EXPECT_TRUE(ui_.Saw("Error : " + LastFormatOutcome().failure));
    EXPECT_FALSE(AllDone());
    EXPECT_TRUE(ReadBytes(img, 0, 64 * MiB) == before);
  }
  EXPECT_EQ(OpenHandleCount(), 0);
}

// A disk the job cannot write to is refused before the question, with the system's reason; a
// claim that fails after it names the reason as well.
TEST_F(FormatJobTest, NoWriteAccessIsToldBeforeTheQuestionWithTheSystemsReason) {
  const fs::path img = MakeDisk(64 * MiB);
  std::ofstream(img, std::ios::binary | std::ios::in | std::ios::out).write("MARK", 4);
  const auto before = ReadBytes(img, 0, 1 * MiB);
  SettingsRecord& s = Settings();
  s.Boot_records = "Windows";
  s.FileSystem = "FAT32";
  s.MultiPartitions = 0;
  int st = 0;
  // Root writes through file modes: an immutable file refuses even root (where the file system
  // and the container allow the flag; the claim below is checked anyway).
  const bool root = ::geteuid() == 0;
  if (root) {
    Shell("chattr +i " + img.string(), &st);
  } else {
    fs::permissions(img, fs::perms::owner_read);
  }
  if (st == 0) {
    Run();
    if (root) Shell("chattr -i " + img.string());
    fs::permissions(img, fs::perms::owner_read | fs::perms::owner_write);
    const int error = root ? EPERM : EACCES;
    EXPECT_FALSE(LastFormatOutcome().ran);
    EXPECT_EQ(LastFormatOutcome().failure, "cannot open disk " +
                                               std::to_string(CurrentDisk().DiskNumber) +
                                               " for writing: " + ErrnoText(error));
    for (const std::string& box : ui_.boxes) EXPECT_EQ(box.rfind("WARNING|", 0), std::string::npos);
    EXPECT_EQ(ReadBytes(img, 0, 1 * MiB), before);
  } else {
    std::printf("chattr +i is refused here: the read-only case is not run\n");
  }

  // Another program holds the image: the claim after the question fails, and says why.
  const int holder = ::open(img.c_str(), O_RDONLY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  ui_.statuses.clear();
  Run();
  ::close(holder);
  const std::string n = std::to_string(CurrentDisk().DiskNumber);
  EXPECT_EQ(LastFormatOutcome().failure,
            "cannot open disk " + n + " for writing with exclusive use: " + ErrnoText(EWOULDBLOCK));
  EXPECT_TRUE(ui_.Saw("Error opening the Disk" + n + " for write&lock: " + ErrnoText(EWOULDBLOCK)));
  EXPECT_EQ(ReadBytes(img, 0, 1 * MiB), before);
  EXPECT_EQ(OpenHandleCount(), 0);
}

// On a disk of more than 2^32 sectors the table ends the last partition at 2^32 - 1: the user is
// told in the status line and in the question, before anything is written.
TEST_F(FormatJobTest, ADiskBeyondTheTablesReachIsToldBeforeAnythingIsWritten) {
  const int64_t bytes = ((int64_t{1} << 32) + 2048) * 512;
  const fs::path img = MakeDisk(bytes);
  SettingsRecord& s = Settings();
  s.Boot_records = "Windows";
  s.FileSystem = "FAT32";
  s.MultiPartitions = 0;
  ui_.answer = [](const std::string& title, const std::string&) {
    return title == "WARNING" ? MsgAnswer::Cancel : MsgAnswer::Ok;
  };
  Run();
  const std::string note = "The disk has " + std::to_string(bytes / 512) +
                           " sectors; an MBR partition table describes at most 4294967295, so "
                           "the last partition ends there";
  EXPECT_TRUE(ui_.Saw(note));
  ASSERT_FALSE(ui_.boxes.empty());
  EXPECT_NE(ui_.boxes.back().find("FS:\tFAT32\r\n\r\nNote:\t" + note + "\r\n\r\nTo Continue"),
            std::string::npos)
      << ui_.boxes.back();
  EXPECT_FALSE(LastFormatOutcome().ran);
  const auto zeros = std::vector<uint8_t>(1 * MiB, 0);
  EXPECT_EQ(ReadBytes(img, 0, 1 * MiB), zeros);
  EXPECT_EQ(ReadBytes(img, bytes - 1 * MiB, 1 * MiB), zeros);
}

TEST_F(FormatJobTest, CancelInsideTheFormatStopsTheJob) {
  const fs::path img = MakeDisk(256 * MiB);
  SettingsRecord& s = Settings();
  s.Boot_records = "Windows";
  s.FileSystem = "FAT32";
  s.QuickFormat = 0;
  s.MultiPartitions = 0;
  // The user presses Cancel as soon as formatting starts.
  ui_.onStatus = [](const std::string& text) {
    if (text.rfind("Formatting Drive", 0) == 0) {
      FormatStatus = 1;
      CancelMainThread = 1;
    }
  };
  Run();
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(AllDone());
  // The new table is there; the volume is not a valid file system.
  EXPECT_EQ(SlotOf(img, 0).start, 63u);
  EXPECT_EQ(FormatStatus.load(), 0);
  EXPECT_EQ(CancelMainThread.load(), 0);
  EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(FormatJobTest, CancelInTheWipeStopsZeroingAndTheFormatFails) {
  const fs::path img = MakeDisk(128 * MiB);
  // A mark in the last sector: the wipe of the disk's end must not reach it.
  {
    std::fstream f(img, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(128 * MiB - 512);
    f.write("ENDMARK", 7);
  }
  SettingsRecord& s = Settings();
  s.Boot_records = "Clover";
  s.FileSystem = "FAT32";
  s.MultiPartitions = 0;
  s.InstallDataSet = "Not_Install";
  ui_.onStatus = [](const std::string& text) {
    if (text == "Create PartitionTable") {
      FormatStatus = 1;
      CancelMainThread = 1;
    }
  };
  Run();
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(AllDone());
  EXPECT_FALSE(ui_.Saw("Clearing MBR/GPT structures ... OK"));
  const auto tail = ReadBytes(img, 128 * MiB - 512, 7);
  EXPECT_EQ(std::string(tail.begin(), tail.end()), "ENDMARK");
  // The job runs on to the new table; the formatter then stops on the cancel.
  const Slot p1 = SlotOf(img, 0);
  EXPECT_EQ(p1.start, 63u);
  const auto pbr = ReadBytes(img, int64_t{p1.start} * 512, 512);
  EXPECT_FALSE(pbr[510] == 0x55 && pbr[511] == 0xAA);
  EXPECT_EQ(FormatStatus.load(), 0);
  EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(FormatJobTest, CancelDuringTheDataSetLeavesACleanVolumeReportedNotInstalled) {
  const fs::path img = MakeDisk(128 * MiB);
  CloverFat32With(
      MakeZip("for i in range(40):\n"
              "  z.writestr('EFI/CLOVER/f%02d.bin'%i,bytes([i])*20000)\n"));
  int st = 0;
  ui_.onStatus = [](const std::string& text) {
    if (text.rfind("Extracted (5/", 0) == 0) {
      FormatStatus = 1;
      CancelMainThread = 1;
    }
  };
  Run();
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(LastFormatOutcome().dataSetInstalled);
  EXPECT_FALSE(AllDone());
  EXPECT_FALSE(ui_.Saw("Clover Data set files Installed"));
  EXPECT_TRUE(ui_.Saw("Clover Data set files Not Installed"));
  // What was copied before the cancel sits on a consistent volume; the rest is not there.
  const fs::path part = ExtractPartition(img, 512);
  const std::string fsck = Shell("fsck.fat -n " + part.string(), &st);
  EXPECT_EQ(st, 0) << fsck;
  const std::string tree = Shell("mdir -b -i " + part.string() + " ::/EFI/CLOVER");
  const auto files = std::count(tree.begin(), tree.end(), '\n');
  EXPECT_GE(files, 4);
  EXPECT_LT(files, 40);
  EXPECT_EQ(OpenHandleCount(), 0);
}

// A data set with an entry whose CRC proves wrong is not installed: the job says so, and the
// entry leaves nothing on a clean volume.
TEST_F(FormatJobTest, DataSetWithAWrongCrcIsReportedNotInstalled) {
  const fs::path img = MakeDisk(128 * MiB);
  CloverFat32With(
      MakeZip("z.writestr('EFI/CLOVER/config.plist','<plist/>')\n"
              "z.writestr('EFI/BOOT/BOOTX64.efi',b'BROKEN-PAYLOAD'*500)\n",
              "d=open(path,'rb').read()\n"
              "i=d.find(b'BROKEN-PAYLOAD')\n"
              "open(path,'wb').write(d[:i]+b'X'+d[i+1:])\n",
              "ZIP_STORED"));
  int st = 0;
  Run();
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(LastFormatOutcome().dataSetInstalled);
  EXPECT_FALSE(AllDone());
  EXPECT_TRUE(ui_.Saw("Clover Data set files Not Installed"));
  bool counted = false;
  for (const std::string& text : ui_.statuses)
    counted |=
        text.rfind("Extracted (1/2) files to ", 0) == 0 &&
        text.find(":\\; 1 of 2 entries not written (0 refused, 1 failed)") != std::string::npos;
  EXPECT_TRUE(counted);
  const fs::path part = ExtractPartition(img, 512);
  const std::string fsck = Shell("fsck.fat -n " + part.string(), &st);
  EXPECT_EQ(st, 0) << fsck;
  EXPECT_NE(Shell("mtype -i " + part.string() + " ::/EFI/CLOVER/config.plist"), "");
  EXPECT_NE((Shell("mdir -i " + part.string() + " ::/EFI/BOOT/BOOTX64.efi", &st), st), 0);
  EXPECT_EQ(OpenHandleCount(), 0);
}

// With the check asked for, every file of the data set is read back from the volume: a byte
// changed on the disk after the extraction wrote it fails the job with that file's name.
TEST_F(FormatJobTest, VerifiedDataSetAndAFileChangedBehindTheEngine) {
  const fs::path img = MakeDisk(128 * MiB);
  CloverFat32With(
      MakeZip("z.writestr('EFI/CLOVER/config.plist','<plist/>')\n"
              "z.writestr('EFI/BOOT/BOOTX64.efi',b'MARK-OF-THE-LOADER'*4000)\n"));
  const FormatJobOptions verify{true};
  UpdateAllDrives();
  ASSERT_TRUE(SelectImage());
  FormatThread(FormatInstallDataArgument(Settings()), verify);
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  const auto checked = std::find_if(ui_.statuses.begin(), ui_.statuses.end(), [](auto& t) {
    return t.rfind("Verified (2/2) files on ", 0) == 0;
  });
  EXPECT_NE(checked, ui_.statuses.end());

  // The loader's bytes change on the disk once the extraction has written them.
  ui_.onStatus = [&](const std::string& text) {
    if (text.rfind("Extracted (2/2) files to ", 0) != 0) return;
    std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t at = bytes.find("MARK-OF-THE-LOADER");
    ASSERT_NE(at, std::string::npos);
    f.seekp(static_cast<std::streamoff>(at + 30000));
    f.put('#');
  };
  ui_.statuses.clear();
  UpdateAllDrives();
  ASSERT_TRUE(SelectImage());
  FormatThread(FormatInstallDataArgument(Settings()), verify);
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_EQ(LastFormatOutcome().failure,
            "the data set file EFI/BOOT/BOOTX64.efi does not read back as the zip holds it");
  EXPECT_TRUE(ui_.Saw("Clover Data set files Not Installed"));
  EXPECT_FALSE(AllDone());
  EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(FormatJobTest, AlignmentsAndTheWindowsChoiceKeepTheFormattersBootSector) {
  const fs::path img = MakeDisk(160 * MiB);
  const JobBootImages images = JobSelectBootImages("Windows", "FAT32");
  ASSERT_EQ(images.PbrSectorCount, 0);
  SettingsRecord& s = Settings();
  s.Boot_records = "Windows";
  s.InstallDataSet = "Not_Install";
  s.BootPartitionSize = 64;
  struct Case {
    const char* align;
    int multi;
    const char* fileSystem;
  };
  for (const Case c : {Case{"63", 1, "FAT32"}, Case{"4096", 0, "FAT32"}, Case{"8192", 1, "FAT32"},
                       Case{"2048", 0, "NTFS"}}) {
    SCOPED_TRACE(std::string(c.align) + " " + c.fileSystem);
    if (std::string(c.fileSystem) == "NTFS" && !fs::exists("/usr/sbin/mkntfs")) continue;
    s.StartLBASector = c.align;
    s.MultiPartitions = c.multi;
    s.FileSystem = c.fileSystem;
    ui_.statuses.clear();
    Run();
    ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
    const auto mbr = ReadBytes(img, 0, 512);
    EXPECT_TRUE(std::equal(mbr.begin(), mbr.begin() + 440, images.MbrImage.begin()));
    const Slot p1 = SlotOf(img, 0), p2 = SlotOf(img, 1);
    EXPECT_EQ(p1.start, static_cast<uint32_t>(std::stoul(c.align)));
    if (c.multi) {
      EXPECT_EQ(p1.count, 64u * 2048);
      EXPECT_EQ(p2.start, p1.start + p1.count);
      EXPECT_EQ(int64_t{p2.start} + p2.count, 160 * 2048);
    } else {
      EXPECT_EQ(int64_t{p1.start} + p1.count, 160 * 2048);
      EXPECT_EQ(p2.count, 0u);
    }
    const fs::path part = ExtractPartition(img, 512);
    const auto pbr = ReadBytes(part, 0, 512);
    // The partition is typed after what the formatter put on it.
    EXPECT_EQ(p1.type, std::string(c.fileSystem) == "NTFS" ? 0x07 : 0x0B);
    if (c.multi) {
      EXPECT_EQ(p2.type, 0x06);
    }
    if (std::string(c.fileSystem) == "NTFS") {
      EXPECT_EQ(std::string(pbr.begin() + 3, pbr.begin() + 11), "NTFS    ");
    } else {
      int st = 0;
      const std::string fsck = Shell("fsck.fat -n " + part.string(), &st);
      EXPECT_EQ(st, 0) << fsck;
      EXPECT_EQ(Le32(pbr, 0x1C), p1.start);  // hidden sectors = partition start
    }
    EXPECT_EQ(pbr[510], 0x55);
    EXPECT_EQ(pbr[511], 0xAA);
  }
}

TEST_F(FormatJobTest, NotFormatInstallsOntoTheExistingVolumeOnly) {
  const fs::path img = MakeDisk(128 * MiB);
  SettingsRecord& s = Settings();
  s.Boot_records = "Windows";
  s.FileSystem = "FAT32";
  s.MultiPartitions = 0;
  Run();
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  const auto mbrBefore = ReadBytes(img, 0, 512);
  const Slot p1 = SlotOf(img, 0);
  const auto pbrBefore = ReadBytes(img, int64_t{p1.start} * 512, 512);

  // Not_Format without a data set writes nothing at all.
  const auto whole = ReadBytes(img, 0, 128 * MiB);
  s.Boot_records = "Not_Format";
  s.InstallDataSet = "Not_Install";
  Run();
  EXPECT_EQ(ReadBytes(img, 0, 128 * MiB), whole);

  // With a local data set it copies the files and touches no boot sector.
  const fs::path zip = MakeDataSetZip();
  s.InstallDataSet = "Local";
  TheCloverChoice() = {zip.string(), "5151"};
  Run();
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  EXPECT_EQ(ReadBytes(img, 0, 512), mbrBefore);
  EXPECT_EQ(ReadBytes(img, int64_t{p1.start} * 512, 512), pbrBefore);
  const fs::path part = ExtractPartition(img, 512);
  int st = 0;
  EXPECT_EQ((Shell("fsck.fat -n " + part.string(), &st), st), 0);
  EXPECT_NE(Shell("mdir -i " + part.string() + " ::/EFI/CLOVER").find("config"), std::string::npos);
}

// A release archive that cannot be had ends the job before its question: nothing is written.
TEST_F(FormatJobTest, ReleaseThatCannotBeHadLeavesTheDiskUntouched) {
  const fs::path img = MakeDisk(128 * MiB);
  {
    std::ofstream mark(img, std::ios::binary | std::ios::in | std::ios::out);
    mark << "MBR-BEFORE";
  }
  const auto before = ReadBytes(img, 0, 4 * MiB);
  SettingsRecord& s = Settings();
  s.Boot_records = "Clover";
  s.FileSystem = "FAT32";
  s.MultiPartitions = 0;
  // The latest release from a site that does not answer.
  ::setenv("FLASHWRIGHT_CODE_HOST", "http://127.0.0.1:1", 1);
  s.InstallDataSet = "DL";
  Run();
  ::unsetenv("FLASHWRIGHT_CODE_HOST");
  EXPECT_FALSE(LastFormatOutcome().ok);
  EXPECT_FALSE(LastFormatOutcome().ran);
  EXPECT_TRUE(ui_.Saw("Error Check Clover Last Revision"));
  EXPECT_TRUE(ui_.Saw("Clover Data set files Not Installed"));
  // A local release archive that is no 7-Zip archive.
  const fs::path fake = dir_ / "Clover-5151-X64.iso.7z";
  std::ofstream(fake) << "not an archive";
  s.InstallDataSet = "Local";
  TheCloverChoice() = {fake.string(), "5151"};
  Run();
  EXPECT_FALSE(LastFormatOutcome().ran);
  EXPECT_TRUE(ui_.Saw("Not 7z archive file: Clover-5151-X64.iso.7z"));
  for (const std::string& box : ui_.boxes)
    EXPECT_EQ(box.find("WILL BE DESTROYED"), std::string::npos);
  EXPECT_EQ(ReadBytes(img, 0, 4 * MiB), before);
  EXPECT_FALSE(AllDone());
  EXPECT_EQ(OpenHandleCount(), 0);
}

// The same job on a real loop device over an image file (root only).
class FormatLoopTest : public FormatJobTest {
 protected:
  void TearDown() override {
    if (!loop_.empty()) Shell("losetup -d " + loop_);
    DefaultBlockBackend().SetOnlyDevices({"/"});
    FormatJobTest::TearDown();
  }
  // Attaches a loop device over a fresh sparse file; "" when loop devices are not available.
  std::string AttachLoop(int64_t bytes, uint32_t sectorSize) {
    if (::geteuid() != 0) return "";
    const fs::path file = dir_ / "loop.img";
    Shell("truncate -s " + std::to_string(bytes) + " " + file.string());
    int st = 0;
    const std::string out =
        Shell("losetup -f --show -b " + std::to_string(sectorSize) + " " + file.string(), &st);
    if (st != 0 || out.rfind("/dev/loop", 0) != 0) return "";
    loop_ = out.substr(0, out.find('\n'));
    backing_ = file;
    // The inventory looks at this loop device only.
    DefaultBlockBackend().SetOnlyDevices({fs::path(loop_).filename().string()});
    return loop_;
  }
  bool SelectLoop() {
    UpdateAllDrives();
    for (const DiskRecord& d : DiskRecords()) {
      if (d.BusType == "FileBackedVirtual" && d.VendorId != "Image") {
        return SetCurrentDisk(d.DiskNumber, -1) == 1;
      }
    }
    return false;
  }
  std::string loop_;
  fs::path backing_;
};

TEST_F(FormatLoopTest, CloverOnLoopDevicesOf512And4096ByteSectors) {
  for (const uint32_t sectorSize : {512u, 4096u}) {
    if (AttachLoop(256 * MiB, sectorSize).empty()) GTEST_SKIP() << "loop devices need root";
    const fs::path zip = MakeDataSetZip();
    SettingsRecord& s = Settings();
    s = SettingsRecord{};
    s.EnableFixedDisks = 1;  // a loop device is a fixed disk
    s.Boot_records = "Clover";
    s.FileSystem = sectorSize == 512 ? "FAT32" : "exFAT";
    s.StartLBASector = "2048";
    s.MultiPartitions = 1;
    s.BootPartitionSize = 64;
    s.InstallDataSet = "Local";
    TheCloverChoice() = {zip.string(), "5151"};
    ui_.boxes.clear();
    ASSERT_TRUE(SelectLoop()) << "the loop device is not in the inventory";
    FormatThread(1);
    ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
    // The non-USB warning came first, and was answered OK.
    ASSERT_GE(ui_.boxes.size(), 2u);
    EXPECT_EQ(ui_.boxes[0].rfind("Warning|Are You sure?", 0), 0u);
    Shell("losetup -d " + loop_);
    loop_.clear();
    EXPECT_EQ(SlotOf(backing_, 0).start, 2048u);
    const fs::path part = dir_ / "loop-part.img";
    Shell("dd if=" + backing_.string() + " of=" + part.string() +
          " bs=" + std::to_string(sectorSize) +
          " skip=2048 count=" + std::to_string(64 * MiB / sectorSize) + " status=none");
    int st = 0;
    const std::string check =
        Shell((sectorSize == 512 ? "fsck.fat -n " : "fsck.exfat -n ") + part.string(), &st);
    EXPECT_EQ(st, 0) << check;
    fs::remove(part);
    fs::remove(backing_);
  }
}

}  // namespace
}  // namespace fw
