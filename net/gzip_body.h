// Bodies that arrive gzip-compressed: the catalog server may send its catalogs and companion
// documents compressed even when the request did not ask for it. The body's own first bytes tell
// (gzip magic 1F 8B); an XML document never starts with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fw {

// A decoded body never grows past this (a small compressed body may expand enormously).
inline constexpr int64_t kMaxDecodedBody = 256LL * 1024 * 1024;

bool IsGzipBody(const char* data, size_t size);
// `out` = the body, decoded when it is gzip (one or more members). False for a gzip body that is
// damaged, truncated or larger than kMaxDecodedBody when decoded.
bool DecodeBody(const char* data, size_t size, std::string* out);

}  // namespace fw
