// Write-behind for a file descriptor: sync_file_range on a byte range. File systems and devices
// that cannot do it (EINVAL, ESPIPE, ENOSYS) simply get no write-behind, and the final fsync does
// the work.
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <cstdint>

namespace fw {

// Starts the range on its way to the storage.
inline constexpr unsigned kSyncRangeStart = SYNC_FILE_RANGE_WRITE;
// Waits until the range has reached the storage. An error seen here is not reported again by a
// later fsync, so it must reach the caller.
inline constexpr unsigned kSyncRangeWait =
    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;

// False with *error set when the storage reported an error.
inline bool SyncRange(int fd, int64_t offset, int64_t length, unsigned flags, int* error) {
  if (length <= 0) return true;
  while (::sync_file_range(fd, static_cast<off64_t>(offset), static_cast<off64_t>(length), flags) !=
         0) {
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == ESPIPE || errno == ENOSYS) return true;
    *error = errno;
    return false;
  }
  return true;
}

}  // namespace fw
