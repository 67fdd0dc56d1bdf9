// The FAT32/exFAT engine, directories: entry-set and short-name checksums, loading, walking,
// free slots, FAT32 short names, and adding, updating, deleting and writing entries.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "fs/volume_engine.h"

namespace fw::fat::engine {

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

// GCC 12 at -O3 reports a bogus -Wrestrict inside std::string's inlined copies here (GCC bug
// 105329) now that the function has external linkage.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
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
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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

}  // namespace fw::fat::engine
