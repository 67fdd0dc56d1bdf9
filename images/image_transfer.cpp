#include "images/image_transfer.h"

#include <chrono>

#include "app/text.h"
#include "images/chunk_reader.h"
#include "platform/image_file.h"

namespace fw {

namespace {

TransferTimer RealTimer() {
  TransferTimer t;
  t.now = [] {
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count());
  };
  t.frequency = 1000000000;
  return t;
}

TransferTimer& TimerSlot() {
  static TransferTimer timer = RealTimer();
  return timer;
}

int64_t Speed(int64_t totalRead, int64_t totalWritten, int64_t elapsed, int64_t frequency) {
  if (elapsed <= 0) return -1;
  const long double bytes = static_cast<long double>(totalRead) + totalWritten;
  return static_cast<int64_t>(bytes * frequency / elapsed);
}

std::string SizesAndSpeed(int64_t done, int64_t total, int64_t totalRead, int64_t totalWritten,
                          int64_t elapsed, int64_t frequency) {
  return FormatSizeText(done, 0) + "/" + FormatSizeText(total, 0) + " " +
         FormatSizeText(Speed(totalRead, totalWritten, elapsed, frequency), 1) + "/s ";
}

struct WrittenRange {
  int64_t offset = 0;
  size_t length = 0;
};

// Starts the chunk just written on its way to the storage and waits for the one before it.
bool WriteBehind(const TransferSides& sides, int64_t offset, size_t length, WrittenRange* previous,
                 int* error) {
  if (sides.startWriteBack && !sides.startWriteBack(offset, length, error)) return false;
  if (sides.waitWriteBack && previous->length > 0 &&
      !sides.waitWriteBack(previous->offset, previous->length, error))
    return false;
  *previous = {offset, length};
  return true;
}

}  // namespace

TransferTimer& TheTransferTimer() { return TimerSlot(); }

void SetTransferTimerForTesting(const TransferTimer& timer) {
  TimerSlot() = timer.now ? timer : RealTimer();
}

int TransferPercent(int64_t done, int64_t total) {
  if (total <= 0) return 0;
  return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

std::string TransferProgressText(int64_t done, int64_t total, int64_t totalRead,
                                 int64_t totalWritten, int64_t elapsedTicks, int64_t frequency) {
  std::string text = std::to_string(TransferPercent(done, total)) + "% " +
                     SizesAndSpeed(done, total, totalRead, totalWritten, elapsedTicks, frequency) +
                     " Remain: ";
  if (done <= 0 || elapsedTicks <= 0) return text + "...";
  const long double rate = static_cast<long double>(done) * frequency / elapsedTicks;
  const auto remaining = static_cast<int64_t>(static_cast<long double>(total - done) / rate);
  return text + FormatShownDurationText(remaining);
}

std::string TransferClosingText(int64_t done, int64_t total, int64_t totalRead,
                                int64_t totalWritten, int64_t elapsedTicks, int64_t frequency) {
  const int64_t seconds = frequency > 0 ? elapsedTicks / frequency : 0;
  return SizesAndSpeed(done, total, totalRead, totalWritten, elapsedTicks, frequency) +
         " Total: " + FormatShownDurationText(seconds) + " Done";
}

bool ProgressThrottle::Due(int64_t now) {
  if (shown_ && now - last_ <= interval_) return false;
  shown_ = true;
  last_ = now;
  return true;
}

TransferResult RunTransfer(int64_t total, const TransferSides& sides, int64_t chunkSize) {
  TransferResult result;
  TransferTimer& timer = TheTransferTimer();
  result.state.startTicks = timer.now();
  if (total <= 0) return result;
  if (chunkSize <= 0) chunkSize = kImageChunkSize;
  ChunkReader reader(total, chunkSize, 2, sides.read);
  if (!reader.ok()) {
    result.end = TransferEnd::kNoMemory;
    return result;
  }

  TransferState& st = result.state;
  WrittenRange previous;
  while (st.position < total) {
    const ChunkReader::Chunk& chunk = reader.Next();
    if (chunk.got != static_cast<int64_t>(chunk.length)) {
      // A short read would leave stale buffer bytes in the copy: it is a read error.
      result.end = TransferEnd::kReadError;
      result.error = chunk.error ? chunk.error : IoErrorCode();
      break;
    }
    st.totalRead += chunk.got;
    int error = 0;
    const int64_t put = sides.write(chunk.offset, chunk.data, chunk.length, &error);
    if (put != static_cast<int64_t>(chunk.length)) {
      result.end = TransferEnd::kWriteError;
      result.error = error ? error : NoSpaceErrorCode();
      break;
    }
    if (!WriteBehind(sides, chunk.offset, chunk.length, &previous, &error)) {
      result.end = TransferEnd::kWriteError;
      result.error = error ? error : IoErrorCode();
      break;
    }
    st.totalWritten += put;
    st.position += static_cast<int64_t>(chunk.length);
    st.elapsedTicks = timer.now() - st.startTicks;
    reader.Release();
    if (sides.chunkDone) sides.chunkDone(st);
    if (st.position < total && sides.cancelled && sides.cancelled()) {
      result.end = TransferEnd::kCancelled;
      break;
    }
  }
  st.elapsedTicks = timer.now() - st.startTicks;
  return result;
}

}  // namespace fw
