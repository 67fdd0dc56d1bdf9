#include "fs/fat_common.h"

#include <ctime>

namespace fw::fat {

bool Utf8ToUtf16(const std::string& in, std::u16string& out) {
  out.clear();
  size_t i = 0;
  while (i < in.size()) {
    const uint8_t c = static_cast<uint8_t>(in[i]);
    uint32_t cp = 0;
    size_t extra = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + extra >= in.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t d = static_cast<uint8_t>(in[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // lone surrogate on disk
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

char16_t UpCase(char16_t c) {
  const unsigned u = c;
  if (u < 0x61) return c;
  if (u <= 0x7A) return static_cast<char16_t>(u - 0x20);
  if (u < 0xE0) return c;
  if (u <= 0xFE) return u == 0xF7 ? c : static_cast<char16_t>(u - 0x20);
  if (u == 0xFF) return 0x178;
  if (u >= 0x100 && u <= 0x137) return static_cast<char16_t>(u & ~1u);
  if (u >= 0x139 && u <= 0x148) return (u & 1) ? c : static_cast<char16_t>(u - 1);
  if (u >= 0x14A && u <= 0x177) return static_cast<char16_t>(u & ~1u);
  if (u >= 0x179 && u <= 0x17E) return (u & 1) ? c : static_cast<char16_t>(u - 1);
  if (u == 0x3AC) return 0x386;
  if (u >= 0x3AD && u <= 0x3AF) return static_cast<char16_t>(u - 0x25);
  if (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) return static_cast<char16_t>(u - 0x20);
  if (u == 0x3CC) return 0x38C;
  if (u == 0x3CD || u == 0x3CE) return static_cast<char16_t>(u - 0x3F);
  if (u >= 0x430 && u <= 0x44F) return static_cast<char16_t>(u - 0x20);
  if (u >= 0x450 && u <= 0x45F) return static_cast<char16_t>(u - 0x50);
  if (u >= 0x460 && u <= 0x481) return static_cast<char16_t>(u & ~1u);
  if (u >= 0x48A && u <= 0x4BF) return static_cast<char16_t>(u & ~1u);
  if (u >= 0x561 && u <= 0x586) return static_cast<char16_t>(u - 0x30);
  if (u >= 0xFF41 && u <= 0xFF5A) return static_cast<char16_t>(u - 0x20);
  return c;
}

std::vector<uint8_t> CompressedUpCaseTable() {
  std::vector<uint8_t> out;
  auto put = [&out](unsigned v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  unsigned c = 0;
  while (c < 0x10000) {
    unsigned run = 0;
    while (c + run < 0x10000 && UpCase(static_cast<char16_t>(c + run)) == c + run) ++run;
    if (run >= 3) {
      put(0xFFFF);
      put(run);
      c += run;
    } else if (run > 0) {
      for (unsigned k = 0; k < run; ++k) put(c + k);
      c += run;
    } else {
      put(UpCase(static_cast<char16_t>(c)));
      ++c;
    }
  }
  return out;
}

bool ExpandUpCaseTable(const uint8_t* data, size_t bytes, std::vector<char16_t>& table) {
  table.clear();
  table.reserve(0x10000);
  size_t i = 0;
  while (i + 1 < bytes && table.size() < 0x10000) {
    const uint16_t v = Get16(data + i);
    i += 2;
    if (v == 0xFFFF && i + 1 < bytes) {
      const uint16_t run = Get16(data + i);
      i += 2;
      for (unsigned k = 0; k < run && table.size() < 0x10000; ++k)
        table.push_back(static_cast<char16_t>(table.size()));
    } else {
      table.push_back(static_cast<char16_t>(v));
    }
  }
  if (table.empty()) return false;
  // A short table maps the rest to itself.
  while (table.size() < 0x10000) table.push_back(static_cast<char16_t>(table.size()));
  return true;
}

uint32_t TableChecksum(const uint8_t* data, size_t bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + data[i];
  return sum;
}

uint32_t ExfatBootChecksum(const uint8_t* data, size_t bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + data[i];
  }
  return sum;
}

uint32_t DosTimestampNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  int year = tm.tm_year + 1900;
  if (year < 1980) year = 1980;
  if (year > 2107) year = 2107;
  const uint32_t date =
      static_cast<uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const uint32_t time =
      static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}

bool IsValidLongName(const std::u16string& name) {
  if (name.empty() || name.size() > 255) return false;
  if (name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case u'"':
      case u'*':
      case u'/':
      case u':':
      case u'<':
      case u'>':
      case u'?':
      case u'\\':
      case u'|':
        return false;
      default:
        break;
    }
  }
  const char16_t last = name.back();
  return last != u'.' && last != u' ';
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

uint32_t DefaultFat32ClusterSize(uint64_t volumeBytes) {
  constexpr uint64_t kMiB = 1024 * 1024;
  if (volumeBytes <= 64 * kMiB) return 512;
  if (volumeBytes <= 128 * kMiB) return 1024;
  if (volumeBytes <= 256 * kMiB) return 2048;
  if (volumeBytes <= 8192 * kMiB) return 4096;
  if (volumeBytes <= 16384 * kMiB) return 8192;
  if (volumeBytes <= 32768 * kMiB) return 16384;
  return 32768;
}

uint32_t DefaultExfatClusterSize(uint64_t volumeBytes) {
  constexpr uint64_t kMiB = 1024 * 1024;
  if (volumeBytes <= 256 * kMiB) return 4096;
  if (volumeBytes <= 32768 * kMiB) return 32768;
  return 131072;
}

}  // namespace fw::fat
