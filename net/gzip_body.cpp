#include "net/gzip_body.h"

#include <zlib.h>

#include <climits>

namespace fw {

bool IsGzipBody(const char* data, size_t size) {
  return size >= 2 && static_cast<unsigned char>(data[0]) == 0x1F &&
         static_cast<unsigned char>(data[1]) == 0x8B;
}

bool DecodeBody(const char* data, size_t size, std::string* out) {
  out->clear();
  if (!IsGzipBody(data, size)) {
    out->assign(data, size);
    return true;
  }
  if (size > UINT_MAX) return false;
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z.avail_in = static_cast<uInt>(size);
  char buffer[65536];
  bool ok = true;
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    const int rc = inflate(&z, Z_NO_FLUSH);
    out->append(buffer, sizeof buffer - z.avail_out);
    if (static_cast<int64_t>(out->size()) > kMaxDecodedBody) {
      ok = false;
      break;
    }
    if (rc == Z_STREAM_END) {
      // Concatenated members decode one after another; anything else after the end is damage.
      if (z.avail_in == 0) break;
      if (!IsGzipBody(reinterpret_cast<const char*>(z.next_in), z.avail_in) ||
          inflateReset(&z) != Z_OK) {
        ok = false;
        break;
      }
      continue;
    }
    if (rc != Z_OK) {  // damaged data, or the body ended inside a member (Z_BUF_ERROR)
      ok = false;
      break;
    }
  }
  inflateEnd(&z);
  if (!ok) out->clear();
  return ok;
}

}  // namespace fw
