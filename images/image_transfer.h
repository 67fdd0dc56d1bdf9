// The copy engine of backup and restore, and the transfer progress line both show.
//
// The copy moves [0, total) in 16 MiB chunks (the last one is the remainder). A reader thread
// (images/chunk_reader.h) fills one of two buffers while the calling thread writes the other, so
// a copy runs at the speed of its slower side. The buffers are whole huge pages (IoBuffer), and
// the image jobs' sides move them past the system's cache (BlockDevice::StreamReadAt and
// StreamWriteAt, ImageFile's direct transfers): a chunk then travels as a few large requests with
// no copy through the page cache, and a written chunk is on the device when its write returns.
// Cancel is polled once per written chunk; the chunk read ahead is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fw {

inline constexpr int64_t kImageChunkSize = 16 * 1024 * 1024;

// The high-resolution timer of the transfers: ticks and ticks per second.
struct TransferTimer {
  std::function<int64_t()> now;
  int64_t frequency = 1;
};
TransferTimer& TheTransferTimer();
// Replaces the timer (tests); a timer without `now` restores the real one (nanoseconds).
void SetTransferTimerForTesting(const TransferTimer& timer);

// The running line: "42% 10 MB/24 MB 3.2 MB/s  Remain: 4 s ". done/total measure progress,
// read/written feed the speed, elapsed/frequency are timer ticks. With nothing moved yet the
// remaining time reads "...".
std::string TransferProgressText(int64_t done, int64_t total, int64_t totalRead,
                                 int64_t totalWritten, int64_t elapsedTicks, int64_t frequency);
// The closing line: "24 MB/24 MB 3.2 MB/s  Total: 7 s  Done".
std::string TransferClosingText(int64_t done, int64_t total, int64_t totalRead,
                                int64_t totalWritten, int64_t elapsedTicks, int64_t frequency);
// Truncated percentage, 0 when total is 0.
int TransferPercent(int64_t done, int64_t total);

struct TransferState {
  int64_t totalRead = 0;
  int64_t totalWritten = 0;
  int64_t position = 0;  // bytes of [0, total) written so far
  int64_t startTicks = 0;
  int64_t elapsedTicks = 0;
};

enum class TransferEnd { kCompleted, kCancelled, kReadError, kWriteError, kNoMemory };

struct TransferResult {
  TransferEnd end = TransferEnd::kCompleted;
  int error = 0;  // system error code of a read or write failure
  TransferState state;
};

struct TransferSides {
  // Move `length` bytes at `offset` of the range; return the bytes moved or -1, with the
  // system error code in *error. A short count is treated as a failure of that side.
  std::function<int64_t(int64_t offset, void* buffer, size_t length, int* error)> read;
  std::function<int64_t(int64_t offset, const void* buffer, size_t length, int* error)> write;
  // Optional write-behind of the written side, for writes that went through the system's cache
  // (a side without direct transfers, an unaligned tail): after each chunk is written its range
  // is started on its way to the storage, and the chunk before it is waited for. The storage then
  // works while the next chunk is copied, no more than two chunks wait in the write cache, and the
  // progress line follows what really reached the storage. false with *error ends the copy as a
  // write error.
  std::function<bool(int64_t offset, size_t length, int* error)> startWriteBack;
  std::function<bool(int64_t offset, size_t length, int* error)> waitWriteBack;
  // Called on the calling thread after each written chunk (log line, progress line).
  std::function<void(const TransferState&)> chunkDone;
  // Polled after each chunk; true stops the copy.
  std::function<bool()> cancelled;
};

// Copies `total` bytes. Sides are called in offset order; reads run on a second thread.
TransferResult RunTransfer(int64_t total, const TransferSides& sides,
                           int64_t chunkSize = kImageChunkSize);

// Shows the running line through ShowStatus at most every frequency/5 ticks, and always for the
// first chunk.
class ProgressThrottle {
 public:
  explicit ProgressThrottle(int64_t frequency) : interval_(frequency / 5) {}
  // True when a line is due at `now` (and records it as shown).
  bool Due(int64_t now);

 private:
  int64_t interval_;
  int64_t last_ = 0;
  bool shown_ = false;
};

}  // namespace fw
