// The FAT32/exFAT engine behind OpenVolume (fs/fat_volume.h), shared by its own sources only:
// the in-memory entries and folders, the file writer and the engine. Its parts: volume_open.cpp
// (opening), fat_chain.cpp (FAT and allocation), volume_dirs.cpp and dir_parse.cpp (directories),
// volume_ops.cpp (operations) and file_writer.cpp (the file writer).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/fat_common.h"
#include "fs/fat_volume.h"

namespace fw::fat::engine {

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

// Entry-set and short-name checksums and the short-name characters (volume_dirs.cpp).
uint16_t EntrySetChecksum(const uint8_t* set, size_t slots);
uint8_t ShortNameChecksum(const uint8_t* name);
bool IsShortNameChar(char16_t c);

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
  bool ReadFileInPieces(const std::string& path,
                        const std::function<bool(const void*, size_t)>& piece) override;
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

}  // namespace fw::fat::engine
