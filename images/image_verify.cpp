#include "images/image_verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "images/chunk_reader.h"
#include "platform/block_device.h"
#include "platform/image_file.h"

namespace fw {

namespace {

std::string Seconds(int64_t ticks, int64_t frequency) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s",
                frequency > 0 ? static_cast<double>(ticks) / static_cast<double>(frequency) : 0.0);
  return text;
}

}  // namespace

VerifyResult RunVerify(int64_t total, const VerifySides& sides, int64_t chunkSize) {
  VerifyResult result;
  TransferTimer& timer = TheTransferTimer();
  TransferState& st = result.state;
  st.startTicks = timer.now();
  if (total <= 0) return result;
  if (chunkSize <= 0) chunkSize = kVerifyChunkSize;
  // Each side is read on a thread of its own, a chunk ahead of the comparison.
  ChunkReader source(total, chunkSize, 2, sides.readSource);
  ChunkReader target(total, chunkSize, 2, sides.readTarget);
  if (!source.ok() || !target.ok()) {
    result.end = VerifyEnd::kNoMemory;
    return result;
  }
  while (st.position < total) {
    const ChunkReader::Chunk& s = source.Next();
    const ChunkReader::Chunk& t = target.Next();
    if (s.got < 0 || t.got < 0) {
      result.end = s.got < 0 ? VerifyEnd::kSourceReadError : VerifyEnd::kTargetReadError;
      result.error = s.got < 0 ? s.error : t.error;
      break;
    }
    st.totalRead += s.got + t.got;
    // A side that ends early differs from the other at its end.
    const auto common = static_cast<size_t>(std::min(s.got, t.got));
    if (common < s.length || std::memcmp(s.data, t.data, common) != 0) {
      const size_t at =
          static_cast<size_t>(std::mismatch(s.data, s.data + common, t.data).first - s.data);
      result.end = VerifyEnd::kDifferent;
      result.firstDifference = s.offset + static_cast<int64_t>(at);
      break;
    }
    st.position += static_cast<int64_t>(s.length);
    st.elapsedTicks = timer.now() - st.startTicks;
    source.Release();
    target.Release();
    if (sides.chunkDone) sides.chunkDone(st);
    if (st.position < total && sides.cancelled && sides.cancelled()) {
      result.end = VerifyEnd::kCancelled;
      break;
    }
  }
  st.elapsedTicks = timer.now() - st.startTicks;
  return result;
}

VerifyEnd VerifyImageCopy(const char* proc, BlockDevice& device, int64_t start, ImageFile& file,
                          int64_t total, CopySide written, const TransferState& copy) {
  const TransferTimer& timer = TheTransferTimer();
  ShowStatus("Verify: reading back what was written", 0);
  const bool dropped = written == CopySide::kDevice
                           ? device.DropCached(static_cast<uint64_t>(start), uint64_t(total))
                           : file.DropCached();
  if (!dropped) {
    const int code = written == CopySide::kDevice ? device.LastError() : file.LastError();
    FW_LOGP(proc, "Verify: WriteFile Error=" + std::to_string(code));
    ShowStatus("Verify Error: WriteFile Error=" + std::to_string(code), 0);
    return VerifyEnd::kTargetReadError;
  }
  const auto readDevice = [&](int64_t offset, void* buffer, size_t length, int* error) {
    const int64_t n = device.StreamReadAt(static_cast<uint64_t>(start + offset), buffer, length);
    *error = n < 0 ? device.LastError() : 0;
    return n;
  };
  const auto readFile = [&](int64_t offset, void* buffer, size_t length, int* error) {
    const int64_t n = file.ReadAt(offset, buffer, length);
    *error = n < 0 ? file.LastError() : 0;
    return n;
  };
  VerifySides sides;
  sides.readSource = readDevice;
  sides.readTarget = readFile;
  if (written == CopySide::kDevice) std::swap(sides.readSource, sides.readTarget);
  ProgressThrottle throttle(timer.frequency);
  sides.chunkDone = [&](const TransferState& st) {
    if (throttle.Due(timer.now()))
      ShowStatus("Verify " + TransferProgressText(st.position, total, st.totalRead, 0,
                                                  st.elapsedTicks, timer.frequency),
                 TransferPercent(st.position, total));
  };
  sides.cancelled = [] { return CancelMainThread.load() != 0; };
  const VerifyResult r = RunVerify(total, sides);

  const std::string times = std::to_string(r.state.position) + " of " + std::to_string(total) +
                            " bytes compared in " + Seconds(r.state.elapsedTicks, timer.frequency) +
                            ", the copy took " + Seconds(copy.elapsedTicks, timer.frequency);
  switch (r.end) {
    case VerifyEnd::kSame:
      FW_LOGP(proc, "Verify: Same, " + times);
      ShowStatus("Verified", 0);
      break;
    case VerifyEnd::kDifferent: {
      const std::string text = "first difference at byte " + std::to_string(r.firstDifference);
      FW_LOGP(proc, "Verify: " + text + ", " + times);
      ShowStatus("Verify Error: " + text, 0);
      break;
    }
    case VerifyEnd::kSourceReadError:
    case VerifyEnd::kTargetReadError:
      FW_LOGP(proc, "Verify: ReadFile Error=" + std::to_string(r.error) + ", " + times);
      ShowStatus("Verify Error: ReadFile Error=" + std::to_string(r.error), 0);
      break;
    case VerifyEnd::kCancelled:
      FW_LOGP(proc, "Verify: Cancelled, " + times);
      ShowStatus("Verify Cancelled", 0);
      break;
    case VerifyEnd::kNoMemory:
      FW_LOGP(proc, "Verify: Error AllocateMemory for the read-back buffers");
      ShowStatus("Verify Error: not enough memory", 0);
      break;
  }
  return r.end;
}

}  // namespace fw
