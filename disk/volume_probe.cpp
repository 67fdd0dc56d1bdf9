#include "disk/volume_probe.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace fw {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

bool ReadExact(BlockDevice& dev, uint64_t offset, void* buffer, size_t length) {
  if (offset > dev.SizeBytes() || length > dev.SizeBytes() - offset) return false;
  return dev.ReadAt(offset, buffer, length) == static_cast<int64_t>(length);
}

// Labels are stored in the OEM code page; plain ASCII is passed on, anything else as '?'.
std::string OemText(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
  return Trim(s);
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The volume-label entry (attribute 0x08) among `count` 32-byte FAT directory entries.
std::string FatLabelInDirectory(const uint8_t* dir, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = dir + i * 32;
    if (e[0] == 0x00) break;
    if (e[0] == 0xE5) continue;
    const uint8_t attr = e[11];
    if ((attr & 0x0F) == 0x0F) continue;  // long-name entry
    if ((attr & 0x18) == 0x08) return OemText(e, 11);
  }
  return "";
}

VolumeFacts ProbeFat(BlockDevice& dev, const uint8_t* bs, bool fat32) {
  VolumeFacts f;
  f.FileSystem = fat32 ? "FAT32" : "FAT";
  const uint32_t bps = Le16(bs + 11);
  const uint32_t spc = bs[13];
  const uint32_t reserved = Le16(bs + 14);
  const uint32_t fats = bs[16];
  const uint32_t rootEntries = Le16(bs + 17);
  const uint32_t fatSize = fat32 ? Le32(bs + 36) : Le16(bs + 22);
  const std::string bpbLabel = OemText(bs + (fat32 ? 71 : 43), 11);
  if (bps < 512 || bps > 4096 || (bps & (bps - 1)) || spc == 0 || (spc & (spc - 1)) || fats == 0) {
    f.VolumeName = bpbLabel == "NO NAME" ? "" : bpbLabel;
    return f;
  }
  const uint64_t fatStart = static_cast<uint64_t>(reserved) * bps;
  const uint64_t dataStart = fatStart + static_cast<uint64_t>(fats) * fatSize * bps;
  uint64_t dirOffset;
  size_t dirBytes;
  if (fat32) {
    const uint32_t rootCluster = Le32(bs + 44);
    if (rootCluster < 2) return f;
    dirOffset = dataStart + static_cast<uint64_t>(rootCluster - 2) * spc * bps;
    dirBytes = static_cast<size_t>(spc) * bps;
  } else {
    dirOffset = dataStart;
    dirBytes = static_cast<size_t>(rootEntries) * 32;
  }
  std::vector<uint8_t> dir(dirBytes);
  if (dirBytes == 0 || !ReadExact(dev, dirOffset, dir.data(), dir.size())) {
    f.VolumeName = bpbLabel == "NO NAME" ? "" : bpbLabel;
    return f;
  }
  // The root-directory entry is the label the system reports; a volume without one has none.
  f.VolumeName = FatLabelInDirectory(dir.data(), dirBytes / 32);
  return f;
}

VolumeFacts ProbeExfat(BlockDevice& dev, const uint8_t* bs) {
  VolumeFacts f;
  f.FileSystem = "exFAT";
  const uint32_t bpsShift = bs[108];
  const uint32_t spcShift = bs[109];
  if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return f;
  const uint64_t bps = 1ull << bpsShift;
  const uint64_t clusterBytes = bps << spcShift;
  const uint64_t heapOffset = static_cast<uint64_t>(Le32(bs + 88)) * bps;
  const uint32_t rootCluster = Le32(bs + 96);
  if (rootCluster < 2) return f;
  const size_t readBytes = static_cast<size_t>(clusterBytes < 65536 ? clusterBytes : 65536);
  std::vector<uint8_t> dir(readBytes);
  if (!ReadExact(dev, heapOffset + (rootCluster - 2) * clusterBytes, dir.data(), dir.size()))
    return f;
  for (size_t i = 0; i + 32 <= dir.size(); i += 32) {
    const uint8_t* e = &dir[i];
    if (e[0] == 0x00) break;
    if (e[0] == 0x83) {
      const size_t n = e[1] > 11 ? 11 : e[1];
      std::string label;
      for (size_t k = 0; k < n; ++k) AppendUtf8(label, Le16(e + 2 + 2 * k));
      f.VolumeName = Trim(label);
      break;
    }
  }
  return f;
}

bool IsUdf(BlockDevice& dev) {
  // Volume recognition sequence: 2048-byte descriptors from byte 32768.
  uint8_t d[8];
  bool bea = false;
  for (uint64_t off = 32768; off < 32768 + 2048 * 16; off += 2048) {
    if (!ReadExact(dev, off, d, sizeof d)) return false;
    if (std::memcmp(d + 1, "BEA01", 5) == 0) bea = true;
    if (bea && (std::memcmp(d + 1, "NSR02", 5) == 0 || std::memcmp(d + 1, "NSR03", 5) == 0))
      return true;
    if (std::memcmp(d + 1, "TEA01", 5) == 0) break;
  }
  return false;
}

}  // namespace

bool IsLetteredFileSystem(const std::string& fs) {
  return fs == "FAT32" || fs == "FAT" || fs == "exFAT" || fs == "NTFS" || fs == "UDF";
}

VolumeFacts ProbeVolume(BlockDevice& dev) {
  VolumeFacts f;
  const uint32_t ss = dev.SectorSize() ? dev.SectorSize() : 512;
  std::vector<uint8_t> bs(ss < 512 ? 512 : ss);
  if (!ReadExact(dev, 0, bs.data(), bs.size())) return f;
  if (std::memcmp(&bs[3], "NTFS    ", 8) == 0) {
    f.FileSystem = "NTFS";
    return f;
  }
  if (std::memcmp(&bs[3], "EXFAT   ", 8) == 0) return ProbeExfat(dev, bs.data());
  const bool bootSig = bs[510] == 0x55 && bs[511] == 0xAA;
  if (bootSig && std::memcmp(&bs[82], "FAT32   ", 8) == 0) return ProbeFat(dev, bs.data(), true);
  if (bootSig && std::memcmp(&bs[54], "FAT1", 4) == 0) return ProbeFat(dev, bs.data(), false);
  if (IsUdf(dev)) f.FileSystem = "UDF";
  return f;
}

}  // namespace fw
