#include "fs/fat_volume.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/fat_common.h"

namespace fw::fat {
namespace {

constexpr uint32_t kFat32Eoc = 0x0FFFFFFF;
constexpr uint32_t kExfatEoc = 0xFFFFFFFF;
constexpr size_t kFatChunkEntries = 4096;
constexpr size_t kWriteBatch = 1024 * 1024;
constexpr uint8_t kAttrHidden = 0x02, kAttrVolumeId = 0x08, kAttrDirectory = 0x10,
                  kAttrArchive = 0x20, kAttrLongName = 0x0F;

struct Entry {
  std::u16string name;
  uint16_t attr = 0;
  uint32_t first = 0;
  uint64_t size = 0;       // data length
  uint64_t validSize = 0;  // exFAT valid data length (FAT32: = size)
  bool noFatChain = false;
  size_t slot = 0;        // first slot of the entry set
  size_t nslots = 0;      // slots of the whole set
  std::string shortName;  // FAT32: the 11 bytes of the short entry
};

struct Dir {
  uint32_t first = 0;
  std::vector<uint32_t> clusters;
  std::vector<uint8_t> data;
  std::vector<bool> dirty;
  std::vector<Entry> entries;
  std::unordered_set<std::string> shortNames;
  bool isRoot = false;
  bool noFatChain = false;
  // exFAT: where this directory's own entry set lies (parent's first cluster, slot).
  uint32_t parentFirst = 0;
  size_t parentSlot = 0;
  size_t labelSlot = SIZE_MAX;
  size_t Slots() const { return data.size() / 32; }
  uint8_t* Slot(size_t i) { return data.data() + 32 * i; }
  void MarkDirty(size_t slot, size_t count, uint32_t clusterBytes) {
    for (size_t s = slot; s < slot + count; ++s) dirty[s * 32 / clusterBytes] = true;
  }
};

uint16_t EntrySetChecksum(const uint8_t* set, size_t slots) {
  uint16_t sum = 0;
  for (size_t i = 0; i < slots * 32; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
  }
  return sum;
}

uint8_t ShortNameChecksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + name[i]);
  return sum;
}

bool IsShortNameChar(char16_t c) {
  if (c >= u'A' && c <= u'Z') return true;
  if (c >= u'0' && c <= u'9') return true;
  return c < 0x80 && std::u16string_view(u"$%'-_@~`!(){}^#&").find(c) != std::u16string_view::npos;
}

class Engine;

class FileWriter final : public VolumeFileWriter {
 public:
  FileWriter(Engine& engine, uint32_t dirFirst, size_t slot, uint64_t sizeHint);
  ~FileWriter() override;
  bool Write(const void* data, size_t length) override;
  bool Close() override;
  void Discard() override {
    if (!closed_) Rollback();
  }

 private:
  bool FlushPending(bool final);
  uint32_t NextCluster();
  void Rollback();

  Engine& e_;
  uint32_t dirFirst_;
  size_t slot_;
  std::vector<uint32_t> clusters_;
  std::vector<uint8_t> pending_;
  uint64_t size_ = 0;
  uint32_t resNext_ = 0, resLeft_ = 0;  // reserved contiguous run from the size hint
  bool failed_ = false;
  bool closed_ = false;
};

class Engine final : public VolumeFiles {
 public:
  explicit Engine(BlockDevice& dev) : dev_(dev) {}
  ~Engine() override {
    if (opened_) Flush();
  }
  void SetOpened() { opened_ = true; }

  OpenError Open();

  std::string FileSystemName() const override { return exfat_ ? "exFAT" : "FAT32"; }
  std::string Label() const override { return label_; }
  bool SetLabel(const std::string& label) override;
  uint64_t FreeBytes() const override { return freeCount_ * clusterBytes_; }
  bool MakeDirectories(const std::string& path) override;
  std::unique_ptr<VolumeFileWriter> CreateFile(const std::string& path, uint64_t sizeHint) override;
  bool SetHidden(const std::string& path, bool hidden) override;
  bool Exists(const std::string& path) override;
  bool ReadFile(const std::string& path, std::string& contents) override;
  bool ListDirectory(const std::string& path, std::vector<VolumeEntry>& entries) override;
  bool Flush() override;

 private:
  friend class FileWriter;

  bool ReadBytes(uint64_t offset, void* buf, size_t len) {
    if (dev_.ReadAt(offset, buf, len) != static_cast<int64_t>(len)) return false;
    return true;
  }
  bool WriteBytes(uint64_t offset, const void* buf, size_t len) {
    if (dev_.WriteAt(offset, buf, len) != static_cast<int64_t>(len)) {
      ioError_ = true;
      return false;
    }
    return true;
  }
  bool ValidCluster(uint64_t c) const { return c >= 2 && c < uint64_t{clusterCount_} + 2; }
  uint64_t ClusterOffset(uint32_t c) const { return heapOffset_ + uint64_t{c - 2} * clusterBytes_; }

  OpenError ParseFat32(const uint8_t* b);
  OpenError ParseExfat(const uint8_t* b, const std::vector<uint8_t>& region);

  // FAT entries through a chunk cache.
  bool LoadChunk(size_t idx);
  bool GetFat(uint32_t c, uint32_t& value);
  bool SetFat(uint32_t c, uint32_t value);
  uint32_t Eoc() const { return exfat_ ? kExfatEoc : kFat32Eoc; }
  bool IsEoc(uint32_t v) const { return exfat_ ? v == kExfatEoc : v >= 0x0FFFFFF8; }
  // Follows a chain from `first`; false when it leaves the volume, meets a free or bad cluster,
  // or runs longer than `maxClusters` (a loop).
  bool Chain(uint32_t first, uint64_t maxClusters, std::vector<uint32_t>& out);
  bool FileClusters(const Entry& e, std::vector<uint32_t>& out);

  // Allocation (FAT32: the FAT; exFAT: the bitmap).
  bool IsFree(uint32_t c);
  bool MarkUsed(uint32_t c);
  bool MarkFree(uint32_t c);
  uint32_t FindFree(uint32_t from);
  bool FindRun(uint32_t count, uint32_t& start);
  bool FreeChain(const Entry& e);

  // Directories.
  // `self`: the folder's own entry (exFAT folders may be contiguous without a FAT chain).
  Dir* LoadDir(uint32_t first, bool isRoot, uint32_t parentFirst, size_t parentSlot,
               const Entry* self = nullptr);
  Dir* Root() { return LoadDir(rootCluster_, true, 0, 0); }
  bool ParseDir(Dir& d);
  bool ParseFat32Dir(Dir& d);
  bool ParseExfatDir(Dir& d);
  Dir* WalkDirs(const std::vector<std::string>& parts, size_t count);
  Entry* Find(Dir& d, const std::u16string& name);
  std::u16string Upper(const std::u16string& s) const {
    std::u16string r = s;
    for (auto& c : r) c = upcase_.empty() ? UpCase(c) : upcase_[c];
    return r;
  }
  bool ExtendDir(Dir& d);
  bool FindFreeSlots(Dir& d, size_t n, size_t& slot);
  // Adds an entry set; returns the new entry's index in d.entries.
  bool AddEntry(Dir& d, const std::u16string& name, uint8_t attr, uint32_t first, uint64_t size,
                bool noFatChain, size_t& index);
  void DeleteEntry(Dir& d, const Entry& e);
  void UpdateEntry(Dir& d, Entry& e);
  void ExfatSetChecksum(Dir& d, size_t slot, size_t nslots) {
    Put16(d.Slot(slot) + 2, EntrySetChecksum(d.Slot(slot), nslots));
  }
  bool MakeShortName(Dir& d, const std::u16string& name, uint8_t out[11], bool& needLong,
                     uint8_t& caseBits);
  bool WriteDir(Dir& d);

  BlockDevice& dev_;
  bool exfat_ = false;
  uint32_t S_ = 512;
  uint32_t clusterBytes_ = 0;
  uint64_t fatOffset_ = 0;  // bytes
  uint64_t fatBytes_ = 0;
  uint32_t numFats_ = 1;
  uint32_t activeFat_ = 0;
  uint64_t heapOffset_ = 0;  // bytes, cluster 2
  uint32_t clusterCount_ = 0;
  uint32_t rootCluster_ = 0;
  uint64_t fsInfoSector_ = 0;
  uint64_t backupBoot_ = 0;
  uint64_t freeCount_ = 0;
  uint32_t nextFree_ = 2;
  bool ioError_ = false;
  bool opened_ = false;
  bool stateDirty_ = false;
  std::string label_;
  std::vector<char16_t> upcase_;  // exFAT: the volume's table

  struct Chunk {
    std::vector<uint32_t> v;
    bool dirty = false;
  };
  std::unordered_map<size_t, Chunk> fat_;
  std::vector<uint8_t> bitmap_;
  uint32_t bitmapCluster_ = 0;
  size_t bitmapDirtyLo_ = SIZE_MAX, bitmapDirtyHi_ = 0;
  std::unordered_map<uint32_t, std::unique_ptr<Dir>> dirs_;
};

// ---------------------------------------------------------------- opening

OpenError Engine::Open() {
  const uint32_t devS = dev_.SectorSize();
  if (devS < 512 || dev_.SizeBytes() < 512) return OpenError::NoFileSystem;
  std::vector<uint8_t> b(devS < 4096 ? 4096 : devS, 0);
  if (!ReadBytes(0, b.data(), devS)) return OpenError::IoError;
  if (b[510] != 0x55 || b[511] != 0xAA) return OpenError::NoFileSystem;
  if (std::memcmp(b.data() + 3, "EXFAT   ", 8) == 0) {
    const unsigned shift = b[108];
    if (shift < 9 || shift > 12) return OpenError::Damaged;
    const size_t S = size_t{1} << shift;
    if (dev_.SizeBytes() < 24 * S) return OpenError::Damaged;
    std::vector<uint8_t> region(12 * S);
    if (!ReadBytes(0, region.data(), region.size())) return OpenError::IoError;
    return ParseExfat(region.data(), region);
  }
  if (Get16(b.data() + 22) != 0 || Get16(b.data() + 17) != 0) return OpenError::NoFileSystem;
  return ParseFat32(b.data());
}

OpenError Engine::ParseFat32(const uint8_t* b) {
  const uint32_t bps = Get16(b + 11);
  const uint32_t spc = b[13];
  const uint32_t reserved = Get16(b + 14);
  const uint32_t nfats = b[16];
  const uint64_t total = Get16(b + 19) ? Get16(b + 19) : Get32(b + 32);
  const uint64_t fatsz = Get32(b + 36);
  if (bps < 512 || bps > 4096 || (bps & (bps - 1))) return OpenError::NoFileSystem;
  if (spc == 0 || (spc & (spc - 1)) || reserved == 0 || nfats == 0 || nfats > 2 || fatsz == 0)
    return OpenError::Damaged;
  if (total * bps > dev_.SizeBytes()) return OpenError::Damaged;
  const uint64_t dataStart = reserved + nfats * fatsz;
  if (dataStart >= total) return OpenError::Damaged;
  const uint64_t clusters = (total - dataStart) / spc;
  if (clusters == 0 || clusters > 0x0FFFFFF4 || fatsz * bps / 4 < clusters + 2)
    return OpenError::Damaged;
  S_ = bps;
  clusterBytes_ = bps * spc;
  fatOffset_ = uint64_t{reserved} * bps;
  fatBytes_ = fatsz * bps;
  numFats_ = nfats;
  heapOffset_ = dataStart * bps;
  clusterCount_ = static_cast<uint32_t>(clusters);
  rootCluster_ = Get32(b + 44);
  if (!ValidCluster(rootCluster_)) return OpenError::Damaged;
  fsInfoSector_ = Get16(b + 48);
  backupBoot_ = Get16(b + 50);
  if (fsInfoSector_ == 0 || fsInfoSector_ >= reserved) fsInfoSector_ = 0;
  if (backupBoot_ == 0 || backupBoot_ >= reserved) backupBoot_ = 0;
  // Free count: FSInfo when it is plausible, else counted.
  bool counted = false;
  if (fsInfoSector_) {
    std::vector<uint8_t> info(S_);
    if (!ReadBytes(fsInfoSector_ * S_, info.data(), S_)) return OpenError::IoError;
    if (Get32(info.data()) == 0x41615252 && Get32(info.data() + 484) == 0x61417272) {
      const uint32_t fc = Get32(info.data() + 488);
      const uint32_t nf = Get32(info.data() + 492);
      if (fc <= clusterCount_) {
        freeCount_ = fc;
        counted = true;
      }
      if (ValidCluster(nf)) nextFree_ = nf;
    }
  }
  if (!counted) {
    freeCount_ = 0;
    for (uint32_t c = 2; c < clusterCount_ + 2; ++c) {
      uint32_t v;
      if (!GetFat(c, v)) return OpenError::IoError;
      if (v == 0) ++freeCount_;
    }
  }
  Dir* root = Root();
  if (!root) return ioError_ ? OpenError::IoError : OpenError::Damaged;
  if (label_.empty()) {
    std::string l(reinterpret_cast<const char*>(b + 71), 11);
    while (!l.empty() && l.back() == ' ') l.pop_back();
    if (b[66] == 0x29 && l != "NO NAME") {
      std::u16string u;
      for (char c : l) u.push_back(static_cast<unsigned char>(c));
      label_ = Utf16ToUtf8(u);
    }
  }
  return OpenError::None;
}

OpenError Engine::ParseExfat(const uint8_t* b, const std::vector<uint8_t>& region) {
  for (int i = 11; i < 64; ++i)
    if (b[i] != 0) return OpenError::Damaged;
  const uint32_t S = 1u << b[108];
  const uint32_t spcShift = b[109];
  if (b[108] + spcShift > 25) return OpenError::Damaged;
  const uint32_t sum = ExfatBootChecksum(region.data(), 11 * S);
  for (uint32_t i = 0; i < S / 4; ++i)
    if (Get32(region.data() + 11 * S + 4 * i) != sum) return OpenError::Damaged;
  const uint64_t volLen = Get64(b + 72);
  const uint64_t fatOff = Get32(b + 80), fatLen = Get32(b + 84);
  const uint64_t heapOff = Get32(b + 88);
  const uint64_t clusters = Get32(b + 92);
  const uint32_t nfats = b[110];
  if (nfats < 1 || nfats > 2 || fatOff < 24 || fatLen == 0) return OpenError::Damaged;
  if (volLen > dev_.SizeBytes() / S) return OpenError::Damaged;
  if (fatOff + fatLen * nfats > heapOff || heapOff >= volLen) return OpenError::Damaged;
  if (clusters == 0 || clusters > 0xFFFFFFF5ull || fatLen * S / 4 < clusters + 2)
    return OpenError::Damaged;
  if (heapOff + (clusters << spcShift) > volLen) return OpenError::Damaged;
  exfat_ = true;
  S_ = S;
  clusterBytes_ = S << spcShift;
  activeFat_ = (Get16(b + 106) & 1) && nfats == 2 ? 1 : 0;
  fatOffset_ = (fatOff + activeFat_ * fatLen) * S;
  fatBytes_ = fatLen * S;
  numFats_ = 1;
  heapOffset_ = heapOff * S;
  clusterCount_ = static_cast<uint32_t>(clusters);
  rootCluster_ = Get32(b + 96);
  if (!ValidCluster(rootCluster_)) return OpenError::Damaged;
  Dir* root = Root();
  if (!root) return ioError_ ? OpenError::IoError : OpenError::Damaged;
  if (bitmap_.empty() || upcase_.empty()) return OpenError::Damaged;
  freeCount_ = 0;
  for (uint32_t c = 0; c < clusterCount_; ++c)
    if (!(bitmap_[c / 8] & (1u << (c % 8)))) ++freeCount_;
  return OpenError::None;
}

// ---------------------------------------------------------------- FAT and allocation

bool Engine::LoadChunk(size_t idx) {
  if (fat_.count(idx)) return true;
  Chunk ch;
  ch.v.assign(kFatChunkEntries, 0);
  const uint64_t off = uint64_t{idx} * kFatChunkEntries * 4;
  if (off < fatBytes_) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kFatChunkEntries * 4, fatBytes_ - off));
    std::vector<uint8_t> raw(n);
    if (!ReadBytes(fatOffset_ + off, raw.data(), n)) return false;
    for (size_t i = 0; i < n / 4; ++i) ch.v[i] = Get32(raw.data() + 4 * i);
  }
  fat_.emplace(idx, std::move(ch));
  return true;
}

bool Engine::GetFat(uint32_t c, uint32_t& value) {
  if (!LoadChunk(c / kFatChunkEntries)) return false;
  value = fat_[c / kFatChunkEntries].v[c % kFatChunkEntries];
  if (!exfat_) value &= 0x0FFFFFFF;
  return true;
}

bool Engine::SetFat(uint32_t c, uint32_t value) {
  if (!ValidCluster(c) || !LoadChunk(c / kFatChunkEntries)) return false;
  Chunk& ch = fat_[c / kFatChunkEntries];
  uint32_t& slot = ch.v[c % kFatChunkEntries];
  slot = exfat_ ? value : ((slot & 0xF0000000) | (value & 0x0FFFFFFF));
  ch.dirty = true;
  return true;
}

bool Engine::Chain(uint32_t first, uint64_t maxClusters, std::vector<uint32_t>& out) {
  out.clear();
  uint32_t c = first;
  while (true) {
    if (!ValidCluster(c) || out.size() >= maxClusters) return false;
    out.push_back(c);
    uint32_t next;
    if (!GetFat(c, next)) return false;
    if (IsEoc(next)) return true;
    c = next;
  }
}

bool Engine::FileClusters(const Entry& e, std::vector<uint32_t>& out) {
  out.clear();
  // Rounded up without the sum that would wrap for a damaged size near 2^64.
  const uint64_t need = e.size / clusterBytes_ + (e.size % clusterBytes_ != 0);
  if (need == 0) return true;
  if (need > clusterCount_) return false;
  if (e.noFatChain) {
    if (!ValidCluster(e.first) || !ValidCluster(uint64_t{e.first} + need - 1)) return false;
    for (uint64_t i = 0; i < need; ++i) out.push_back(static_cast<uint32_t>(e.first + i));
    return true;
  }
  if (!Chain(e.first, need, out)) return false;
  return out.size() == need;
}

bool Engine::IsFree(uint32_t c) {
  if (exfat_) return !(bitmap_[(c - 2) / 8] & (1u << ((c - 2) % 8)));
  uint32_t v;
  return GetFat(c, v) && v == 0;
}

bool Engine::MarkUsed(uint32_t c) {
  if (exfat_) {
    const size_t i = (c - 2) / 8;
    bitmap_[i] |= static_cast<uint8_t>(1u << ((c - 2) % 8));
    bitmapDirtyLo_ = std::min(bitmapDirtyLo_, i);
    bitmapDirtyHi_ = std::max(bitmapDirtyHi_, i + 1);
  } else if (!SetFat(c, kFat32Eoc)) {
    return false;
  }
  if (freeCount_) --freeCount_;
  nextFree_ = c + 1 < clusterCount_ + 2 ? c + 1 : 2;
  stateDirty_ = true;
  return true;
}

bool Engine::MarkFree(uint32_t c) {
  if (exfat_) {
    const size_t i = (c - 2) / 8;
    bitmap_[i] &= static_cast<uint8_t>(~(1u << ((c - 2) % 8)));
    bitmapDirtyLo_ = std::min(bitmapDirtyLo_, i);
    bitmapDirtyHi_ = std::max(bitmapDirtyHi_, i + 1);
  } else if (!SetFat(c, 0)) {
    return false;
  }
  ++freeCount_;
  stateDirty_ = true;
  return true;
}

uint32_t Engine::FindFree(uint32_t from) {
  if (freeCount_ == 0) return 0;
  if (!ValidCluster(from)) from = 2;
  const uint64_t end = uint64_t{clusterCount_} + 2;
  for (int pass = 0; pass < 2; ++pass) {
    const uint64_t lo = pass == 0 ? from : 2;
    const uint64_t hi = pass == 0 ? end : from;
    for (uint64_t c = lo; c < hi; ++c) {
      if (exfat_ && ((c - 2) % 8) == 0 && bitmap_[(c - 2) / 8] == 0xFF && c + 8 <= hi) {
        c += 7;
        continue;
      }
      if (IsFree(static_cast<uint32_t>(c))) return static_cast<uint32_t>(c);
      if (ioError_) return 0;
    }
  }
  return 0;
}

bool Engine::FindRun(uint32_t count, uint32_t& start) {
  if (count == 0 || count > freeCount_) return false;
  uint64_t runStart = 0, runLen = 0;
  const uint64_t end = uint64_t{clusterCount_} + 2;
  for (uint64_t c = std::max<uint32_t>(2, nextFree_); c < end; ++c) {
    if (IsFree(static_cast<uint32_t>(c))) {
      if (runLen == 0) runStart = c;
      if (++runLen == count) {
        start = static_cast<uint32_t>(runStart);
        return true;
      }
    } else {
      runLen = 0;
    }
  }
  return false;
}

bool Engine::FreeChain(const Entry& e) {
  if (e.first == 0) return true;
  std::vector<uint32_t> cl;
  if (e.noFatChain) {
    if (!FileClusters(e, cl)) return false;
  } else {
    // Free whatever the chain holds, even beyond the size.
    if (!Chain(e.first, clusterCount_, cl)) return false;
  }
  for (uint32_t c : cl) {
    if (exfat_ && !e.noFatChain) SetFat(c, 0);
    if (!MarkFree(c)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- directories

Dir* Engine::LoadDir(uint32_t first, bool isRoot, uint32_t parentFirst, size_t parentSlot,
                     const Entry* self) {
  auto it = dirs_.find(first);
  if (it != dirs_.end()) return it->second.get();
  auto d = std::make_unique<Dir>();
  d->first = first;
  d->isRoot = isRoot;
  d->parentFirst = parentFirst;
  d->parentSlot = parentSlot;
  const uint64_t maxBytes = exfat_ ? 256ull * 1024 * 1024 : 2ull * 1024 * 1024;
  if (self && self->noFatChain) {
    if (self->size == 0 || self->size > maxBytes || !FileClusters(*self, d->clusters))
      return nullptr;
    d->noFatChain = true;
  } else if (!Chain(first, std::max<uint64_t>(1, maxBytes / clusterBytes_), d->clusters)) {
    return nullptr;
  }
  d->data.assign(d->clusters.size() * clusterBytes_, 0);
  d->dirty.assign(d->clusters.size(), false);
  // Read runs of consecutive clusters at once.
  for (size_t i = 0; i < d->clusters.size();) {
    size_t j = i + 1;
    while (j < d->clusters.size() && d->clusters[j] == d->clusters[j - 1] + 1) ++j;
    if (!ReadBytes(ClusterOffset(d->clusters[i]), d->data.data() + i * clusterBytes_,
                   (j - i) * clusterBytes_)) {
      ioError_ = true;
      return nullptr;
    }
    i = j;
  }
  if (!ParseDir(*d)) return nullptr;
  Dir* raw = d.get();
  dirs_.emplace(first, std::move(d));
  return raw;
}

bool Engine::ParseDir(Dir& d) {
  d.entries.clear();
  d.shortNames.clear();
  return exfat_ ? ParseExfatDir(d) : ParseFat32Dir(d);
}

bool Engine::ParseFat32Dir(Dir& d) {
  std::u16string lfn;
  int lfnCount = 0, lfnNext = 0;
  uint8_t lfnSum = 0;
  size_t lfnStart = 0;
  for (size_t i = 0; i < d.Slots(); ++i) {
    const uint8_t* e = d.Slot(i);
    if (e[0] == 0) break;
    if (e[0] == 0xE5) {
      lfnCount = 0;
      continue;
    }
    const uint8_t attr = e[11];
    if ((attr & 0x3F) == kAttrLongName) {
      const int ord = e[0] & 0x1F;
      if (e[0] & 0x40) {
        if (ord == 0 || ord > 20) {
          lfnCount = 0;
          continue;
        }
        lfnCount = ord;
        lfnNext = ord;
        lfnSum = e[13];
        lfnStart = i;
        lfn.assign(static_cast<size_t>(ord) * 13, u'\0');
      }
      if (lfnCount == 0 || ord != lfnNext || e[13] != lfnSum) {
        lfnCount = 0;
        continue;
      }
      static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
      for (int k = 0; k < 13; ++k) lfn[(ord - 1) * 13 + k] = Get16(e + kOffsets[k]);
      --lfnNext;
      continue;
    }
    if (attr & kAttrVolumeId) {
      if (d.isRoot && !(attr & kAttrDirectory)) {
        std::string l(reinterpret_cast<const char*>(e), 11);
        while (!l.empty() && l.back() == ' ') l.pop_back();
        std::u16string u;
        for (char c : l) u.push_back(static_cast<unsigned char>(c));
        label_ = Utf16ToUtf8(u);
        d.labelSlot = i;
      }
      lfnCount = 0;
      continue;
    }
    Entry en;
    en.shortName.assign(reinterpret_cast<const char*>(e), 11);
    if (en.shortName[0] == 0x05) en.shortName[0] = static_cast<char>(0xE5);
    d.shortNames.insert(en.shortName);
    if (e[0] == '.') {
      lfnCount = 0;
      continue;
    }
    if (lfnCount > 0 && lfnNext == 0 && ShortNameChecksum(e) == lfnSum) {
      const size_t end = lfn.find(u'\0');
      en.name = lfn.substr(0, end);
      en.slot = lfnStart;
      en.nslots = i - lfnStart + 1;
    } else {
      std::u16string base, ext;
      for (int k = 0; k < 8; ++k) base.push_back(static_cast<unsigned char>(en.shortName[k]));
      for (int k = 8; k < 11; ++k) ext.push_back(static_cast<unsigned char>(en.shortName[k]));
      while (!base.empty() && base.back() == u' ') base.pop_back();
      while (!ext.empty() && ext.back() == u' ') ext.pop_back();
      auto lower = [](std::u16string& s) {
        for (auto& c : s)
          if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
      };
      if (e[12] & 0x08) lower(base);
      if (e[12] & 0x10) lower(ext);
      en.name = ext.empty() ? base : base + u"." + ext;
      en.slot = i;
      en.nslots = 1;
    }
    lfnCount = 0;
    en.attr = attr;
    en.first = (uint32_t{Get16(e + 20)} << 16) | Get16(e + 26);
    en.size = en.validSize = Get32(e + 28);
    if (en.first != 0 && !ValidCluster(en.first)) return false;  // points outside the volume
    d.entries.push_back(std::move(en));
  }
  return true;
}

bool Engine::ParseExfatDir(Dir& d) {
  for (size_t i = 0; i < d.Slots(); ++i) {
    const uint8_t* e = d.Slot(i);
    const uint8_t t = e[0];
    if (t == 0) break;
    if (!(t & 0x80)) continue;
    if (d.isRoot && t == 0x81 && bitmap_.empty()) {
      bitmapCluster_ = Get32(e + 20);
      const uint64_t len = Get64(e + 24);
      if (len < (uint64_t{clusterCount_} + 7) / 8 || !ValidCluster(bitmapCluster_)) return false;
      Entry be;
      be.first = bitmapCluster_;
      be.size = len;
      std::vector<uint32_t> cl;
      if (!FileClusters(be, cl)) return false;
      bitmap_.assign(static_cast<size_t>((uint64_t{clusterCount_} + 7) / 8), 0);
      std::vector<uint8_t> raw(cl.size() * clusterBytes_);
      for (size_t k = 0; k < cl.size(); ++k)
        if (!ReadBytes(ClusterOffset(cl[k]), raw.data() + k * clusterBytes_, clusterBytes_))
          return false;
      std::memcpy(bitmap_.data(), raw.data(), bitmap_.size());
      if (bitmapCluster_ != cl.front()) return false;
      continue;
    }
    if (d.isRoot && t == 0x82 && upcase_.empty()) {
      Entry ue;
      ue.first = Get32(e + 20);
      ue.size = Get64(e + 24);
      if (ue.size == 0 || ue.size > 128 * 1024 || !ValidCluster(ue.first)) return false;
      std::vector<uint32_t> cl;
      if (!FileClusters(ue, cl)) return false;
      std::vector<uint8_t> raw(cl.size() * clusterBytes_);
      for (size_t k = 0; k < cl.size(); ++k)
        if (!ReadBytes(ClusterOffset(cl[k]), raw.data() + k * clusterBytes_, clusterBytes_))
          return false;
      if (TableChecksum(raw.data(), ue.size) != Get32(e + 4)) return false;
      if (!ExpandUpCaseTable(raw.data(), ue.size, upcase_)) return false;
      continue;
    }
    if (d.isRoot && t == 0x83) {
      const size_t n = std::min<size_t>(e[1], 11);
      std::u16string l;
      for (size_t k = 0; k < n; ++k) l.push_back(Get16(e + 2 + 2 * k));
      label_ = Utf16ToUtf8(l);
      d.labelSlot = i;
      continue;
    }
    if (t != 0x85) continue;
    const size_t sc = e[1];
    if (sc < 2 || i + sc >= d.Slots()) return false;
    const uint8_t* s = d.Slot(i + 1);
    if (s[0] != 0xC0) return false;
    const size_t nameLen = s[3];
    if (nameLen == 0 || (nameLen + 14) / 15 > sc - 1) return false;
    if (EntrySetChecksum(e, sc + 1) != Get16(e + 2)) return false;
    Entry en;
    for (size_t k = 0; k < nameLen; ++k) {
      const uint8_t* ne = d.Slot(i + 2 + k / 15);
      if (ne[0] != 0xC1) return false;
      en.name.push_back(Get16(ne + 2 + 2 * (k % 15)));
    }
    en.attr = Get16(e + 4);
    en.noFatChain = (s[1] & 0x02) != 0;
    en.first = Get32(s + 20);
    en.size = Get64(s + 24);
    en.validSize = std::min(Get64(s + 8), en.size);
    en.slot = i;
    en.nslots = sc + 1;
    if (en.first != 0 && !ValidCluster(en.first)) return false;
    if (en.first == 0 && en.size != 0) return false;
    d.entries.push_back(std::move(en));
    i += sc;
  }
  return true;
}

Entry* Engine::Find(Dir& d, const std::u16string& name) {
  const std::u16string up = Upper(name);
  for (auto& e : d.entries)
    if (e.name.size() == up.size() && Upper(e.name) == up) return &e;
  return nullptr;
}

Dir* Engine::WalkDirs(const std::vector<std::string>& parts, size_t count) {
  Dir* d = Root();
  for (size_t i = 0; d && i < count; ++i) {
    std::u16string n;
    if (!Utf8ToUtf16(parts[i], n)) return nullptr;
    Entry* e = Find(*d, n);
    if (!e || !(e->attr & kAttrDirectory) || e->first == 0) return nullptr;
    d = LoadDir(e->first, false, d->first, e->slot, e);
  }
  return d;
}

bool Engine::ExtendDir(Dir& d) {
  const uint64_t maxBytes = exfat_ ? 256ull * 1024 * 1024 : 2ull * 1024 * 1024;
  if (d.data.size() + clusterBytes_ > maxBytes) return false;
  const uint32_t c = FindFree(d.clusters.back() + 1);
  if (c == 0 || !MarkUsed(c)) return false;
  if (d.noFatChain) {
    // The folder gets a FAT chain from now on.
    for (size_t i = 0; i + 1 < d.clusters.size(); ++i) SetFat(d.clusters[i], d.clusters[i + 1]);
    d.noFatChain = false;
  }
  if (exfat_) SetFat(c, kExfatEoc);
  if (!SetFat(d.clusters.back(), c)) return false;
  d.clusters.push_back(c);
  d.data.resize(d.data.size() + clusterBytes_, 0);
  d.dirty.push_back(true);
  if (exfat_ && !d.isRoot) {
    Dir* parent = dirs_.count(d.parentFirst) ? dirs_[d.parentFirst].get() : nullptr;
    if (!parent) return false;
    for (auto& e : parent->entries) {
      if (e.slot == d.parentSlot) {
        e.size = e.validSize = d.data.size();
        e.noFatChain = false;
        UpdateEntry(*parent, e);
        break;
      }
    }
  }
  return true;
}

bool Engine::FindFreeSlots(Dir& d, size_t n, size_t& slot) {
  while (true) {
    size_t run = 0;
    bool atEnd = false;
    for (size_t i = 0; i < d.Slots(); ++i) {
      const uint8_t t = d.Slot(i)[0];
      const bool free = atEnd || (exfat_ ? !(t & 0x80) : (t == 0 || t == 0xE5));
      if (t == 0) atEnd = true;
      if (free) {
        if (++run == n) {
          slot = i + 1 - n;
          return true;
        }
      } else {
        run = 0;
      }
    }
    if (!ExtendDir(d)) return false;
  }
}

bool Engine::MakeShortName(Dir& d, const std::u16string& name, uint8_t out[11], bool& needLong,
                           uint8_t& caseBits) {
  caseBits = 0;
  needLong = true;
  // A plain 8.3 name (one case per part) needs no long name.
  const size_t dot = name.rfind(u'.');
  const std::u16string base = dot == std::u16string::npos ? name : name.substr(0, dot);
  const std::u16string ext = dot == std::u16string::npos ? u"" : name.substr(dot + 1);
  auto partCase = [](const std::u16string& s, uint8_t lowerBit, uint8_t& bits) {
    bool hasUpper = false, hasLower = false;
    for (char16_t c : s) {
      char16_t u = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
      if (!IsShortNameChar(u)) return false;
      if (c >= u'a' && c <= u'z') hasLower = true;
      if (c >= u'A' && c <= u'Z') hasUpper = true;
    }
    if (hasUpper && hasLower) return false;
    if (hasLower) bits |= lowerBit;
    return true;
  };
  std::memset(out, ' ', 11);
  if (!base.empty() && base.size() <= 8 && ext.size() <= 3 &&
      (dot == std::u16string::npos || !ext.empty()) && partCase(base, 0x08, caseBits) &&
      partCase(ext, 0x10, caseBits)) {
    for (size_t i = 0; i < base.size(); ++i) out[i] = static_cast<uint8_t>(UpCase(base[i]));
    for (size_t i = 0; i < ext.size(); ++i) out[8 + i] = static_cast<uint8_t>(UpCase(ext[i]));
    if (!d.shortNames.count(std::string(reinterpret_cast<char*>(out), 11))) {
      needLong = false;
      return true;
    }
  }
  caseBits = 0;
  // Alias: the basis name with a numeric tail that no other entry of the folder uses.
  auto basis = [](const std::u16string& s, size_t max) {
    std::string r;
    for (char16_t c : s) {
      if (c == u' ' || c == u'.') continue;
      char16_t u = UpCase(c);
      r.push_back(u < 0x80 && IsShortNameChar(u) ? static_cast<char>(u) : '_');
      if (r.size() == max) break;
    }
    return r;
  };
  size_t start = 0;
  while (start < name.size() && name[start] == u'.') ++start;
  const std::u16string stripped = name.substr(start);
  const size_t d2 = stripped.rfind(u'.');
  std::string b = basis(d2 == std::u16string::npos ? stripped : stripped.substr(0, d2), 8);
  std::string x = d2 == std::u16string::npos ? "" : basis(stripped.substr(d2 + 1), 3);
  if (b.empty()) b = "_";
  for (uint32_t n = 1; n < 1000000; ++n) {
    const std::string tail = "~" + std::to_string(n);
    std::string cand = b.substr(0, std::min(b.size(), 8 - tail.size())) + tail;
    cand.resize(8, ' ');
    std::string xx = x;
    xx.resize(3, ' ');
    const std::string full = cand + xx;
    if (!d.shortNames.count(full)) {
      std::memcpy(out, full.data(), 11);
      return true;
    }
  }
  return false;
}

bool Engine::AddEntry(Dir& d, const std::u16string& name, uint8_t attr, uint32_t first,
                      uint64_t size, bool noFatChain, size_t& index) {
  if (!IsValidLongName(name)) return false;
  const uint32_t ts = DosTimestampNow();
  Entry en;
  en.name = name;
  en.attr = attr;
  en.first = first;
  en.size = en.validSize = size;
  en.noFatChain = noFatChain;
  if (exfat_) {
    const size_t nameEntries = (name.size() + 14) / 15;
    const size_t n = 2 + nameEntries;
    size_t slot;
    if (!FindFreeSlots(d, n, slot)) return false;
    std::memset(d.Slot(slot), 0, n * 32);
    uint8_t* f = d.Slot(slot);
    f[0] = 0x85;
    f[1] = static_cast<uint8_t>(n - 1);
    Put16(f + 4, attr);
    Put32(f + 8, ts);
    Put32(f + 12, ts);
    Put32(f + 16, ts);
    f[22] = f[23] = f[24] = 0x80;  // UTC
    uint8_t* s = d.Slot(slot + 1);
    s[0] = 0xC0;
    s[3] = static_cast<uint8_t>(name.size());
    const std::u16string up = Upper(name);
    uint16_t hash = 0;
    for (char16_t c : up) {
      hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + (c & 0xFF));
      hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + (c >> 8));
    }
    Put16(s + 4, hash);
    for (size_t k = 0; k < name.size(); ++k) {
      uint8_t* ne = d.Slot(slot + 2 + k / 15);
      ne[0] = 0xC1;
      Put16(ne + 2 + 2 * (k % 15), name[k]);
    }
    for (size_t k = 0; k < nameEntries; ++k) d.Slot(slot + 2 + k)[0] = 0xC1;
    en.slot = slot;
    en.nslots = n;
    d.entries.push_back(en);
    index = d.entries.size() - 1;
    UpdateEntry(d, d.entries.back());
    return true;
  }
  uint8_t sn[11];
  bool needLong;
  uint8_t caseBits;
  if (!MakeShortName(d, name, sn, needLong, caseBits)) return false;
  const size_t longEntries = needLong ? (name.size() + 12) / 13 : 0;
  const size_t n = longEntries + 1;
  size_t slot;
  if (!FindFreeSlots(d, n, slot)) return false;
  std::memset(d.Slot(slot), 0, n * 32);
  const uint8_t sum = ShortNameChecksum(sn);
  static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t j = 0; j < longEntries; ++j) {
    const size_t ord = longEntries - j;
    uint8_t* e = d.Slot(slot + j);
    e[0] = static_cast<uint8_t>(ord | (j == 0 ? 0x40 : 0));
    e[11] = kAttrLongName;
    e[13] = sum;
    for (int k = 0; k < 13; ++k) {
      const size_t ci = (ord - 1) * 13 + k;
      const uint16_t v = ci < name.size() ? name[ci] : (ci == name.size() ? 0 : 0xFFFF);
      Put16(e + kOffsets[k], v);
    }
  }
  uint8_t* e = d.Slot(slot + longEntries);
  std::memcpy(e, sn, 11);
  if (e[0] == 0xE5) e[0] = 0x05;
  e[12] = caseBits;
  Put16(e + 14, static_cast<uint16_t>(ts));
  Put16(e + 16, static_cast<uint16_t>(ts >> 16));
  Put16(e + 18, static_cast<uint16_t>(ts >> 16));
  en.shortName.assign(reinterpret_cast<const char*>(sn), 11);
  en.slot = slot;
  en.nslots = n;
  d.shortNames.insert(en.shortName);
  d.entries.push_back(en);
  index = d.entries.size() - 1;
  UpdateEntry(d, d.entries.back());
  return true;
}

void Engine::UpdateEntry(Dir& d, Entry& en) {
  const uint32_t ts = DosTimestampNow();
  if (exfat_) {
    uint8_t* f = d.Slot(en.slot);
    Put16(f + 4, en.attr);
    Put32(f + 12, ts);
    uint8_t* s = d.Slot(en.slot + 1);
    s[1] = static_cast<uint8_t>(0x01 | (en.noFatChain ? 0x02 : 0));
    Put64(s + 8, en.validSize);
    Put32(s + 20, en.first);
    Put64(s + 24, en.size);
    ExfatSetChecksum(d, en.slot, en.nslots);
  } else {
    uint8_t* e = d.Slot(en.slot + en.nslots - 1);
    e[11] = static_cast<uint8_t>(en.attr);
    Put16(e + 20, static_cast<uint16_t>(en.first >> 16));
    Put16(e + 26, static_cast<uint16_t>(en.first));
    Put16(e + 22, static_cast<uint16_t>(ts));
    Put16(e + 24, static_cast<uint16_t>(ts >> 16));
    Put32(e + 28, (en.attr & kAttrDirectory) ? 0 : static_cast<uint32_t>(en.size));
  }
  d.MarkDirty(en.slot, en.nslots, clusterBytes_);
}

void Engine::DeleteEntry(Dir& d, const Entry& en) {
  for (size_t i = en.slot; i < en.slot + en.nslots; ++i) {
    uint8_t* e = d.Slot(i);
    if (exfat_)
      e[0] &= 0x7F;
    else
      e[0] = 0xE5;
  }
  d.MarkDirty(en.slot, en.nslots, clusterBytes_);
  if (!exfat_) d.shortNames.erase(en.shortName);
  const size_t slot = en.slot;
  d.entries.erase(std::remove_if(d.entries.begin(), d.entries.end(),
                                 [slot](const Entry& x) { return x.slot == slot; }),
                  d.entries.end());
}

bool Engine::WriteDir(Dir& d) {
  for (size_t i = 0; i < d.clusters.size(); ++i) {
    if (!d.dirty[i]) continue;
    if (!WriteBytes(ClusterOffset(d.clusters[i]), d.data.data() + i * clusterBytes_, clusterBytes_))
      return false;
    d.dirty[i] = false;
  }
  return true;
}

// ---------------------------------------------------------------- operations

bool Engine::MakeDirectories(const std::string& path) {
  if (ioError_) return false;
  const auto parts = SplitPath(path);
  Dir* d = Root();
  for (size_t i = 0; d && i < parts.size(); ++i) {
    std::u16string n;
    if (!Utf8ToUtf16(parts[i], n)) return false;
    Entry* e = Find(*d, n);
    if (e) {
      if (!(e->attr & kAttrDirectory) || e->first == 0) return false;
      d = LoadDir(e->first, false, d->first, e->slot, e);
      continue;
    }
    if (!IsValidLongName(n)) return false;
    const uint32_t c = FindFree(nextFree_);
    if (c == 0 || !MarkUsed(c)) return false;
    if (exfat_) SetFat(c, kExfatEoc);
    // Zero the new folder's cluster, with "." and ".." on FAT32.
    std::vector<uint8_t> buf(std::max<uint32_t>(clusterBytes_, 512), 0);
    if (!exfat_) {
      uint8_t* dot = buf.data();
      std::memset(dot, ' ', 11);
      dot[0] = '.';
      dot[11] = kAttrDirectory;
      Put16(dot + 20, static_cast<uint16_t>(c >> 16));
      Put16(dot + 26, static_cast<uint16_t>(c));
      uint8_t* dotdot = buf.data() + 32;
      std::memset(dotdot, ' ', 11);
      dotdot[0] = dotdot[1] = '.';
      dotdot[11] = kAttrDirectory;
      const uint32_t parent = d->isRoot ? 0 : d->first;
      Put16(dotdot + 20, static_cast<uint16_t>(parent >> 16));
      Put16(dotdot + 26, static_cast<uint16_t>(parent));
      const uint32_t ts = DosTimestampNow();
      for (uint8_t* x : {dot, dotdot}) {
        Put16(x + 14, static_cast<uint16_t>(ts));
        Put16(x + 16, static_cast<uint16_t>(ts >> 16));
        Put16(x + 22, static_cast<uint16_t>(ts));
        Put16(x + 24, static_cast<uint16_t>(ts >> 16));
      }
    }
    if (!WriteBytes(ClusterOffset(c), buf.data(), clusterBytes_)) return false;
    size_t idx;
    if (!AddEntry(*d, n, kAttrDirectory, c, exfat_ ? clusterBytes_ : 0, false, idx)) {
      if (exfat_) SetFat(c, 0);
      MarkFree(c);
      return false;
    }
    const size_t slot = d->entries[idx].slot;
    d = LoadDir(c, false, d->first, slot);
  }
  return d != nullptr;
}

std::unique_ptr<VolumeFileWriter> Engine::CreateFile(const std::string& path, uint64_t sizeHint) {
  if (ioError_) return nullptr;
  const auto parts = SplitPath(path);
  if (parts.empty()) return nullptr;
  Dir* d = WalkDirs(parts, parts.size() - 1);
  if (!d) return nullptr;
  std::u16string n;
  if (!Utf8ToUtf16(parts.back(), n) || !IsValidLongName(n)) return nullptr;
  if (Entry* old = Find(*d, n)) {
    if (old->attr & kAttrDirectory) return nullptr;
    n = old->name;  // keep the stored spelling
    const Entry copy = *old;
    if (!FreeChain(copy)) return nullptr;
    DeleteEntry(*d, copy);
  }
  size_t idx;
  if (!AddEntry(*d, n, kAttrArchive, 0, 0, false, idx)) return nullptr;
  return std::make_unique<FileWriter>(*this, d->first, d->entries[idx].slot, sizeHint);
}

bool Engine::SetHidden(const std::string& path, bool hidden) {
  const auto parts = SplitPath(path);
  if (parts.empty()) return false;
  Dir* d = WalkDirs(parts, parts.size() - 1);
  std::u16string n;
  if (!d || !Utf8ToUtf16(parts.back(), n)) return false;
  Entry* e = Find(*d, n);
  if (!e) return false;
  e->attr = static_cast<uint16_t>(hidden ? (e->attr | kAttrHidden) : (e->attr & ~kAttrHidden));
  // Keep the entry's time stamp and size as they are: patch only the attribute.
  if (exfat_) {
    Put16(d->Slot(e->slot) + 4, e->attr);
    ExfatSetChecksum(*d, e->slot, e->nslots);
  } else {
    d->Slot(e->slot + e->nslots - 1)[11] = static_cast<uint8_t>(e->attr);
  }
  d->MarkDirty(e->slot, e->nslots, clusterBytes_);
  return true;
}

bool Engine::Exists(const std::string& path) {
  const auto parts = SplitPath(path);
  if (parts.empty()) return true;
  Dir* d = WalkDirs(parts, parts.size() - 1);
  std::u16string n;
  return d && Utf8ToUtf16(parts.back(), n) && Find(*d, n) != nullptr;
}

bool Engine::ReadFile(const std::string& path, std::string& contents) {
  contents.clear();
  const auto parts = SplitPath(path);
  if (parts.empty()) return false;
  Dir* d = WalkDirs(parts, parts.size() - 1);
  std::u16string n;
  if (!d || !Utf8ToUtf16(parts.back(), n)) return false;
  const Entry* e = Find(*d, n);
  if (!e || (e->attr & kAttrDirectory)) return false;
  std::vector<uint32_t> cl;
  if (!FileClusters(*e, cl)) return false;
  contents.resize(static_cast<size_t>(e->size));
  const size_t valid = static_cast<size_t>(e->validSize);
  for (size_t i = 0; i < cl.size();) {
    size_t j = i + 1;
    while (j < cl.size() && cl[j] == cl[j - 1] + 1 && (j - i) * clusterBytes_ < 8 * kWriteBatch)
      ++j;
    const size_t from = i * clusterBytes_;
    if (from >= valid) break;
    const size_t len = std::min<size_t>((j - i) * clusterBytes_, valid - from);
    if (!ReadBytes(ClusterOffset(cl[i]), contents.data() + from, len)) {
      contents.clear();
      return false;
    }
    i = j;
  }
  return true;
}

bool Engine::ListDirectory(const std::string& path, std::vector<VolumeEntry>& entries) {
  entries.clear();
  const auto parts = SplitPath(path);
  Dir* d = WalkDirs(parts, parts.size());
  if (!d) return false;
  for (const auto& e : d->entries) {
    VolumeEntry v;
    v.name = Utf16ToUtf8(e.name);
    v.isDirectory = (e.attr & kAttrDirectory) != 0;
    v.hidden = (e.attr & kAttrHidden) != 0;
    v.size = v.isDirectory ? 0 : e.size;
    entries.push_back(std::move(v));
  }
  return true;
}

bool Engine::SetLabel(const std::string& label) {
  Dir* root = Root();
  if (!root) return false;
  if (exfat_) {
    std::u16string l;
    if (!Utf8ToUtf16(label, l) || l.size() > 11) return false;
    for (char16_t c : l)
      if (c < 0x20 || std::u16string_view(u"*?/\\|<>\":").find(c) != std::u16string_view::npos)
        return false;
    size_t slot = root->labelSlot;
    if (slot == SIZE_MAX) {
      if (l.empty()) return true;
      if (!FindFreeSlots(*root, 1, slot)) return false;
      root->labelSlot = slot;
    }
    uint8_t* e = root->Slot(slot);
    std::memset(e, 0, 32);
    e[0] = l.empty() ? 0x03 : 0x83;
    e[1] = static_cast<uint8_t>(l.size());
    for (size_t k = 0; k < l.size(); ++k) Put16(e + 2 + 2 * k, l[k]);
    root->MarkDirty(slot, 1, clusterBytes_);
    label_ = label;
    return true;
  }
  std::string l;
  for (char ch : label) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F ||
        std::string_view("*?.,;:/\\|+=<>[]\"").find(ch) != std::string_view::npos)
      return false;
    l.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
  }
  if (l.size() > 11) return false;
  while (!l.empty() && l.back() == ' ') l.pop_back();
  std::string padded = l.empty() ? "NO NAME" : l;
  padded.resize(11, ' ');
  std::vector<uint8_t> sec(S_);
  std::vector<uint64_t> bootSectors = {0};
  if (backupBoot_) bootSectors.push_back(backupBoot_);
  for (uint64_t s : bootSectors) {
    if (!ReadBytes(s * S_, sec.data(), S_)) return false;
    std::memcpy(sec.data() + 71, padded.data(), 11);
    if (!WriteBytes(s * S_, sec.data(), S_)) return false;
  }
  size_t slot = root->labelSlot;
  if (l.empty()) {
    if (slot != SIZE_MAX) {
      root->Slot(slot)[0] = 0xE5;
      root->MarkDirty(slot, 1, clusterBytes_);
      root->labelSlot = SIZE_MAX;
    }
  } else {
    if (slot == SIZE_MAX) {
      if (!FindFreeSlots(*root, 1, slot)) return false;
      root->labelSlot = slot;
    }
    uint8_t* e = root->Slot(slot);
    std::memset(e, 0, 32);
    std::string name = l;
    name.resize(11, ' ');
    std::memcpy(e, name.data(), 11);
    e[11] = kAttrVolumeId;
    const uint32_t ts = DosTimestampNow();
    Put16(e + 22, static_cast<uint16_t>(ts));
    Put16(e + 24, static_cast<uint16_t>(ts >> 16));
    root->MarkDirty(slot, 1, clusterBytes_);
  }
  label_ = l;
  return true;
}

bool Engine::Flush() {
  if (ioError_) return false;
  // Data first (written by the writers), then the allocation state, then the folders.
  for (auto& [idx, ch] : fat_) {
    if (!ch.dirty) continue;
    const uint64_t off = uint64_t{idx} * kFatChunkEntries * 4;
    if (off >= fatBytes_) continue;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kFatChunkEntries * 4, fatBytes_ - off));
    std::vector<uint8_t> raw(n);
    for (size_t i = 0; i < n / 4; ++i) Put32(raw.data() + 4 * i, ch.v[i]);
    for (uint32_t f = 0; f < numFats_; ++f)
      if (!WriteBytes(fatOffset_ + f * fatBytes_ + off, raw.data(), n)) return false;
    ch.dirty = false;
  }
  if (exfat_ && bitmapDirtyLo_ < bitmapDirtyHi_) {
    const size_t lo = bitmapDirtyLo_ / clusterBytes_ * clusterBytes_;
    const size_t hi = std::min(bitmap_.size(), bitmapDirtyHi_);
    for (size_t pos = lo; pos < hi; pos += clusterBytes_) {
      const uint32_t c = bitmapCluster_ + static_cast<uint32_t>(pos / clusterBytes_);
      const size_t len = std::min<size_t>(clusterBytes_, bitmap_.size() - pos);
      if (!WriteBytes(ClusterOffset(c), bitmap_.data() + pos, len)) return false;
    }
    bitmapDirtyLo_ = SIZE_MAX;
    bitmapDirtyHi_ = 0;
  }
  for (auto& [first, d] : dirs_)
    if (!WriteDir(*d)) return false;
  if (stateDirty_) {
    std::vector<uint8_t> sec(S_);
    if (!exfat_ && fsInfoSector_) {
      for (uint64_t s : {fsInfoSector_, backupBoot_ ? backupBoot_ + fsInfoSector_ : 0}) {
        if (s == 0) continue;
        if (!ReadBytes(s * S_, sec.data(), S_)) return false;
        if (Get32(sec.data()) != 0x41615252) continue;
        Put32(sec.data() + 488, static_cast<uint32_t>(freeCount_));
        Put32(sec.data() + 492, nextFree_);
        if (!WriteBytes(s * S_, sec.data(), S_)) return false;
      }
    }
    if (exfat_) {
      // PercentInUse lies outside the boot checksum.
      const uint8_t pct = static_cast<uint8_t>((clusterCount_ - freeCount_) * 100 / clusterCount_);
      for (uint64_t s : {uint64_t{0}, uint64_t{12}}) {
        if (!ReadBytes(s * S_, sec.data(), S_)) return false;
        sec[112] = pct;
        if (!WriteBytes(s * S_, sec.data(), S_)) return false;
      }
    }
    stateDirty_ = false;
  }
  if (!dev_.Flush()) {
    ioError_ = true;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- file writer

FileWriter::FileWriter(Engine& engine, uint32_t dirFirst, size_t slot, uint64_t sizeHint)
    : e_(engine), dirFirst_(dirFirst), slot_(slot) {
  const uint64_t need = sizeHint / e_.clusterBytes_ + (sizeHint % e_.clusterBytes_ != 0);
  if (need > 1 && need <= 0xFFFFFFFFull) {
    uint32_t start;
    if (e_.FindRun(static_cast<uint32_t>(need), start)) {
      for (uint32_t i = 0; i < need; ++i) e_.MarkUsed(start + i);
      resNext_ = start;
      resLeft_ = static_cast<uint32_t>(need);
    }
  }
}

FileWriter::~FileWriter() {
  if (!closed_) Rollback();
}

void FileWriter::Rollback() {
  closed_ = true;
  for (uint32_t i = 0; i < resLeft_; ++i) e_.MarkFree(resNext_ + i);
  resLeft_ = 0;
  for (uint32_t c : clusters_) {
    if (e_.exfat_) e_.SetFat(c, 0);
    e_.MarkFree(c);
  }
  clusters_.clear();
  auto it = e_.dirs_.find(dirFirst_);
  if (it == e_.dirs_.end()) return;
  Dir& d = *it->second;
  for (auto& en : d.entries) {
    if (en.slot == slot_) {
      const Entry copy = en;
      e_.DeleteEntry(d, copy);
      break;
    }
  }
}

uint32_t FileWriter::NextCluster() {
  if (resLeft_) {
    --resLeft_;
    return resNext_++;
  }
  uint32_t c = 0;
  if (!clusters_.empty() && e_.ValidCluster(uint64_t{clusters_.back()} + 1) &&
      e_.IsFree(clusters_.back() + 1))
    c = clusters_.back() + 1;
  else
    c = e_.FindFree(e_.nextFree_);
  if (c == 0 || !e_.MarkUsed(c)) return 0;
  return c;
}

bool FileWriter::FlushPending(bool final) {
  const uint32_t cb = e_.clusterBytes_;
  size_t n = final ? (pending_.size() + cb - 1) / cb : pending_.size() / cb;
  if (n == 0) return true;
  const size_t first = clusters_.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = NextCluster();
    if (c == 0) return false;
    if (!e_.exfat_ && !clusters_.empty() && !e_.SetFat(clusters_.back(), c)) return false;
    clusters_.push_back(c);
  }
  const size_t bytes = n * cb;
  if (pending_.size() < bytes) pending_.resize(bytes, 0);
  for (size_t i = 0; i < n;) {
    size_t j = i + 1;
    while (j < n && clusters_[first + j] == clusters_[first + j - 1] + 1) ++j;
    if (!e_.WriteBytes(e_.ClusterOffset(clusters_[first + i]), pending_.data() + i * cb,
                       (j - i) * cb))
      return false;
    i = j;
  }
  pending_.erase(pending_.begin(),
                 pending_.begin() + static_cast<std::ptrdiff_t>(std::min(bytes, pending_.size())));
  return true;
}

bool FileWriter::Write(const void* data, size_t length) {
  if (failed_ || closed_) return false;
  if (!e_.exfat_ && size_ + length > 0xFFFFFFFFull) {
    failed_ = true;
    return false;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const size_t batch = std::max<size_t>(kWriteBatch, e_.clusterBytes_);
    const size_t room = pending_.size() < batch ? batch - pending_.size() : 0;
    const size_t n = std::min(room, length);
    pending_.insert(pending_.end(), p, p + n);
    p += n;
    length -= n;
    size_ += n;
    if (pending_.size() >= batch && !FlushPending(false)) {
      failed_ = true;
      return false;
    }
  }
  return true;
}

bool FileWriter::Close() {
  if (closed_) return false;
  if (failed_ || !FlushPending(true)) {
    Rollback();
    return false;
  }
  for (uint32_t i = 0; i < resLeft_; ++i) e_.MarkFree(resNext_ + i);
  resLeft_ = 0;
  bool contiguous = true;
  for (size_t i = 1; i < clusters_.size(); ++i)
    if (clusters_[i] != clusters_[i - 1] + 1) contiguous = false;
  if (e_.exfat_ && !contiguous) {
    for (size_t i = 0; i < clusters_.size(); ++i)
      e_.SetFat(clusters_[i], i + 1 < clusters_.size() ? clusters_[i + 1] : kExfatEoc);
  }
  auto it = e_.dirs_.find(dirFirst_);
  if (it == e_.dirs_.end()) {
    Rollback();
    return false;
  }
  Dir& d = *it->second;
  for (auto& en : d.entries) {
    if (en.slot != slot_) continue;
    en.first = clusters_.empty() ? 0 : clusters_.front();
    en.size = en.validSize = size_;
    en.noFatChain = e_.exfat_ && contiguous && !clusters_.empty();
    e_.UpdateEntry(d, en);
    closed_ = true;
    return true;
  }
  Rollback();
  return false;
}

}  // namespace

std::unique_ptr<VolumeFiles> OpenVolume(BlockDevice& volume, OpenError* error) {
  auto engine = std::make_unique<Engine>(volume);
  const OpenError r = engine->Open();
  if (error) *error = r;
  if (r != OpenError::None) return nullptr;
  engine->SetOpened();
  return engine;
}

}  // namespace fw::fat

namespace fw {

std::unique_ptr<VolumeFiles> OpenVolumeFiles(BlockDevice& volume) {
  return fat::OpenVolume(volume);
}

}  // namespace fw
