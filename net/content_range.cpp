#include "net/content_range.h"

#include <cctype>

namespace fw {
namespace {

// Reads an unsigned decimal number at `pos`; false when there is none (or it overflows).
bool ParseCount(const std::string& s, size_t* pos, int64_t* value) {
  const size_t start = *pos;
  int64_t v = 0;
  while (*pos < s.size() && s[*pos] >= '0' && s[*pos] <= '9') {
    if (v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (s[(*pos)++] - '0');
  }
  *value = v;
  return *pos > start;
}

}  // namespace

bool RangeContinuesAt(const std::string& contentRange, int64_t offset, int64_t total) {
  std::string s = contentRange;
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t pos = s.find_first_not_of(' ');
  if (pos == std::string::npos || s.compare(pos, 6, "bytes ") != 0) return false;
  pos = s.find_first_not_of(' ', pos + 6);
  int64_t first = 0, last = 0, whole = 0;
  if (pos == std::string::npos || !ParseCount(s, &pos, &first) || pos >= s.size() ||
      s[pos++] != '-' || !ParseCount(s, &pos, &last) || pos >= s.size() || s[pos++] != '/')
    return false;
  if (first != offset || last < first) return false;
  if (s.compare(pos, std::string::npos, "*") == 0) return total <= 0;
  if (!ParseCount(s, &pos, &whole) || pos != s.size() || last >= whole) return false;
  return total <= 0 || whole == total;
}

}  // namespace fw
