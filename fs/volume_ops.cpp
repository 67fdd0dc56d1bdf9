// The FAT32/exFAT engine, operations: the VolumeFiles calls and Flush.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "fs/volume_engine.h"

namespace fw::fat::engine {

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
  const bool read = ReadFileInPieces(path, [&contents](const void* data, size_t length) {
    contents.append(static_cast<const char*>(data), length);
    return true;
  });
  if (!read) contents.clear();
  return read;
}

bool Engine::ReadFileInPieces(const std::string& path,
                              const std::function<bool(const void*, size_t)>& piece) {
  const auto parts = SplitPath(path);
  if (parts.empty()) return false;
  Dir* d = WalkDirs(parts, parts.size() - 1);
  std::u16string n;
  if (!d || !Utf8ToUtf16(parts.back(), n)) return false;
  const Entry* e = Find(*d, n);
  if (!e || (e->attr & kAttrDirectory)) return false;
  std::vector<uint32_t> cl;
  if (!FileClusters(*e, cl)) return false;
  // Runs of neighbouring clusters are read at once, up to 8 MiB (or one cluster when larger).
  const size_t runBytes = std::max<size_t>(8 * kWriteBatch / clusterBytes_, 1) * clusterBytes_;
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(e->size, runBytes)));
  const uint64_t valid = e->validSize;
  uint64_t done = 0;
  for (size_t i = 0; i < cl.size() && done < valid;) {
    size_t j = i + 1;
    while (j < cl.size() && cl[j] == cl[j - 1] + 1 && (j - i + 1) * clusterBytes_ <= runBytes) ++j;
    const auto length =
        static_cast<size_t>(std::min<uint64_t>((j - i) * clusterBytes_, valid - done));
    if (!ReadBytes(ClusterOffset(cl[i]), buffer.data(), length) || !piece(buffer.data(), length))
      return false;
    done += length;
    i = j;
  }
  // An exFAT file's bytes past its valid length read as zeros.
  std::fill(buffer.begin(), buffer.end(), '\0');
  while (done < e->size) {
    const auto length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), e->size - done));
    if (!piece(buffer.data(), length)) return false;
    done += length;
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

}  // namespace fw::fat::engine
