#include "prepare/format_drive.h"

#include <cerrno>
#include <cstdio>

#include "app/globals.h"
#include "app/log.h"
#include "app/text.h"
#include "app/ui.h"
#include "fs/fat_format.h"
#include "platform/mkfs_runner.h"

namespace fw {
namespace {

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
  return buf;
}

// Reports one command and answers whether the formatter may go on.
bool Report(uint32_t command, uint32_t argument = 0) {
  return FormatExCallBack(command, 0, &argument) != 0;
}

void ReportTransferError(int error) {
  switch (error) {
    case EROFS:
    case EPERM:
      Report(kFmtMediaWriteProtected);
      break;
    case EACCES:
      Report(kFmtAccessDenied);
      break;
    case EBUSY:
      Report(kFmtVolumeInUse);
      break;
    case ENOMEDIUM:
      Report(kFmtNoMediaInDrive);
      break;
    default:
      Report(kFmtDone, 0);
      break;
  }
}

// What the engine and the tools are given, the same for the format and for the check before it.
fat::FormatOptions EngineOptions(bool fat32, const std::string& label, uint32_t clusterSize,
                                 uint64_t partitionStartSector, uint16_t sectorsPerTrack,
                                 uint16_t heads) {
  fat::FormatOptions o;
  o.kind = fat32 ? fat::FsKind::Fat32 : fat::FsKind::Exfat;
  o.label = label;
  o.clusterSize = clusterSize;
  o.partitionStartSector = partitionStartSector;
  o.sectorsPerTrack = sectorsPerTrack ? sectorsPerTrack : 63;
  o.heads = heads ? heads : 255;
  return o;
}

fat::MkfsRequest ToolRequest(const std::string& fileSystem, const std::string& label,
                             uint32_t clusterSize, uint64_t partitionStartSector,
                             uint16_t sectorsPerTrack, uint16_t heads) {
  fat::MkfsRequest req;
  req.fileSystem = fileSystem;
  req.label = label;
  req.clusterSize = clusterSize;
  req.partitionStartSector = partitionStartSector;
  req.sectorsPerTrack = sectorsPerTrack ? sectorsPerTrack : 63;
  req.heads = heads ? heads : 255;
  return req;
}

}  // namespace

int FormatExCallBack(uint32_t Command, uint32_t SubAction, void* ArgumentPointer) {
  (void)SubAction;
  if (FormatStatus.load() != 0) return 0;
  const uint32_t arg = ArgumentPointer ? *static_cast<const uint32_t*>(ArgumentPointer) : 0;
  auto fail = [](const std::string& log, const std::string& status) {
    FW_LOGP("FormatExCallBack", log);
    if (!status.empty()) ShowStatus(status, 0);
    FormatStatus = 1;
  };
  switch (Command) {
    case kFmtProgress: {
      const std::string text = "Formatting: " + std::to_string(arg) + " %";
      FW_LOG(text);
      ShowStatus(text, static_cast<int>(arg));
      break;
    }
    case kFmtDoneWithStructure:
      FW_LOG("FCC_DONE_WITH_STRUCTURE.");
      break;
    case kFmtIncompatibleFileSystem:
      fail("Incompatible File System.", "Incompatible File System");
      break;
    case kFmtAccessDenied:
      fail("Access denied.", "Access denied");
      break;
    case kFmtMediaWriteProtected:
      fail("Media is write protected.", "Media is write protected");
      break;
    case kFmtVolumeInUse:
      fail("Volume is in use.", "Volume is in use");
      break;
    case kFmtCantQuickFormat:
      fail("Cannot quick format this volume.", "Cannot quick format this volume");
      break;
    case kFmtDone:
      if (arg != 0) {
        FW_LOG("Creating file system completed.");
        ShowStatus("Creating file system completed", 100);
      } else {
        fail("Error while formatting.", "Error while formatting");
      }
      break;
    case kFmtBadLabel:
      fail("Bad label.", "Bad label");
      break;
    case kFmtOutput:
      FW_LOG("FMIFS_OutPut");
      break;
    case kFmtStructureProgress:
      FW_LOG("Creating file system");
      ShowStatus("Creating file system", 0);
      break;
    case kFmtClusterSizeTooSmall:
      fail("Unsupported cluster size.", "Unsupported cluster size");
      break;
    case kFmtClusterSizeTooBig:
      break;
    case kFmtVolumeTooSmall:
      FW_LOG("Volume is too small.");
      ShowStatus("Volume is too small", 0);
      break;
    case kFmtVolumeTooBig:
      fail("Volume is too big.", "Volume is too big");
      break;
    case kFmtNoMediaInDrive:
      fail("No media in drive.", "No media in drive");
      break;
    default:
      fail("FormatExCallback: received unhandled command = " + std::to_string(Command), "");
      break;
  }
  return FormatStatus.load() == 0 ? 1 : 0;
}

int FormatVolumeDevice(BlockDevice& volume, const std::string& FileSystemName,
                       const std::string& Label, bool QuickFormat, uint32_t ClusterSize,
                       uint64_t partitionStartSector, uint16_t sectorsPerTrack, uint16_t heads) {
  const bool fat32 = FileSystemName == "FAT32";
  const bool exfat = FileSystemName == "exFAT";
  if (!fat32 && !exfat && FileSystemName != "NTFS" && FileSystemName != "UDF") {
    Report(kFmtIncompatibleFileSystem);
    return 0;
  }
  if (!Report(kFmtStructureProgress)) return 0;
  if (fat32 || exfat) {
    fat::FormatOptions o =
        EngineOptions(fat32, Label, ClusterSize, partitionStartSector, sectorsPerTrack, heads);
    o.quick = QuickFormat;
    int last = -1;
    o.progress = [&last](int pct) {
      if (pct == last) return FormatStatus.load() == 0;
      last = pct;
      return Report(kFmtProgress, static_cast<uint32_t>(pct));
    };
    const fat::FormatOutcome r = fat::FormatVolume(volume, o);
    switch (r.result) {
      case fat::FormatResult::Ok:
        if (Report(kFmtDoneWithStructure)) Report(kFmtDone, 1);
        break;
      case fat::FormatResult::TooSmall:
        // Not an error by itself; the failed completion stops the job.
        if (Report(kFmtVolumeTooSmall)) Report(kFmtDone, 0);
        break;
      case fat::FormatResult::TooBig:
        Report(kFmtVolumeTooBig);
        break;
      case fat::FormatResult::UnsupportedClusterSize:
        Report(kFmtClusterSizeTooSmall);
        break;
      case fat::FormatResult::BadLabel:
        Report(kFmtBadLabel);
        break;
      case fat::FormatResult::IoError:
        ReportTransferError(r.error);
        break;
      case fat::FormatResult::Cancelled:
        if (FormatStatus.load() == 0) FormatStatus = 1;
        break;
    }
  } else {
    fat::MkfsRequest req = ToolRequest(FileSystemName, Label, ClusterSize, partitionStartSector,
                                       sectorsPerTrack, heads);
    req.quick = QuickFormat;
    req.progress = [](int pct) { return Report(kFmtProgress, static_cast<uint32_t>(pct)); };
    const fat::MkfsOutcome r = fat::RunMkfs(volume, req);
    for (const auto& line : r.output) FW_LOG(line);
    if (r.ok) {
      if (Report(kFmtDoneWithStructure)) Report(kFmtDone, 1);
    } else if (r.error != 0) {
      ReportTransferError(r.error);
    } else if (FormatStatus.load() == 0) {
      Report(kFmtDone, 0);
    }
  }
  return FormatStatus.load() == 0 ? 1 : 0;
}

std::string FormatterRefusal(uint32_t bytesPerSector, uint64_t partitionStartSector,
                             uint64_t sectorCount, const std::string& FileSystemName,
                             const std::string& Label, uint32_t ClusterSize,
                             uint16_t sectorsPerTrack, uint16_t heads) {
  const std::string size = FormatSizeText(static_cast<int64_t>(sectorCount * bytesPerSector), 0);
  if (FileSystemName == "FAT32" || FileSystemName == "exFAT") {
    const bool fat32 = FileSystemName == "FAT32";
    const fat::FormatOutcome plan = fat::PlanFormat(
        bytesPerSector, sectorCount,
        EngineOptions(fat32, Label, ClusterSize, partitionStartSector, sectorsPerTrack, heads));
    switch (plan.result) {
      case fat::FormatResult::Ok:
        return "";
      case fat::FormatResult::BadLabel:
        return fat32 ? "Bad label: FAT32 takes at most 11 characters: Latin letters, digits, "
                       "spaces and ! # $ % & ' ( ) - @ ^ _ ` { } ~"
                     : "Bad label: exFAT takes at most 11 characters, none of * ? / \\ | < > \" :";
      case fat::FormatResult::TooSmall:
        return "Volume is too small: " + FileSystemName + " cannot be made on " + size +
               (fat32 ? " (it needs at least 65525 clusters)" : "");
      case fat::FormatResult::TooBig:
        return "Volume is too big: " + FileSystemName + " cannot address " + size;
      case fat::FormatResult::UnsupportedClusterSize:
        return "Unsupported cluster size: " + std::to_string(ClusterSize) + " bytes for " +
               FileSystemName + " on sectors of " + std::to_string(bytesPerSector) + " bytes";
      default:
        return "Error while formatting";
    }
  }
  if (FileSystemName == "NTFS" || FileSystemName == "UDF") {
    const fat::MkfsOutcome r =
        fat::CheckMkfs(ToolRequest(FileSystemName, Label, ClusterSize, partitionStartSector,
                                   sectorsPerTrack, heads),
                       sectorCount * bytesPerSector, bytesPerSector);
    if (r.ok) return "";
    for (const auto& line : r.output) FW_LOG(line);
    // The tool's last line before the exit status says why.
    const std::string tool = FileSystemName == "NTFS" ? "mkntfs" : "mkudffs";
    std::string why = r.output.size() >= 2 ? r.output[r.output.size() - 2]
                      : r.output.empty()   ? std::string("refused")
                                           : r.output.back();
    return why.rfind(tool, 0) == 0 ? why : tool + ": " + why;
  }
  return "Incompatible File System";
}

uint32_t VBRChecksum(const uint8_t* Sectors, uint32_t ByteCount) {
  uint32_t checksum = 0;
  for (uint32_t i = 0; i < ByteCount; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    checksum = ((checksum & 1) ? 0x80000000u : 0) + (checksum >> 1) + Sectors[i];
  }
  std::string text;
  for (int k = 0; k < 4; ++k) text += Hex2(checksum >> (8 * k));
  FW_LOG("exFAT CRC Test : " + text);
  return checksum;
}

namespace {
// Reads sector 0 into WriteBuffer, logs through `logChange(old type)`, writes entry 0's type
// byte back as `type`. A failed read writes nothing.
template <class LogChange>
int RetypeFirstEntry(BlockDevice& disk, std::vector<uint8_t>& WriteBuffer, uint8_t type,
                     const std::string& what, LogChange logChange) {
  WriteBuffer.assign(disk.SectorSize(), 0);
  if (!disk.ReadSectors(0, 1, WriteBuffer.data())) {
    FW_LOG("Error read MBR for the " + what);
    return 0;
  }
  logChange(WriteBuffer[450]);
  WriteBuffer[450] = type;
  if (!disk.WriteSectors(0, 1, WriteBuffer.data())) {
    FW_LOG("Error write MBR for the " + what);
    return 0;
  }
  return 1;
}
}  // namespace

int FixFat32LbaType(BlockDevice& disk, std::vector<uint8_t>& WriteBuffer) {
  return RetypeFirstEntry(disk, WriteBuffer, 0x0C, "FAT32-LBA correction", [](uint8_t old) {
    FW_LOG("Correction MBR here $0B -> $0C for FAT32");
    FW_LOG("old FAT ID = $" + Hex2(old));
    FW_LOG("new FAT ID = $" + Hex2(0x0C));
  });
}

int SetFirstPartitionType(BlockDevice& disk, const std::string& FileSystemName) {
  uint8_t type = 0;
  if (FileSystemName == "FAT32" || FileSystemName == "FAT32-LBA") type = 0x0B;
  if (FileSystemName == "exFAT" || FileSystemName == "NTFS") type = 0x07;
  if (type == 0) return 1;
  std::vector<uint8_t> buffer;
  return RetypeFirstEntry(disk, buffer, type, "partition type", [&](uint8_t old) {
    FW_LOG("FormatDrive: partition type $" + Hex2(old) + " -> $" + Hex2(type) + " for " +
           FileSystemName);
  });
}

}  // namespace fw
