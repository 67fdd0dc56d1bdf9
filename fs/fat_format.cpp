#include "fs/fat_format.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fs/fat_common.h"

namespace fw::fat {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr size_t kZeroChunk = 16 * kMiB;
constexpr size_t kZeroAlign = 4096;

// x86 real-mode stub placed at offset 90 of the FAT32 boot sector: prints the message that
// follows it through the BIOS teletype service, waits for a key and asks the BIOS to boot the
// next device.
constexpr uint8_t kFat32BootStub[] = {
    0x0E,              // push cs
    0x1F,              // pop ds
    0xBE, 0x77, 0x7C,  // mov si, 0x7C77 (the message)
    0xAC,              // lodsb
    0x22, 0xC0,        // and al, al
    0x74, 0x0B,        // jz key
    0x56,              // push si
    0xB4, 0x0E,        // mov ah, 0x0E
    0xBB, 0x07, 0x00,  // mov bx, 7
    0xCD, 0x10,        // int 0x10
    0x5E,              // pop si
    0xEB, 0xF0,        // jmp lodsb
    0x32, 0xE4,        // key: xor ah, ah
    0xCD, 0x16,        // int 0x16
    0xCD, 0x19,        // int 0x19
    0xEB, 0xFE,        // jmp $
};
constexpr char kNotBootableText[] =
    "This volume is not bootable.\r\nRemove it and press any key to try the next device.\r\n";

uint32_t SerialFromClock() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t us =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
  return static_cast<uint32_t>(us ^ (us >> 32)) | 1u;
}

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

unsigned Log2(uint64_t v) {
  unsigned n = 0;
  while (v > 1) {
    v >>= 1;
    ++n;
  }
  return n;
}

uint64_t RoundUp(uint64_t v, uint64_t to) { return (v + to - 1) / to * to; }

class Writer {
 public:
  Writer(BlockDevice& dev, FormatOutcome& out) : dev_(dev), out_(out) {}

  bool Failed() {
    out_.result = FormatResult::IoError;
    out_.error = dev_.LastError() ? dev_.LastError() : EIO;
    return false;
  }

  bool Write(uint64_t offset, const void* data, size_t length) {
    const int64_t n = dev_.WriteAt(offset, data, length);
    if (n != static_cast<int64_t>(length)) {
      out_.result = FormatResult::IoError;
      out_.error = n < 0 ? (dev_.LastError() ? dev_.LastError() : EIO) : EIO;
      return false;
    }
    return true;
  }

  // Zeroes [offset, offset + length); reports progress from `fromPct` to `toPct`. The zeros
  // really are written (a full format overwrites what the volume held), in large writes from one
  // page-aligned buffer that start on multiples of its size, so the storage sees few, whole,
  // aligned requests.
  bool Zero(uint64_t offset, uint64_t length, const FormatOptions& o, int fromPct, int toPct) {
    if (length == 0) return true;
    size_t want = kZeroAlign;  // a power of two: the smallest that holds `length`, at most 16 MiB
    while (want < kZeroChunk && want < length) want *= 2;
    if (zerosSize_ < want) {
      zeros_.reset(static_cast<uint8_t*>(std::aligned_alloc(kZeroAlign, want)));
      if (!zeros_) {
        zerosSize_ = 0;
        out_.result = FormatResult::IoError;
        out_.error = ENOMEM;
        return false;
      }
      std::memset(zeros_.get(), 0, want);
      zerosSize_ = want;
    }
    uint64_t done = 0;
    int lastPct = -1;
    uint64_t prevAt = 0, prevLength = 0;
    while (done < length) {
      const uint64_t at = offset + done;
      // Up to the next multiple of the buffer size, so the following writes are aligned.
      const uint64_t toBoundary = zerosSize_ - at % zerosSize_;
      const size_t n = static_cast<size_t>(std::min(toBoundary, length - done));
      if (!Write(at, zeros_.get(), n)) return false;
      // Write-behind: this piece is sent on its way and the one before it waited for, so the
      // storage works while the next piece is written, the write cache holds at most two pieces
      // and the progress follows what really reached the storage.
      if (!dev_.StartWriteBack(at, n) || (prevLength && !dev_.WaitWriteBack(prevAt, prevLength)))
        return Failed();
      prevAt = at;
      prevLength = n;
      done += n;
      const int pct = fromPct + static_cast<int>((toPct - fromPct) * done / length);
      if (pct != lastPct) {
        lastPct = pct;
        if (!Progress(o, pct)) return false;
      }
    }
    return true;
  }

  bool Progress(const FormatOptions& o, int pct) {
    if (o.progress && !o.progress(pct)) {
      out_.result = FormatResult::Cancelled;
      return false;
    }
    return true;
  }

 private:
  BlockDevice& dev_;
  FormatOutcome& out_;
  struct FreeAligned {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, FreeAligned> zeros_;
  size_t zerosSize_ = 0;
};

// FAT32 label: at most 11 characters of the short-name set (spaces allowed), upper-cased.
bool MakeFat32Label(const std::string& in, std::string& label) {
  label.clear();
  for (char ch : in) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F) return false;
    if (std::string_view("*?.,;:/\\|+=<>[]\"").find(ch) != std::string_view::npos) return false;
    label.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
  }
  if (label.size() > 11) return false;
  while (!label.empty() && label.back() == ' ') label.pop_back();
  return true;
}

bool MakeExfatLabel(const std::string& in, std::u16string& label) {
  if (!Utf8ToUtf16(in, label) || label.size() > 11) return false;
  for (char16_t c : label) {
    if (c < 0x20) return false;
    if (std::u16string_view(u"*?/\\|<>\":").find(c) != std::u16string_view::npos) return false;
  }
  return true;
}

// Where everything of a FAT32 volume goes; PlanFat32 fills it or says why it cannot.
struct Fat32Layout {
  std::string label;
  uint32_t S = 0, cluster = 0, spc = 0;
  uint64_t N = 0, reserved = 0, fatSectors = 0, dataStart = 0, clusters = 0;
};

FormatResult PlanFat32(uint32_t S, uint64_t N, const FormatOptions& o, Fat32Layout& L) {
  if (!MakeFat32Label(o.label, L.label)) return FormatResult::BadLabel;
  if (S < 512 || S > 4096 || !IsPowerOfTwo(S)) return FormatResult::UnsupportedClusterSize;
  const uint32_t cluster =
      o.clusterSize ? o.clusterSize : std::max(DefaultFat32ClusterSize(N * S), S);
  if (!IsPowerOfTwo(cluster) || cluster < S || cluster > 65536 || cluster / S > 128)
    return FormatResult::UnsupportedClusterSize;
  if (N > 0xFFFFFFFFull || o.partitionStartSector > 0xFFFFFFFFull) return FormatResult::TooBig;
  const uint32_t spc = cluster / S;
  const uint64_t align = std::max<uint64_t>(1, kMiB / S);
  uint64_t reserved = 32;
  if (N <= reserved + 2) return FormatResult::TooSmall;
  const uint64_t clustersEst = (N - reserved) / spc;
  const uint64_t fatSectors = RoundUp((clustersEst + 2) * 4, S) / S;
  uint64_t dataStart = reserved + 2 * fatSectors;
  const uint64_t pad = (align - (o.partitionStartSector + dataStart) % align) % align;
  reserved += pad;
  dataStart += pad;
  if (reserved > 0xFFFF) return FormatResult::TooBig;
  if (dataStart >= N) return FormatResult::TooSmall;
  const uint64_t clusters = (N - dataStart) / spc;
  L.clusters = clusters;
  if (clusters < 65525) return FormatResult::TooSmall;
  if (clusters > 0x0FFFFFF4) return FormatResult::TooBig;
  L.S = S;
  L.N = N;
  L.cluster = cluster;
  L.spc = spc;
  L.reserved = reserved;
  L.fatSectors = fatSectors;
  L.dataStart = dataStart;
  return FormatResult::Ok;
}

FormatOutcome FormatFat32(BlockDevice& dev, const FormatOptions& o) {
  FormatOutcome out;
  Fat32Layout L;
  out.result = PlanFat32(dev.SectorSize(), dev.SectorCount(), o, L);
  if (out.result != FormatResult::Ok) return out;
  const uint32_t S = L.S, spc = L.spc, cluster = L.cluster;
  const uint64_t N = L.N, reserved = L.reserved, fatSectors = L.fatSectors, dataStart = L.dataStart,
                 clusters = L.clusters;
  const std::string& label = L.label;
  out.clusterSize = cluster;
  out.clusterCount = clusters;

  Writer w(dev, out);
  if (!w.Progress(o, 0)) return out;
  // System area: reserved sectors, both FATs, the root directory's cluster.
  const int sysPct = o.quick ? 95 : 10;
  if (!w.Zero(0, (dataStart + spc) * S, o, 0, sysPct)) return out;
  if (!o.quick && clusters > 1 &&
      !w.Zero((dataStart + spc) * S, (clusters - 1) * spc * S, o, sysPct, 95))
    return out;

  const uint32_t serial = o.volumeSerial ? o.volumeSerial : SerialFromClock();
  std::vector<uint8_t> boot(S, 0);
  uint8_t* b = boot.data();
  b[0] = 0xEB;
  b[1] = 0x58;
  b[2] = 0x90;
  std::memcpy(b + 3, "MSWIN4.1", 8);
  Put16(b + 11, static_cast<uint16_t>(S));
  b[13] = static_cast<uint8_t>(spc);
  Put16(b + 14, static_cast<uint16_t>(reserved));
  b[16] = 2;
  b[21] = 0xF8;
  Put16(b + 24, o.sectorsPerTrack);
  Put16(b + 26, o.heads);
  Put32(b + 28, static_cast<uint32_t>(o.partitionStartSector));
  Put32(b + 32, static_cast<uint32_t>(N));
  Put32(b + 36, static_cast<uint32_t>(fatSectors));
  Put32(b + 44, 2);  // root cluster
  Put16(b + 48, 1);  // FSInfo
  Put16(b + 50, 6);  // backup boot sector
  b[64] = 0x80;
  b[66] = 0x29;
  Put32(b + 67, serial);
  std::string bpbLabel = label.empty() ? "NO NAME" : label;
  bpbLabel.resize(11, ' ');
  std::memcpy(b + 71, bpbLabel.data(), 11);
  std::memcpy(b + 82, "FAT32   ", 8);
  std::memcpy(b + kFat32BootCodeOffset, kFat32BootStub, sizeof kFat32BootStub);
  std::memcpy(b + kFat32BootCodeOffset + sizeof kFat32BootStub, kNotBootableText,
              sizeof kNotBootableText);
  b[510] = 0x55;
  b[511] = 0xAA;

  std::vector<uint8_t> info(S, 0);
  Put32(info.data(), 0x41615252);
  Put32(info.data() + 484, 0x61417272);
  Put32(info.data() + 488, static_cast<uint32_t>(clusters - 1));  // the root uses one
  Put32(info.data() + 492, 3);
  Put32(info.data() + 508, 0xAA550000);

  std::vector<uint8_t> third(S, 0);  // sector 2 of each boot record set carries the signature
  third[510] = 0x55;
  third[511] = 0xAA;

  for (uint64_t base : {uint64_t{0}, uint64_t{6}}) {
    if (!w.Write(base * S, boot.data(), S) || !w.Write((base + 1) * S, info.data(), S) ||
        !w.Write((base + 2) * S, third.data(), S))
      return out;
  }
  uint8_t fatStart[12];
  Put32(fatStart, 0x0FFFFFF8);
  Put32(fatStart + 4, 0x0FFFFFFF);
  Put32(fatStart + 8, 0x0FFFFFFF);  // root directory: one cluster, end of chain
  for (int f = 0; f < 2; ++f)
    if (!w.Write((reserved + f * fatSectors) * S, fatStart, sizeof fatStart)) return out;
  if (!label.empty()) {
    uint8_t entry[32] = {};
    std::string name = label;
    name.resize(11, ' ');
    std::memcpy(entry, name.data(), 11);
    entry[11] = 0x08;
    const uint32_t ts = DosTimestampNow();
    Put16(entry + 22, static_cast<uint16_t>(ts));
    Put16(entry + 24, static_cast<uint16_t>(ts >> 16));
    if (!w.Write(dataStart * S, entry, sizeof entry)) return out;
  }
  if (!dev.Flush()) {
    out.result = FormatResult::IoError;
    out.error = dev.LastError() ? dev.LastError() : EIO;
    return out;
  }
  w.Progress(o, 100);
  if (out.result == FormatResult::Cancelled) return out;
  out.result = FormatResult::Ok;
  return out;
}

// Where everything of an exFAT volume goes; PlanExfat fills it or says why it cannot.
struct ExfatLayout {
  std::u16string label;
  std::vector<uint8_t> upcase;
  uint32_t S = 0, cluster = 0, spc = 0;
  uint64_t N = 0, fatOffset = 0, fatLength = 0, heapOffset = 0, clusters = 0, bitmapBytes = 0,
           bitmapClusters = 0, upcaseClusters = 0, used = 0;
};

FormatResult PlanExfat(uint32_t S, uint64_t N, const FormatOptions& o, ExfatLayout& L) {
  if (!MakeExfatLabel(o.label, L.label)) return FormatResult::BadLabel;
  if (S < 512 || S > 4096 || !IsPowerOfTwo(S)) return FormatResult::UnsupportedClusterSize;
  const uint32_t cluster =
      o.clusterSize ? o.clusterSize : std::max(DefaultExfatClusterSize(N * S), S);
  if (!IsPowerOfTwo(cluster) || cluster < S || cluster > 32 * kMiB)
    return FormatResult::UnsupportedClusterSize;
  if (N * S < kMiB) return FormatResult::TooSmall;
  const uint32_t spc = cluster / S;
  const uint64_t align = std::max<uint64_t>(1, kMiB / S);
  const uint64_t heapAlign = std::max<uint64_t>(align, spc);
  const uint64_t start = o.partitionStartSector;
  const uint64_t fatOffset = RoundUp(start + 24, align) - start;
  if (fatOffset >= N) return FormatResult::TooSmall;
  const uint64_t clustersEst = (N - fatOffset) / spc;
  const uint64_t fatLength = RoundUp((clustersEst + 2) * 4, S) / S;
  const uint64_t heapOffset = RoundUp(start + fatOffset + fatLength, heapAlign) - start;
  if (heapOffset >= N || fatLength > 0xFFFFFFFFull || heapOffset > 0xFFFFFFFFull)
    return FormatResult::TooSmall;
  const uint64_t clusters = (N - heapOffset) / spc;
  L.clusters = clusters;
  if (clusters > 0xFFFFFFF5ull) return FormatResult::TooBig;
  L.upcase = CompressedUpCaseTable();
  const uint64_t bitmapBytes = (clusters + 7) / 8;
  const uint64_t bitmapClusters = std::max<uint64_t>(1, RoundUp(bitmapBytes, cluster) / cluster);
  const uint64_t upcaseClusters = RoundUp(L.upcase.size(), cluster) / cluster;
  const uint64_t used = bitmapClusters + upcaseClusters + 1;
  if (clusters < used + 1) return FormatResult::TooSmall;
  L.S = S;
  L.N = N;
  L.cluster = cluster;
  L.spc = spc;
  L.fatOffset = fatOffset;
  L.fatLength = fatLength;
  L.heapOffset = heapOffset;
  L.bitmapBytes = bitmapBytes;
  L.bitmapClusters = bitmapClusters;
  L.upcaseClusters = upcaseClusters;
  L.used = used;
  return FormatResult::Ok;
}

FormatOutcome FormatExfat(BlockDevice& dev, const FormatOptions& o) {
  FormatOutcome out;
  ExfatLayout L;
  out.result = PlanExfat(dev.SectorSize(), dev.SectorCount(), o, L);
  if (out.result != FormatResult::Ok) return out;
  const uint32_t S = L.S, spc = L.spc, cluster = L.cluster;
  const uint64_t N = L.N, fatOffset = L.fatOffset, fatLength = L.fatLength,
                 heapOffset = L.heapOffset, clusters = L.clusters, bitmapBytes = L.bitmapBytes,
                 bitmapClusters = L.bitmapClusters, upcaseClusters = L.upcaseClusters,
                 used = L.used, start = o.partitionStartSector;
  const std::u16string& label = L.label;
  const std::vector<uint8_t>& upcase = L.upcase;
  out.clusterSize = cluster;
  out.clusterCount = clusters;
  const uint32_t bitmapCluster = 2;
  const uint32_t upcaseCluster = static_cast<uint32_t>(2 + bitmapClusters);
  const uint32_t rootCluster = static_cast<uint32_t>(upcaseCluster + upcaseClusters);

  Writer w(dev, out);
  if (!w.Progress(o, 0)) return out;
  const auto heapByte = [&](uint64_t c) { return (heapOffset + (c - 2) * spc) * S; };
  const int sysPct = o.quick ? 95 : 10;
  // Boot regions, FAT, and the system clusters of the heap.
  if (!w.Zero(0, heapByte(rootCluster + 1), o, 0, sysPct)) return out;
  if (!o.quick && clusters > used &&
      !w.Zero(heapByte(rootCluster + 1), (clusters - used) * cluster, o, sysPct, 95))
    return out;

  // FAT: media and reserved entries, then a chain through each system object.
  {
    std::vector<uint8_t> fat(static_cast<size_t>((rootCluster + 1) * 4), 0);
    Put32(fat.data(), 0xFFFFFFF8);
    Put32(fat.data() + 4, 0xFFFFFFFF);
    auto chain = [&](uint32_t first, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i)
        Put32(fat.data() + (first + i) * 4,
              i + 1 == count ? 0xFFFFFFFF : static_cast<uint32_t>(first + i + 1));
    };
    chain(bitmapCluster, bitmapClusters);
    chain(upcaseCluster, upcaseClusters);
    chain(rootCluster, 1);
    if (!w.Write(fatOffset * S, fat.data(), fat.size())) return out;
  }
  {
    std::vector<uint8_t> bitmap(static_cast<size_t>((used + 7) / 8), 0);
    for (uint64_t i = 0; i < used; ++i) bitmap[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    if (!w.Write(heapByte(bitmapCluster), bitmap.data(), bitmap.size())) return out;
    if (!w.Write(heapByte(upcaseCluster), upcase.data(), upcase.size())) return out;
  }
  {
    std::vector<uint8_t> root(96, 0);
    size_t pos = 0;
    if (!label.empty()) {
      root.resize(128, 0);
      root[0] = 0x83;
      root[1] = static_cast<uint8_t>(label.size());
      for (size_t i = 0; i < label.size(); ++i) Put16(root.data() + 2 + 2 * i, label[i]);
      pos = 32;
    }
    uint8_t* bm = root.data() + pos;
    bm[0] = 0x81;
    Put32(bm + 20, bitmapCluster);
    Put64(bm + 24, bitmapBytes);
    uint8_t* uc = bm + 32;
    uc[0] = 0x82;
    Put32(uc + 4, TableChecksum(upcase.data(), upcase.size()));
    Put32(uc + 20, upcaseCluster);
    Put64(uc + 24, upcase.size());
    if (!w.Write(heapByte(rootCluster), root.data(), root.size())) return out;
  }

  // Boot region: boot sector, 8 extended boot sectors, OEM parameters, reserved, checksum.
  std::vector<uint8_t> region(static_cast<size_t>(12) * S, 0);
  uint8_t* b = region.data();
  b[0] = 0xEB;
  b[1] = 0x76;
  b[2] = 0x90;
  std::memcpy(b + 3, "EXFAT   ", 8);
  Put64(b + 64, start);
  Put64(b + 72, N);
  Put32(b + 80, static_cast<uint32_t>(fatOffset));
  Put32(b + 84, static_cast<uint32_t>(fatLength));
  Put32(b + 88, static_cast<uint32_t>(heapOffset));
  Put32(b + 92, static_cast<uint32_t>(clusters));
  Put32(b + 96, rootCluster);
  Put32(b + 100, o.volumeSerial ? o.volumeSerial : SerialFromClock());
  Put16(b + 104, 0x0100);
  b[108] = static_cast<uint8_t>(Log2(S));
  b[109] = static_cast<uint8_t>(Log2(spc));
  b[110] = 1;
  b[111] = 0x80;
  b[112] = static_cast<uint8_t>(used * 100 / clusters);
  // Boot code: a halt loop (int 0x18 asks the BIOS for the next device first).
  b[kExfatBootCodeOffset] = 0xCD;
  b[kExfatBootCodeOffset + 1] = 0x18;
  b[kExfatBootCodeOffset + 2] = 0xEB;
  b[kExfatBootCodeOffset + 3] = 0xFE;
  b[510] = 0x55;
  b[511] = 0xAA;
  for (int s = 1; s <= 8; ++s) Put32(b + (s + 1) * S - 4, 0xAA550000);
  const uint32_t sum = ExfatBootChecksum(b, 11 * S);
  for (uint32_t i = 0; i < S / 4; ++i) Put32(b + 11 * S + 4 * i, sum);
  if (!w.Write(0, region.data(), region.size()) ||
      !w.Write(12ull * S, region.data(), region.size()))
    return out;
  if (!dev.Flush()) {
    out.result = FormatResult::IoError;
    out.error = dev.LastError() ? dev.LastError() : EIO;
    return out;
  }
  w.Progress(o, 100);
  if (out.result == FormatResult::Cancelled) return out;
  out.result = FormatResult::Ok;
  return out;
}

}  // namespace

FormatOutcome PlanFormat(uint32_t sectorSize, uint64_t sectorCount, const FormatOptions& options) {
  FormatOutcome out;
  if (options.kind == FsKind::Fat32) {
    Fat32Layout L;
    out.result = PlanFat32(sectorSize, sectorCount, options, L);
    out.clusterSize = L.cluster;
    out.clusterCount = L.clusters;
  } else {
    ExfatLayout L;
    out.result = PlanExfat(sectorSize, sectorCount, options, L);
    out.clusterSize = L.cluster;
    out.clusterCount = L.clusters;
  }
  return out;
}

FormatOutcome FormatVolume(BlockDevice& volume, const FormatOptions& options) {
  return options.kind == FsKind::Fat32 ? FormatFat32(volume, options)
                                       : FormatExfat(volume, options);
}

}  // namespace fw::fat
