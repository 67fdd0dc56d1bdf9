#include "images/image_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/image_file.h"
#include "platform/io_buffer.h"

namespace fw {
namespace {

TEST(TransferProgressText, RunningAndClosingLines) {
  const int64_t MiB = 1024 * 1024;
  // 8 of 32 MiB after 1 s at 1000 ticks/s: 16 MiB/s moved (read + written), 3 s to go.
  EXPECT_EQ(TransferProgressText(8 * MiB, 32 * MiB, 8 * MiB, 8 * MiB, 1000, 1000),
            "25% 8 MB/32 MB 16.0 MB/s  Remain: 3 s ");
  EXPECT_EQ(TransferClosingText(32 * MiB, 32 * MiB, 32 * MiB, 32 * MiB, 4000, 1000),
            "32 MB/32 MB 16.0 MB/s  Total: 4 s  Done");
  // Under a second still names a duration.
  EXPECT_EQ(TransferClosingText(0, 0, 0, 0, 0, 1000), "0 B/0 B -1 B/s  Total: 0 s  Done");
  EXPECT_EQ(TransferProgressText(32, 32, 32, 32, 10, 1000),
            "100% 32 B/32 B 6.2 KB/s  Remain: 0 s ");
  // Percent is truncated, never rounded up to 100 before the end.
  EXPECT_EQ(TransferPercent(999, 1000), 99);
  EXPECT_EQ(TransferPercent(5, 0), 0);
}

TEST(TransferProgressText, NothingMovedOrNoTimeElapsed) {
  // No elapsed time: the speed is -1 and the remaining time has no figure.
  EXPECT_EQ(TransferProgressText(0, 100, 0, 0, 0, 1000), "0% 0 B/100 B -1 B/s  Remain: ...");
  EXPECT_EQ(TransferProgressText(0, 100, 0, 0, 50, 1000), "0% 0 B/100 B 0 B/s  Remain: ...");
}

TEST(ProgressThrottle, FirstAlwaysThenAtMostFiveASecond) {
  ProgressThrottle t(1000);  // interval 200 ticks
  EXPECT_TRUE(t.Due(5));
  EXPECT_FALSE(t.Due(100));
  EXPECT_FALSE(t.Due(205));  // exactly the interval is not more than it
  EXPECT_TRUE(t.Due(206));
  EXPECT_FALSE(t.Due(300));
}

struct Source {
  std::vector<uint8_t> bytes;
  std::vector<std::pair<int64_t, size_t>> reads;
  int64_t failReadAt = -1;  // offset whose read fails
  int64_t shortReadAt = -1;
};

TransferSides MemorySides(Source& src, std::vector<uint8_t>& dst, int64_t failWriteAt = -1) {
  TransferSides s;
  s.read = [&src](int64_t off, void* buf, size_t n, int* err) -> int64_t {
    src.reads.emplace_back(off, n);
    if (off == src.failReadAt) {
      *err = 61;
      return -1;
    }
    std::memcpy(buf, src.bytes.data() + off, n);
    return off == src.shortReadAt ? static_cast<int64_t>(n / 2) : static_cast<int64_t>(n);
  };
  s.write = [&dst, failWriteAt](int64_t off, const void* buf, size_t n, int* err) -> int64_t {
    if (off == failWriteAt) {
      *err = 28;
      return -1;
    }
    if (dst.size() < static_cast<size_t>(off) + n) dst.resize(static_cast<size_t>(off) + n);
    std::memcpy(dst.data() + off, buf, n);
    return static_cast<int64_t>(n);
  };
  return s;
}

Source Pattern(size_t n) {
  Source s;
  s.bytes.resize(n);
  for (size_t i = 0; i < n; ++i) s.bytes[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  return s;
}

TEST(RunTransfer, ChunksWithRemainderCopyEveryByteInOrder) {
  Source src = Pattern(10 * 4096 + 512);
  std::vector<uint8_t> dst;
  std::vector<int64_t> positions;
  TransferSides sides = MemorySides(src, dst);
  sides.chunkDone = [&](const TransferState& st) { positions.push_back(st.position); };
  const TransferResult r = RunTransfer(static_cast<int64_t>(src.bytes.size()), sides, 4096 * 4);
  EXPECT_EQ(r.end, TransferEnd::kCompleted);
  EXPECT_EQ(dst, src.bytes);
  ASSERT_EQ(src.reads.size(), 3u);
  EXPECT_EQ(src.reads[2], (std::pair<int64_t, size_t>(8 * 4096, 2 * 4096 + 512)));
  EXPECT_EQ(positions, (std::vector<int64_t>{16384, 32768, 41472}));
  EXPECT_EQ(r.state.totalRead, 41472);
  EXPECT_EQ(r.state.totalWritten, 41472);
}

TEST(RunTransfer, SmallerThanOneChunkIsOneTransfer) {
  Source src = Pattern(3000);
  std::vector<uint8_t> dst;
  const TransferResult r = RunTransfer(3000, MemorySides(src, dst));
  EXPECT_EQ(r.end, TransferEnd::kCompleted);
  ASSERT_EQ(src.reads.size(), 1u);
  EXPECT_EQ(src.reads[0].second, 3000u);
  EXPECT_EQ(dst, src.bytes);
}

TEST(RunTransfer, ErrorsStopAtTheFailingChunk) {
  {
    Source src = Pattern(8 * 1024);
    src.failReadAt = 4096;
    std::vector<uint8_t> dst;
    const TransferResult r = RunTransfer(8192, MemorySides(src, dst), 2048);
    EXPECT_EQ(r.end, TransferEnd::kReadError);
    EXPECT_EQ(r.error, 61);
    EXPECT_EQ(r.state.position, 4096);
    EXPECT_EQ(dst.size(), 4096u);
  }
  {
    // A short read must not let stale buffer bytes through.
    Source src = Pattern(8 * 1024);
    src.shortReadAt = 2048;
    std::vector<uint8_t> dst;
    const TransferResult r = RunTransfer(8192, MemorySides(src, dst), 2048);
    EXPECT_EQ(r.end, TransferEnd::kReadError);
    EXPECT_EQ(r.error, IoErrorCode());
    EXPECT_EQ(dst.size(), 2048u);
  }
  {
    Source src = Pattern(8 * 1024);
    std::vector<uint8_t> dst;
    const TransferResult r = RunTransfer(8192, MemorySides(src, dst, 6144), 2048);
    EXPECT_EQ(r.end, TransferEnd::kWriteError);
    EXPECT_EQ(r.error, 28);
    EXPECT_EQ(r.state.totalWritten, 6144);
  }
}

TEST(RunTransfer, CancelStopsAfterTheChunkInProgress) {
  Source src = Pattern(64 * 1024);
  std::vector<uint8_t> dst;
  TransferSides sides = MemorySides(src, dst);
  int chunks = 0;
  sides.chunkDone = [&](const TransferState&) { ++chunks; };
  sides.cancelled = [&] { return chunks == 2; };
  const TransferResult r = RunTransfer(64 * 1024, sides, 4096);
  EXPECT_EQ(r.end, TransferEnd::kCancelled);
  EXPECT_EQ(r.state.position, 8192);
  EXPECT_EQ(dst.size(), 8192u);
  // At most the one chunk read ahead was fetched beyond what was written.
  EXPECT_LE(src.reads.size(), 4u);
}

TEST(RunTransfer, WriteBehindStartsEachChunkAndWaitsForTheOneBefore) {
  Source src = Pattern(5 * 4096 + 512);
  std::vector<uint8_t> dst;
  TransferSides sides = MemorySides(src, dst);
  std::vector<std::string> calls;
  int64_t failWaitAt = -1;
  sides.startWriteBack = [&](int64_t off, size_t n, int*) {
    // Only what was written can be started.
    EXPECT_GE(dst.size(), static_cast<size_t>(off) + n);
    calls.push_back("start " + std::to_string(off) + "+" + std::to_string(n));
    return true;
  };
  sides.waitWriteBack = [&](int64_t off, size_t n, int* err) {
    calls.push_back("wait " + std::to_string(off) + "+" + std::to_string(n));
    if (off != failWaitAt) return true;
    *err = 5;
    return false;
  };
  const auto total = static_cast<int64_t>(src.bytes.size());
  TransferResult r = RunTransfer(total, sides, 8192);
  EXPECT_EQ(r.end, TransferEnd::kCompleted);
  EXPECT_EQ(dst, src.bytes);
  EXPECT_EQ(calls, (std::vector<std::string>{"start 0+8192", "start 8192+8192", "wait 0+8192",
                                             "start 16384+4608", "wait 8192+8192"}));
  // The storage refusing a chunk that is already written ends the copy as a write error there.
  calls.clear();
  dst.clear();
  failWaitAt = 8192;
  r = RunTransfer(total, sides, 8192);
  EXPECT_EQ(r.end, TransferEnd::kWriteError);
  EXPECT_EQ(r.error, 5);
  EXPECT_EQ(calls.back(), "wait 8192+8192");
  EXPECT_LT(r.state.position, total);
}

TEST(ImageFile, WholeImagesWhateverTheirTail) {
  // A length that is a whole number of 512-byte sectors but not of 4096-byte blocks: the tail
  // cannot always go directly, and the bytes must still all arrive, both ways.
  const std::string path = ::testing::TempDir() + "fw-image-file-" +
                           std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  Source src = Pattern(3 * 65536 + 1536);
  IoBuffer buffer(65536);
  ASSERT_TRUE(buffer.data());
  {
    int error = -1;
    auto out = ImageFile::Open(path, ImageFile::Mode::kCreate, &error);
    ASSERT_TRUE(out) << error;
    for (size_t at = 0; at < src.bytes.size(); at += 65536) {
      const size_t n = std::min<size_t>(65536, src.bytes.size() - at);
      std::memcpy(buffer.data(), src.bytes.data() + at, n);
      ASSERT_EQ(out->Write(buffer.data(), n), static_cast<int64_t>(n)) << out->LastError();
      EXPECT_TRUE(out->StartWriteBack(static_cast<int64_t>(at), static_cast<int64_t>(n)));
      EXPECT_TRUE(out->WaitWriteBack(static_cast<int64_t>(at), static_cast<int64_t>(n)));
    }
    EXPECT_EQ(out->Position(), static_cast<int64_t>(src.bytes.size()));
    // Reading back a written image leaves its position where the writing ended.
    ASSERT_TRUE(out->DropCached());
    ASSERT_EQ(out->ReadAt(65536, buffer.data(), 65536), 65536);
    EXPECT_EQ(0, std::memcmp(buffer.data(), src.bytes.data() + 65536, 65536));
    EXPECT_EQ(out->Position(), static_cast<int64_t>(src.bytes.size()));
    EXPECT_TRUE(out->Flush());
  }
  auto in = ImageFile::Open(path, ImageFile::Mode::kRead, nullptr);
  ASSERT_TRUE(in);
  std::vector<uint8_t> got;
  for (;;) {
    const int64_t n = in->Read(buffer.data(), 65536);
    ASSERT_GE(n, 0) << in->LastError();
    got.insert(got.end(), buffer.data(), buffer.data() + n);
    if (n < 65536) break;
  }
  EXPECT_EQ(got, src.bytes);
  EXPECT_EQ(in->Position(), static_cast<int64_t>(src.bytes.size()));
  std::remove(path.c_str());
}

TEST(RunTransfer, ElapsedTicksComeFromTheTransferTimer) {
  std::atomic<int64_t> ticks{0};
  SetTransferTimerForTesting({[&] { return ticks += 10; }, 1000});
  Source src = Pattern(4096);
  std::vector<uint8_t> dst;
  const TransferResult r = RunTransfer(4096, MemorySides(src, dst), 1024);
  SetTransferTimerForTesting({});
  EXPECT_GT(r.state.elapsedTicks, 0);
  EXPECT_EQ(TheTransferTimer().frequency, 1000000000);
}

}  // namespace
}  // namespace fw
