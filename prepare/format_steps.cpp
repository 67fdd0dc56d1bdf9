#include "prepare/format_steps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "datasets/clover_distr.h"
#include "datasets/data_zip.h"
#include "datasets/data_zip_verify.h"
#include "datasets/packed_items.h"
#include "net/clover_rev_check.h"
#include "platform/volume_files.h"
#include "prepare/boot_records.h"
#include "prepare/format_drive.h"
#include "resources/boot/boot_images.h"

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

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
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

// The image carried inside the program under that name, else the placeholder.
std::vector<uint8_t> BootImage(const char* name, size_t blocks, size_t codeAt,
                               bool shortJump = false) {
  if (const EmbeddedBootImage* image = FindEmbeddedBootImage(name)) {
    return std::vector<uint8_t>(image->data, image->data + image->size);
  }
  return PlaceholderImage(blocks, codeAt, name, shortJump);
}

}  // namespace

// The boot images, all carried inside the program (resources/boot). Should a build lack one, its
// place is taken by an image of the same layout (size, jump, the protected parameter area, the
// 0x55 0xAA signature) whose code only says so on the screen, so no disk gets garbage to run.
JobBootImages JobSelectBootImages(const std::string& bootRecords, const std::string& fileSystem) {
  JobBootImages images;
  if (bootRecords == "Windows") {
    images.MbrImage = BootImage("USB-HDD+", 1, 0);
  } else if (bootRecords == "FreeDos") {
    images.MbrImage = BootImage("USB-HDD+", 1, 0);
    images.PbrImage = BootImage("Fat32LBA", 1, 90, true);
    images.PbrSectorCount = 1;
  } else if (bootRecords == "Clover") {
    images.MbrImage = BootImage("boot0", 1, 0);
    if (fileSystem == "exFAT") {
      images.PbrImage = BootImage("boot1xalt", 2, 120);
      images.PbrSectorCount = 2;
    } else {
      images.PbrImage = BootImage("boot1f32alt", 1, 90);
      images.PbrSectorCount = 1;
    }
  }
  return images;
}

void JobSetFirstPartitionTypeLba(DriveHandle physical, int64_t bytesPerSector) {
  std::vector<uint8_t> writeBuffer;
  FixFat32LbaType(physical, static_cast<uint32_t>(bytesPerSector), writeBuffer);
}

void JobSetFirstPartitionTypeForFileSystem(DriveHandle physical, int64_t bytesPerSector,
                                           const std::string& fileSystem) {
  SetFirstPartitionType(physical, static_cast<uint32_t>(bytesPerSector), fileSystem);
}

int JobFormatDrive(const std::string& L, const std::string& fileSystem, const std::string& label,
                   int quick, int clusterSize) {
  return FormatDrive(L, fileSystem, label, quick != 0, static_cast<uint32_t>(clusterSize));
}

bool JobInstallPartitionBootRecord(DriveHandle volume, int64_t bytesPerSector,
                                   const JobBootImages& images, const std::string& fileSystem) {
  const int64_t B = bytesPerSector;
  // The boot code's 512-byte blocks, in whole sectors: two sectors for exFAT on 512-byte sectors,
  // one on larger ones (the second block then lies inside sector 0).
  const int64_t n = (512 * images.PbrSectorCount + B - 1) / B;
  std::vector<uint8_t> readBuffer(static_cast<size_t>(B * n), 0);
  // Without the formatter's own fields the merged sector would describe no file system.
  if (read_sectors(volume, B, 0, n, readBuffer.data()) != B * n) {
    FW_LOG("Error read the boot sector of the new volume: PBR not written");
    return false;
  }
  const bool exfat = fileSystem == "exFAT";
  std::vector<uint8_t> merged;
  std::string why;
  FW_LOG("*ReadBuffer before CopyMemory=" + Hex(reinterpret_cast<uintptr_t>(readBuffer.data()), 8));
  if (!MergePartitionBootRecord(readBuffer, images.PbrImage, exfat ? "exFAT" : "FAT32", &merged,
                                &why)) {
    FW_LOG("PBR not written: " + why);
    return false;
  }
  FW_LOG("*ReadBuffer after CopyMemory=" + Hex(reinterpret_cast<uintptr_t>(readBuffer.data()), 8));
  // The boot code laid over the formatter's sectors: what it does not cover keeps the formatter's
  // bytes (a zero buffer there lost the signature of the extended boot sector after it).
  std::vector<uint8_t> writeBuffer = readBuffer;
  std::memcpy(writeBuffer.data(), merged.data(), std::min(writeBuffer.size(), merged.size()));
  bool ok = write_sectors(volume, B, 0, n, writeBuffer.data()) == B * n;
  if (!exfat && n == 1) {
    // FAT32 keeps a copy of its boot sector (normally at 6); it must carry the same code, or
    // checkers report the pair as different and a repair from the copy would drop the loader.
    const uint16_t backup = static_cast<uint16_t>(writeBuffer[50] | (writeBuffer[51] << 8));
    const uint16_t reserved = static_cast<uint16_t>(writeBuffer[14] | (writeBuffer[15] << 8));
    if (backup != 0 && backup != 0xFFFF && backup < reserved) {
      ok = write_sectors(volume, B, backup, 1, writeBuffer.data()) == B && ok;
    }
  }
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
    files.reset();  // the engine writes through the handle's device: release it first
  }
  CloseHandle(h);
  return first;
}

bool JobValidate7zZIPFile(const std::string& path) { return Validate7zZIPFile(path) != 0; }

// A data set with entries that did not reach the volume is not installed.
int JobExtractDataZipFile(const std::string& zipPath, const std::string& L) {
  ExtractTally tally;
  return ExtractDataZip(nullptr, 0, L, false, zipPath, true, false, &tally) == 1 &&
         tally.NotWritten() == 0;
}

int JobInstallFreeDosDataSet(const std::string& L) {
  ExtractTally tally;
  return ExtractDataZip(PackedFreeDosDataSet, static_cast<int64_t>(PackedFreeDosDataSetLength), L,
                        true, "", true, false, &tally) == 1 &&
         tally.NotWritten() == 0;
}

int JobPrepareCloverDataSetZip(int mode, std::string* zipPath) {
  return PrepareCloverDataSetZip(mode, zipPath);
}

int JobVerifyDataSet(const std::string& zipPath, const std::string& L, std::string* failedFile) {
  DataZipCheck check;
  const int result =
      zipPath.empty()
          ? VerifyDataZip(PackedFreeDosDataSet, static_cast<int64_t>(PackedFreeDosDataSetLength), L,
                          true, "", true, &check)
          : VerifyDataZip(nullptr, 0, L, false, zipPath, true, &check);
  *failedFile = check.failedFile;
  return result;
}

int JobInstallCloverDataSetZip(const std::string& L, const std::string& zipPath) {
  return InstallCloverDataSetZip(L, zipPath);
}

// A check that another network worker is running (one started at start-up, say) is waited for
// as long as a download may take.
int JobCheckCloverLastRev() { return RunCloverRevCheck(kCloverDownloadLimitMs); }

}  // namespace fw
