// The FAT32/exFAT engine, FAT and allocation: the FAT through a chunk cache, cluster chains and
// the allocation state (FAT32: the FAT; exFAT: the bitmap).
#include <algorithm>

#include "fs/volume_engine.h"

namespace fw::fat::engine {

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

}  // namespace fw::fat::engine
