// The Content-Range of a resumed answer ("bytes A-B/T"), as the download engine checks it before
// it appends the part to the file.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// True when `contentRange` continues a file of `offset` bytes: it starts at `offset`, ends at or
// after it, and names the total `total` (any total, or "*", while the total is not known, i.e.
// `total` <= 0). A missing or malformed value proves nothing, so it continues nothing either.
bool RangeContinuesAt(const std::string& contentRange, int64_t offset, int64_t total);

}  // namespace fw
