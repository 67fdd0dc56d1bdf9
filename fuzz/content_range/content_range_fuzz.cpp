// The Content-Range check under libFuzzer. The first 16 bytes give the file's length and total,
// the rest is the header value. Whatever the header says, an accepted part must name exactly
// that start and (when known) that total; and the header written from the numbers themselves
// is accepted exactly when it describes a part that continues the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/content_range.h"

namespace {

int64_t Take(const uint8_t* data) {
  int64_t v = 0;
  std::memcpy(&v, data, sizeof v);
  return v < 0 ? -(v + 1) : v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16) return 0;
  const int64_t offset = Take(data) % 4000000000000LL;
  const int64_t total = Take(data + 8) % 4000000000000LL;
  const std::string header(reinterpret_cast<const char*>(data + 16), size - 16);
  if (fw::RangeContinuesAt(header, offset, total)) {
    std::string lower = header;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t digits = lower.find_first_of("0123456789");
    if (lower.find("bytes ") == std::string::npos || digits == std::string::npos ||
        std::strtoll(lower.c_str() + digits, nullptr, 10) != offset)
      std::abort();
    const size_t slash = lower.rfind('/');
    if (total > 0 && (slash == std::string::npos ||
                      std::strtoll(lower.c_str() + slash + 1, nullptr, 10) != total))
      std::abort();
  }
  const int64_t last = offset + static_cast<int64_t>(size % 5000) - 1;
  const std::string made = "bytes " + std::to_string(offset) + "-" + std::to_string(last) + "/" +
                           std::to_string(total > 0 ? total : last + 1);
  const bool continues = last >= offset && (total <= 0 || last < total);
  if (fw::RangeContinuesAt(made, offset, total) != continues) std::abort();
  return 0;
}
