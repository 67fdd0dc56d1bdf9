#include "prepare/partition_table.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"

namespace fw {
namespace {

constexpr int64_t kMaxSects = 0xFFFFFFFFLL;

std::string Hex(uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int64_t TotalSectors(const DiskRecord& d) {
  return d.BytesPerSector ? d.DiskSize / d.BytesPerSector : 0;
}

int64_t FirstSize(const DiskRecord& d, const SettingsRecord& s, int64_t p1) {
  if (s.MultiPartitions == 1) return s.BootPartitionSize * 1048576 / d.BytesPerSector;
  return TotalSectors(d) - p1;
}

void LogEntry(const PartitionTableBytes& pt, int i) {
  const uint8_t* e = pt.data() + 16 * i;
  const std::string p = "PT\\PartitionTable[" + std::to_string(i) + "]\\";
  FW_LOGP("FormatThread", "PartitionTable[" + std::to_string(i) + "] setting:");
  FW_LOGP("FormatThread", p + "BootIndicator = $" + Hex(e[0], 2));
  FW_LOGP("FormatThread", p + "StartingHead = $" + Hex(e[1], 2));
  FW_LOGP("FormatThread", p + "StartingCylAndSect = $" + Hex(e[2] | (e[3] << 8), 4));
  FW_LOGP("FormatThread", p + "SystemIndicator = $" + Hex(e[4], 2));
  FW_LOGP("FormatThread", p + "EndingHead = $" + Hex(e[5], 2));
  FW_LOGP("FormatThread", p + "EndingCylAndSect = $" + Hex(e[6] | (e[7] << 8), 4));
  FW_LOGP("FormatThread", p + "StartingSector = " + std::to_string(Get32(e + 8)));
  FW_LOGP("FormatThread", p + "NumberOfSects = " + std::to_string(Get32(e + 12)));
}

void FillEntry(uint8_t* e, uint8_t boot, ChsFields start, ChsFields end, uint32_t first,
               uint32_t count) {
  e[0] = boot;
  e[1] = start.head;
  Put16(e + 2, start.cylAndSect);
  e[4] = 0x06;
  e[5] = end.head;
  Put16(e + 6, end.cylAndSect);
  Put32(e + 8, first);
  Put32(e + 12, count);
}

}  // namespace

ChsFields ChsOf(int64_t x, uint32_t sectorsPerTrack, int64_t limitValue) {
  ChsFields f;
  if (limitValue > kChsLimit) {
    f.head = 254;
    f.cylAndSect = 0xFFFF;
    return f;
  }
  const int64_t s = sectorsPerTrack ? sectorsPerTrack : 1;
  const int64_t sector = (x % s) + 1;
  const int64_t head = (x / s) % kChsHeads;
  const int64_t cyl = x / (s * kChsHeads);
  f.head = static_cast<uint8_t>(head);
  f.cylAndSect = static_cast<uint16_t>(((cyl >> 2) & 0xC0) + sector + ((cyl << 8) & 0xFFFF));
  return f;
}

int64_t FirstPartitionStart(const DiskRecord& disk, const SettingsRecord& s) {
  int64_t p1 = 0;
  try {
    p1 = std::stoll(s.StartLBASector);
  } catch (...) {
    p1 = 0;
  }
  if (p1 <= 0 || p1 >= disk.GeometrySectors) p1 = 63;
  return p1;
}

bool CheckPartitionLayout(const DiskRecord& disk, const SettingsRecord& s, std::string* why,
                          std::string* note) {
  if (disk.BytesPerSector == 0) {
    *why = "The disk reports no sector size";
    return false;
  }
  const int64_t total = TotalSectors(disk);
  const int64_t p1 = FirstPartitionStart(disk, s);
  const int64_t n1 = FirstSize(disk, s, p1);
  if (n1 <= 0 || p1 + n1 > total) {
    *why = "The boot partition does not fit on this disk (" + std::to_string(total) + " sectors)";
    return false;
  }
  if (s.MultiPartitions == 1) {
    if (p1 + n1 >= total) {
      *why = "Boot partition size " + std::to_string(s.BootPartitionSize) +
             " MB leaves no room for the second partition";
      return false;
    }
    if (p1 + n1 > kMaxSects || n1 > kMaxSects) {
      *why = "Boot partition size " + std::to_string(s.BootPartitionSize) +
             " MB is too large for an MBR partition table";
      return false;
    }
  }
  if (total > kMaxSects && note) {
    *note = "The disk has " + std::to_string(total) +
            " sectors; an MBR partition table describes at most " + std::to_string(kMaxSects) +
            ", so the last partition ends there";
  }
  return true;
}

int ClearMBRGPT(DriveHandle hDrive, int64_t BytesPerSector, int64_t DiskSize) {
  std::vector<uint8_t> pBuf;
  try {
    pBuf.assign(static_cast<size_t>(BytesPerSector), 0);
  } catch (...) {
    FW_LOG("ClearMBRGPT: Error AllocateMemory for *pBuf");
    FormatStatus = 1;
    return 0;
  }
  const int64_t total = DiskSize / BytesPerSector;
  auto wipe = [&](int64_t sector) {
    if (FormatStatus != 0) return false;
    return write_sectors(hDrive, BytesPerSector, sector, 1, pBuf.data()) == BytesPerSector;
  };
  for (int64_t i = 0; i < kWipedSectorsPerEnd; ++i)
    if (!wipe(i)) return 0;
  for (int64_t i = total - kWipedSectorsPerEnd; i < total; ++i)
    if (i >= 0 && !wipe(i)) return 0;
  ShowStatusFor("Clearing MBR/GPT structures ... OK", 1000);
  FW_LOG("Clearing MBR/GPT structures ... OK");
  return 1;
}

int64_t FirstPartitionSectors(const DiskRecord& disk, const SettingsRecord& s) {
  const int64_t n1 = FirstSize(disk, s, FirstPartitionStart(disk, s));
  // The 32-bit count cannot describe more; the rest of a huge disk stays unused.
  return s.MultiPartitions != 1 && n1 > kMaxSects ? kMaxSects : n1;
}

PartitionTableBytes BuildPartitionTable(const DiskRecord& disk, const SettingsRecord& s) {
  PartitionTableBytes pt{};
  const uint32_t spt = disk.SectorsPerTrack ? disk.SectorsPerTrack : 1;
  const int64_t total = TotalSectors(disk);
  const int64_t p1 = FirstPartitionStart(disk, s);
  const int64_t n1 = FirstPartitionSectors(disk, s);
  const int64_t e1 = s.MultiPartitions == 1 ? p1 + n1 : disk.GeometrySectors;
  const ChsFields start0 = ChsOf(p1, spt, p1);
  const ChsFields end0 = ChsOf(e1 - 1, spt, e1);
  FillEntry(pt.data(), 0x80, start0, end0, static_cast<uint32_t>(p1), static_cast<uint32_t>(n1));
  pt[64] = 0x55;
  pt[65] = 0xAA;
  LogEntry(pt, 0);
  FW_LOGP("FormatThread", "PT\\Signature = $AA55");
  if (s.MultiPartitions == 1) {
    const int64_t g = disk.GeometrySectors;
    int64_t n2 = total - p1 - n1;
    if (n2 > kMaxSects) n2 = kMaxSects;
    FillEntry(pt.data() + 16, 0, ChsOf(e1, spt, e1), ChsOf(g - 1, spt, g),
              static_cast<uint32_t>(n1 + p1), static_cast<uint32_t>(n2));
    LogEntry(pt, 1);
  }
  return pt;
}

uint32_t EntryStartingSector(const PartitionTableBytes& pt, int i) {
  return Get32(pt.data() + 16 * i + 8);
}
uint32_t EntryNumberOfSects(const PartitionTableBytes& pt, int i) {
  return Get32(pt.data() + 16 * i + 12);
}

uint32_t NewSignature() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

std::vector<uint8_t> ComposeMbrSector(const std::vector<uint8_t>& mbrImage,
                                      const PartitionTableBytes& pt, uint32_t signature,
                                      int64_t BytesPerSector) {
  std::vector<uint8_t> buf(static_cast<size_t>(BytesPerSector < 512 ? 512 : BytesPerSector), 0);
  std::memcpy(buf.data(), mbrImage.data(), mbrImage.size() < 512 ? mbrImage.size() : 512);
  std::memcpy(buf.data() + 446, pt.data(), pt.size());
  Put32(buf.data() + 440, signature);
  return buf;
}

int WriteMbrAndClearPbrs(DriveHandle hDrive, int64_t BytesPerSector,
                         const std::vector<uint8_t>& mbrImage, const PartitionTableBytes& pt,
                         uint32_t signature) {
  std::vector<uint8_t> buf = ComposeMbrSector(mbrImage, pt, signature, BytesPerSector);
  FW_LOGP("FormatThread", "Set NewSignature of disk=" + Hex(signature, 8));
  const int ok = write_sectors(hDrive, BytesPerSector, 0, 1, buf.data()) == BytesPerSector;
  std::fill(buf.begin(), buf.end(), 0);
  for (int i = 0; i < 4; ++i) {
    const uint32_t first = EntryStartingSector(pt, i);
    if (first == 0) continue;
    if (write_sectors(hDrive, BytesPerSector, first, 1, buf.data()) != 0) {
      ShowStatusFor("Clearing PBR structures ... OK", 1000);
      FW_LOGP("FormatThread", "Clearing PBR structures ... OK");
    }
  }
  FW_LOGP("FormatThread", RereadPartitionTable(hDrive) ? "Phase 3 DISK_UPDATE_PROPERTIES - Success"
                                                       : "Phase 3 DISK_UPDATE_PROPERTIES - Error");
  return ok;
}

}  // namespace fw
