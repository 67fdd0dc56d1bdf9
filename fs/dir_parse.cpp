// The FAT32/exFAT engine, directories: the FAT32 and exFAT directory parsers side by side.
#include <algorithm>
#include <cstring>

#include "fs/volume_engine.h"

namespace fw::fat::engine {

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

}  // namespace fw::fat::engine
