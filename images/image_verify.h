// Read-back verification of a finished backup or restore: both sides are read again, chunk by
// chunk, and compared byte for byte. The written side is read from the storage, not from the
// system's cache (its cached copy is let go first), so the check sees what the device or the
// image file really holds.
//
//   const VerifyEnd end = VerifyImageCopy("BackUp", device, start, *file, total,
//                                         CopySide::kImageFile, copy.state);
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "images/image_transfer.h"

namespace fw {

class BlockDevice;
class ImageFile;

struct VerifySides {
  // Read `length` bytes at `offset` of the range; the bytes read or -1 with the system error
  // code in *error. A short count means that side ends there.
  std::function<int64_t(int64_t offset, void* buffer, size_t length, int* error)> readSource;
  std::function<int64_t(int64_t offset, void* buffer, size_t length, int* error)> readTarget;
  // Called after each compared chunk: position = bytes compared, totalRead = both sides' reads.
  std::function<void(const TransferState&)> chunkDone;
  // Polled after each chunk; true stops the check.
  std::function<bool()> cancelled;
};

enum class VerifyEnd {
  kSame,
  kDifferent,
  kSourceReadError,
  kTargetReadError,
  kCancelled,
  kNoMemory
};

struct VerifyResult {
  VerifyEnd end = VerifyEnd::kSame;
  int64_t firstDifference = -1;  // offset of the first byte that differs (kDifferent)
  int error = 0;                 // system error code of a failed read
  TransferState state;
};

// Read-back chunks are half a copy chunk: both sides read ahead into two buffers each, and the
// four stay within the copy's memory.
inline constexpr int64_t kVerifyChunkSize = kImageChunkSize / 2;

// Compares [0, total) of both sides, each read on a thread of its own a chunk ahead of the
// comparison.
VerifyResult RunVerify(int64_t total, const VerifySides& sides,
                       int64_t chunkSize = kVerifyChunkSize);

// Which side of an image copy was written: the one read back from the storage.
enum class CopySide { kDevice, kImageFile };

// The read-back step of the image jobs: compares [start, start + total) of `device` with
// [0, total) of `file`. Shows "Verify: reading back what was written" before it reads, running
// "Verify 42% ..." lines, then "Verified", "Verify Error: first difference at byte N" (N counted
// from the partition's first byte, which is also the image file's offset), "Verify Error:
// ReadFile Error=" + code, or "Verify Cancelled" (CancelMainThread), and logs the time it took
// against the copy's time. `proc` names the job in the log.
VerifyEnd VerifyImageCopy(const char* proc, BlockDevice& device, int64_t start, ImageFile& file,
                          int64_t total, CopySide written, const TransferState& copy);

}  // namespace fw
