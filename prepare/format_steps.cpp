#include "prepare/format_steps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "datasets/data_zip.h"
#include "datasets/packed_items.h"
#include "prepare/format_drive.h"
#include "disk/drive_letters.h"
#include "platform/volume_files.h"

namespace fw {

namespace {

// Creates an empty hidden file on the volume.
bool CreateHiddenEmptyFile(VolumeFiles& files, const std::string& path) {
  std::unique_ptr<VolumeFileWriter> writer = files.CreateFile(path, 0);
  if (!writer || !writer->Close()) return false;
  return files.SetHidden(path, true);
}

std::string Hex(uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

constexpr int64_t kHeads = 255;
constexpr int64_t kChsLimit = 16450559;  // 1024 x 255 x 63 - 1

// CHS head byte and sector/cylinder word of sector `x`; past the CHS limit both get their
// maximal values.
void Chs(int64_t x, int64_t limitValue, int64_t sectorsPerTrack, uint8_t* head, uint16_t* word) {
  if (limitValue > kChsLimit) {
    *head = 254;
    *word = 0xFFFF;
    return;
  }
  const int64_t s = std::max<int64_t>(sectorsPerTrack, 1);
  const int64_t sector = (x % s) + 1;
  const int64_t cylinder = x / (s * kHeads);
  *head = static_cast<uint8_t>((x / s) % kHeads);
  *word = static_cast<uint16_t>((((cylinder >> 2) & 0xC0) + sector + ((cylinder << 8) & 0xFFFF)) &
                                0xFFFF);
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void FillEntry(uint8_t* e, uint8_t boot, int64_t start, uint32_t count, int64_t startLimit,
               int64_t end, int64_t spt) {
  uint8_t head = 0;
  uint16_t word = 0;
  e[0] = boot;
  Chs(start, startLimit, spt, &head, &word);
  e[1] = head;
  Put16(e + 2, word);
  e[4] = 0x06;
  Chs(end - 1, end, spt, &head, &word);
  e[5] = head;
  Put16(e + 6, word);
  Put32(e + 8, static_cast<uint32_t>(start));
  Put32(e + 12, count);
}

void LogEntry(const uint8_t* e, int i) {
  const std::string p = "PT\\PartitionTable[" + std::to_string(i) + "]\\";
  auto u16 = [](const uint8_t* q) { return static_cast<uint16_t>(q[0] | (q[1] << 8)); };
  auto u32 = [](const uint8_t* q) {
    return static_cast<uint32_t>(q[0] | (q[1] << 8) | (q[2] << 16) | (uint32_t{q[3]} << 24));
  };
  FW_LOGP("FormatThread", "PartitionTable[" + std::to_string(i) + "] setting:");
  FW_LOGP("FormatThread", p + "BootIndicator = $" + Hex(e[0], 2));
  FW_LOGP("FormatThread", p + "StartingHead = $" + Hex(e[1], 2));
  FW_LOGP("FormatThread", p + "StartingCylAndSect = $" + Hex(u16(e + 2), 4));
  FW_LOGP("FormatThread", p + "SystemIndicator = $" + Hex(e[4], 2));
  FW_LOGP("FormatThread", p + "EndingHead = $" + Hex(e[5], 2));
  FW_LOGP("FormatThread", p + "EndingCylAndSect = $" + Hex(u16(e + 6), 4));
  FW_LOGP("FormatThread", p + "StartingSector = " + std::to_string(u32(e + 8)));
  FW_LOGP("FormatThread", p + "NumberOfSects = " + std::to_string(u32(e + 12)));
}

int64_t StartSectorOf(const DiskRecord& disk, const SettingsRecord& s) {
  const int64_t p1 = std::strtoll(s.StartLBASector.c_str(), nullptr, 10);
  return p1 >= disk.GeometrySectors || p1 <= 0 ? 63 : p1;
}

// Boot code of the placeholder images: prints the text that follows it through the BIOS and halts.
// It is position independent, so the same bytes serve at offset 0 (MBR), 90 (FAT32 boot sector)
// and 120 (exFAT boot sector).
constexpr uint8_t kMessageStub[] = {0xfa, 0x31, 0xc0, 0x8e, 0xd8, 0x8e, 0xd0, 0xbc, 0x00,
                                    0x7c, 0xfb, 0xe8, 0x00, 0x00, 0x5e, 0x83, 0xc6, 0x15,
                                    0xac, 0x08, 0xc0, 0x74, 0x09, 0xb4, 0x0e, 0xbb, 0x07,
                                    0x00, 0xcd, 0x10, 0xeb, 0xf2, 0xf4, 0xeb, 0xfd};

std::vector<uint8_t> PlaceholderImage(size_t blocks, size_t codeAt, const std::string& name,
                                      bool shortJump = false) {
  std::vector<uint8_t> image(512 * blocks, 0);
  if (codeAt == 90 && shortJump) {
    image[0] = 0xEB;  // short jump over the FAT32 parameter block
    image[1] = 0x58;
    image[2] = 0x90;
  } else if (codeAt == 90) {
    image[0] = 0xE9;  // near jump over the FAT32 parameter block
    image[1] = 90 - 3;
  } else if (codeAt == 120) {
    image[0] = 0xEB;  // short jump over the exFAT header
    image[1] = 0x76;
    image[2] = 0x90;
  }
  std::memcpy(image.data() + codeAt, kMessageStub, sizeof kMessageStub);
  const std::string text = "\r\nFlashwright: no " + name + " boot code in this build\r\n";
  std::memcpy(image.data() + codeAt + sizeof kMessageStub, text.c_str(), text.size() + 1);
  for (size_t b = 0; b < blocks; ++b) {
    image[512 * b + 510] = 0x55;
    image[512 * b + 511] = 0xAA;
  }
  return image;
}

}  // namespace

// The boot images. The loaders' own boot code (Clover's boot0 / boot1, a USB MBR that boots the
// active partition, the FreeDOS FAT32 LBA boot sector) is not part of this build yet: each image
// here has the layout the format job relies on (size, jump, the protected parameter area, the
// 0x55 0xAA signature) and code that only says so on the screen.
JobBootImages JobSelectBootImages(const std::string& bootRecords, const std::string& fileSystem) {
  JobBootImages images;
  if (bootRecords == "Windows") {
    images.MbrImage = PlaceholderImage(1, 0, "USB-HDD+");
  } else if (bootRecords == "FreeDos") {
    images.MbrImage = PlaceholderImage(1, 0, "USB-HDD+");
    images.PbrImage = PlaceholderImage(1, 90, "Fat32LBA", true);
    images.PbrSectorCount = 1;
  } else if (bootRecords == "Clover") {
    images.MbrImage = PlaceholderImage(1, 0, "boot0");
    if (fileSystem == "exFAT") {
      images.PbrImage = PlaceholderImage(2, 120, "boot1xalt");
      images.PbrSectorCount = 2;
    } else {
      images.PbrImage = PlaceholderImage(1, 90, "boot1f32alt");
      images.PbrSectorCount = 1;
    }
  }
  return images;
}

int JobClearMBRGPT(DriveHandle h, int64_t bytesPerSector, int64_t diskSize) {
  std::vector<uint8_t> zero(static_cast<size_t>(bytesPerSector), 0);
  const int64_t total = diskSize / bytesPerSector;
  std::vector<int64_t> sectors;
  for (int64_t i = 0; i < 128 && i < total; ++i) sectors.push_back(i);
  for (int64_t i = std::max<int64_t>(128, total - 128); i < total; ++i) sectors.push_back(i);
  for (const int64_t sector : sectors) {
    if (FormatStatus != 0) return 0;
    if (write_sectors(h, bytesPerSector, sector, 1, zero.data()) != bytesPerSector) return 0;
  }
  ShowStatusFor("Clearing MBR/GPT structures ... OK", 1000);
  FW_LOGP("ClearMBRGPT", "Clearing MBR/GPT structures ... OK");
  return 1;
}

bool JobPartitionLayoutFits(const DiskRecord& disk, const SettingsRecord& s, std::string* why) {
  const int64_t bps = std::max<int64_t>(disk.BytesPerSector, 1);
  const int64_t total = disk.DiskSize / bps;
  const int64_t p1 = StartSectorOf(disk, s);
  const int64_t n1 = s.MultiPartitions == 1 ? s.BootPartitionSize * 1048576 / bps : total - p1;
  if (total > 0xFFFFFFFFLL) {
    *why = "The disk has more sectors than an MBR partition table can describe";
    return false;
  }
  // The second partition needs at least one sector beyond the boot partition.
  if (n1 <= 0 || p1 + n1 > total || (s.MultiPartitions == 1 && p1 + n1 >= total)) {
    *why = "Boot partition size " + std::to_string(s.BootPartitionSize) +
           " MB does not fit on this disk";
    return false;
  }
  return true;
}

JobPartitionTable JobBuildPartitionTable(const DiskRecord& disk, const SettingsRecord& s) {
  JobPartitionTable pt;
  const int64_t bps = disk.BytesPerSector;
  const int64_t spt = disk.SectorsPerTrack;
  const int64_t total = disk.DiskSize / bps;
  const int64_t p1 = StartSectorOf(disk, s);
  int64_t n1 = 0, e1 = 0;
  if (s.MultiPartitions == 1) {
    n1 = s.BootPartitionSize * 1048576 / bps;
    e1 = p1 + n1;
  } else {
    n1 = total - p1;
    e1 = disk.GeometrySectors;
  }
  uint8_t* b = pt.bytes.data();
  FillEntry(b, 0x80, p1, static_cast<uint32_t>(n1), p1, e1, spt);
  b[64] = 0x55;
  b[65] = 0xAA;
  LogEntry(b, 0);
  FW_LOGP("FormatThread", "PT\\Signature = $AA55");
  pt.startingSectors = {p1, 0, 0, 0};
  if (s.MultiPartitions == 1) {
    FillEntry(b + 16, 0, e1, static_cast<uint32_t>(total - p1 - n1), e1, disk.GeometrySectors, spt);
    LogEntry(b + 16, 1);
    pt.startingSectors[1] = static_cast<uint32_t>(n1 + p1);
  }
  return pt;
}

uint32_t JobNewDiskSignature() { return static_cast<uint32_t>(TheClock().NowMs()); }

void JobSetFirstPartitionTypeLba(DriveHandle physical, int64_t bytesPerSector) {
  std::vector<uint8_t> writeBuffer;
  FixFat32LbaType(physical, static_cast<uint32_t>(bytesPerSector), writeBuffer);
}

int JobFormatDrive(const std::string& L, const std::string& fileSystem, const std::string& label,
                   int quick, int clusterSize) {
  return FormatDrive(L, fileSystem, label, quick != 0, static_cast<uint32_t>(clusterSize));
}

bool JobInstallPartitionBootRecord(DriveHandle volume, int64_t bytesPerSector,
                                   const JobBootImages& images, const std::string& fileSystem) {
  const int n = images.PbrSectorCount;
  const int64_t B = bytesPerSector;
  std::vector<uint8_t> readBuffer(static_cast<size_t>(B * n), 0);
  std::vector<uint8_t> writeBuffer(static_cast<size_t>(B * n), 0);
  // Without the formatter's own fields the merged sector would describe no file system.
  if (read_sectors(volume, B, 0, n, readBuffer.data()) != B * n) {
    FW_LOG("Error read the boot sector of the new volume: PBR not written");
    return false;
  }
  std::memcpy(writeBuffer.data(), images.PbrImage.data(),
              std::min<size_t>(writeBuffer.size(), images.PbrImage.size()));
  const bool exfat = fileSystem == "exFAT";
  if (exfat) {
    std::memcpy(writeBuffer.data(), readBuffer.data(), 120);
  } else {
    FW_LOG("*ReadBuffer before CopyMemory=" +
           Hex(reinterpret_cast<uintptr_t>(readBuffer.data()), 8));
    std::memcpy(writeBuffer.data() + 3, readBuffer.data() + 3, 87);
    FW_LOG("*ReadBuffer after CopyMemory=" +
           Hex(reinterpret_cast<uintptr_t>(readBuffer.data()), 8));
  }
  bool ok = write_sectors(volume, B, 0, n, writeBuffer.data()) == B * n;
  if (exfat) {
    ok = write_sectors(volume, B, 12, n, writeBuffer.data()) == B * n && ok;
    std::vector<uint8_t> region(static_cast<size_t>(12 * B), 0);
    if (read_sectors(volume, B, 0, 12, region.data()) != 12 * B) return false;
    const uint32_t k = VBRChecksum(region.data(), static_cast<uint32_t>(11 * B));
    if (k != 0) {
      for (int64_t i = 0; i < B / 4; ++i) Put32(region.data() + 11 * B + 4 * i, k);
    }
    ok = write_sectors(volume, B, 11, 1, region.data() + 11 * B) == B && ok;
    ok = write_sectors(volume, B, 23, 1, region.data() + 11 * B) == B && ok;
  }
  return ok;
}

bool JobWriteIndexingMarkers(int32_t diskNumber, const std::string& R) {
  const DriveHandle h = GetDriveHandle(diskNumber, R, true, false);
  if (h == kInvalidHandle) return false;
  bool first = false;
  BlockDevice* device = DeviceForHandle(h);
  std::unique_ptr<VolumeFiles> files = device ? OpenVolumeFiles(*device) : nullptr;
  if (files) {
    first = CreateHiddenEmptyFile(*files, ".metadata_never_index");
    if (files->MakeDirectories(".fseventsd")) {
      files->SetHidden(".fseventsd", true);
      if (!CreateHiddenEmptyFile(*files, ".fseventsd/no_log")) {
        FW_LOG("Error create " + R + "\\.fseventsd\\no_log");
      }
    }
    if (!files->Flush()) first = false;
  }
  CloseHandle(h);
  return first;
}

std::string JobAssignDriveLetter(const std::string& devicePath) {
  // "\\device\\harddiskN\\partitionM": the volume in slot M - 1 of disk N.
  const std::string disk = "\\device\\harddisk";
  const size_t at = devicePath.find(disk);
  const size_t part = devicePath.find("\\partition");
  if (at != 0 || part == std::string::npos) return "";
  const int32_t n = static_cast<int32_t>(std::strtol(devicePath.c_str() + disk.size(), nullptr, 10));
  const int m = static_cast<int>(std::strtol(devicePath.c_str() + part + 10, nullptr, 10));
  if (m < 1 || m > 4) return "";
  return AssignDriveLetter(n, m - 1);
}

// Volumes are windows of the disk the job holds; nothing is mounted that could be remounted.
void JobRemountVolume(const std::string& L) { FW_LOG("RemountVolume " + L + ": nothing mounted"); }

bool JobValidate7zZIPFile(const std::string& path) { return Validate7zZIPFile(path) != 0; }

int JobExtractDataZipFile(const std::string& zipPath, const std::string& L) {
  return ExtractDataZip(nullptr, 0, L, false, zipPath, true, false);
}

int JobInstallFreeDosDataSet(const std::string& L) {
  return ExtractDataZip(PackedFreeDosDataSet, static_cast<int64_t>(PackedFreeDosDataSetLength), L,
                        true, "", true, false);
}

// Clover release archives (".iso.7z") are taken apart by the 7-Zip archiver carried inside the
// program; that part of the program is not in this build yet, so both the download and the local
// archive end here, and the job reports the data set as not installed.
int JobDLAndExtractCloverFromCloverDistrISO(const std::string& L, int mode) {
  FW_LOG("DLAndExtractCloverFromCloverDistrISO(" + L + ", " + std::to_string(mode) +
         "): Clover release archives are not supported in this build; use a data-set zip");
  return 0;
}

// The network revision check is not in this build yet: report a failed check.
int JobCheckCloverLastRev() {
  FW_LOG("CheckCloverLastRevThread: the Clover revision check is not available in this build");
  return 0;
}

}  // namespace fw
