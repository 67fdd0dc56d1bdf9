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
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 code units (surrogate pairs joined; a lone surrogate becomes U+FFFD) as UTF-8.
std::string Utf16ToUtf8(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
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

// NTFS keeps its label in the VOLUME_NAME attribute (0x60) of MFT record 3 ($Volume).
std::string NtfsLabel(BlockDevice& dev, const uint8_t* bs) {
  const uint32_t bps = Le16(bs + 11);
  if (bps < 256 || bps > 4096 || (bps & (bps - 1)) != 0) return "";
  const uint8_t spc = bs[13];
  uint64_t clusterBytes = 0;
  if (spc == 0) return "";
  if (spc <= 128) {
    clusterBytes = static_cast<uint64_t>(spc) * bps;
  } else {
    const uint32_t shift = 256u - spc;
    if (shift > 31) return "";
    clusterBytes = 1ull << shift;
  }
  if (clusterBytes > (1ull << 31)) return "";
  const auto perRecord = static_cast<int8_t>(bs[64]);
  uint64_t recordBytes = 0;
  if (perRecord > 0) {
    recordBytes = static_cast<uint64_t>(perRecord) * clusterBytes;
  } else {
    if (-perRecord < 9 || -perRecord > 16) return "";
    recordBytes = 1ull << -perRecord;
  }
  if (recordBytes < 512 || recordBytes > 65536) return "";
  uint64_t mftCluster = 0;
  std::memcpy(&mftCluster, bs + 48, 8);  // little-endian host
  if (mftCluster == 0 || mftCluster > dev.SizeBytes() / clusterBytes) return "";
  std::vector<uint8_t> r(static_cast<size_t>(recordBytes));
  if (!ReadExact(dev, mftCluster * clusterBytes + 3 * recordBytes, r.data(), r.size())) return "";
  if (std::memcmp(r.data(), "FILE", 4) != 0) return "";
  // Undo the update-sequence fixups: the last two bytes of every 512-byte stride.
  const uint16_t usaOffset = Le16(&r[4]);
  const uint16_t usaCount = Le16(&r[6]);
  if (usaCount == 0 || usaOffset + 2ull * usaCount > r.size() || (usaCount - 1ull) * 512 > r.size())
    return "";
  for (uint32_t i = 1; i < usaCount; ++i) {
    const size_t end = i * 512ull - 2;
    if (r[end] != r[usaOffset] || r[end + 1] != r[usaOffset + 1]) return "";  // torn record
    r[end] = r[usaOffset + 2 * i];
    r[end + 1] = r[usaOffset + 2 * i + 1];
  }
  size_t at = Le16(&r[20]);
  while (at + 24 <= r.size()) {
    const uint32_t type = Le32(&r[at]);
    const uint32_t length = Le32(&r[at + 4]);
    if (type == 0xFFFFFFFF || length < 24 || length > r.size() - at) break;
    if (type == 0x60 && r[at + 8] == 0) {
      const uint32_t valueLength = Le32(&r[at + 16]);
      const uint16_t valueOffset = Le16(&r[at + 20]);
      if (valueOffset + static_cast<uint64_t>(valueLength) > length) return "";
      std::vector<uint16_t> units;
      for (uint32_t k = 0; k + 1 < valueLength; k += 2)
        units.push_back(Le16(&r[at + valueOffset + k]));
      return Trim(Utf16ToUtf8(units));
    }
    at += length;
  }
  return "";
}

// A UDF dstring: compression id 8 (one byte a character) or 16 (UTF-16 big-endian), the used
// length in its last byte.
std::string UdfDString(const uint8_t* p, size_t size) {
  const size_t used = p[size - 1];
  if (used < 2 || used > size - 1) return "";
  std::vector<uint16_t> units;
  if (p[0] == 8) {
    for (size_t i = 1; i < used; ++i) units.push_back(p[i]);
  } else if (p[0] == 16) {
    for (size_t i = 1; i + 1 < used; i += 2)
      units.push_back(static_cast<uint16_t>((p[i] << 8) | p[i + 1]));
  } else {
    return "";
  }
  return Trim(Utf16ToUtf8(units));
}

// The UDF label: the logical volume identifier of the main volume descriptor sequence (the
// primary volume identifier when there is no logical one). The anchor sits at block 256; the
// block size is whichever of 512..4096 puts a valid anchor there.
std::string UdfLabel(BlockDevice& dev) {
  for (uint32_t bs = 512; bs <= 4096; bs *= 2) {
    uint8_t a[512];
    if (!ReadExact(dev, 256ull * bs, a, sizeof a)) continue;
    if (Le16(a) != 2 || Le32(a + 12) != 256) continue;
    const uint32_t length = Le32(a + 16);
    const uint32_t location = Le32(a + 20);
    std::string primary;
    const uint32_t blocks = length / bs < 64 ? length / bs : 64;
    std::vector<uint8_t> d(bs);
    for (uint32_t i = 0; i < blocks; ++i) {
      if (!ReadExact(dev, (static_cast<uint64_t>(location) + i) * bs, d.data(), d.size())) break;
      const uint16_t tag = Le16(d.data());
      if (Le32(&d[12]) != location + i) break;
      if (tag == 8) break;  // terminating descriptor
      if (tag == 1 && primary.empty()) primary = UdfDString(&d[24], 32);
      if (tag == 6) {
        const std::string logical = UdfDString(&d[84], 128);
        if (!logical.empty()) return logical;
      }
    }
    return primary;
  }
  return "";
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
    f.VolumeName = NtfsLabel(dev, bs.data());
    return f;
  }
  if (std::memcmp(&bs[3], "EXFAT   ", 8) == 0) return ProbeExfat(dev, bs.data());
  const bool bootSig = bs[510] == 0x55 && bs[511] == 0xAA;
  if (bootSig && std::memcmp(&bs[82], "FAT32   ", 8) == 0) return ProbeFat(dev, bs.data(), true);
  if (bootSig && std::memcmp(&bs[54], "FAT1", 4) == 0) return ProbeFat(dev, bs.data(), false);
  if (IsUdf(dev)) {
    f.FileSystem = "UDF";
    f.VolumeName = UdfLabel(dev);
  }
  return f;
}

}  // namespace fw
