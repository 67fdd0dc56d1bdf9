#include "images/image_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/quiet_ui_test_support.h"
#include "platform/block_device.h"
#include "platform/image_file.h"

namespace fw {
namespace {

constexpr int64_t KiB = 1024;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + i / 4096 + seed);
  return v;
}

// Sides over two byte vectors; a side shorter than the range ends early, failAt makes one read
// fail with EIO.
struct Pair {
  std::vector<uint8_t> source, target;
  int64_t failTargetAt = -1;
  std::vector<int64_t> targetReads;
  VerifySides Sides() {
    VerifySides s;
    s.readSource = [this](int64_t off, void* buf, size_t n, int* err) {
      return Read(source, off, buf, n, -1, err);
    };
    s.readTarget = [this](int64_t off, void* buf, size_t n, int* err) {
      targetReads.push_back(off);
      return Read(target, off, buf, n, failTargetAt, err);
    };
    return s;
  }
  static int64_t Read(const std::vector<uint8_t>& v, int64_t off, void* buf, size_t n,
                      int64_t failAt, int* err) {
    if (off == failAt) {
      *err = EIO;
      return -1;
    }
    const auto size = static_cast<int64_t>(v.size());
    const int64_t got =
        std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(n), size - off));
    std::memcpy(buf, v.data() + off, static_cast<size_t>(got));
    return got;
  }
};

TEST(RunVerify, SameBytesPassAndEveryChunkIsCounted) {
  Pair p{Pattern(10 * 4 * KiB + 512), {}};
  p.target = p.source;
  std::vector<int64_t> positions;
  VerifySides sides = p.Sides();
  sides.chunkDone = [&](const TransferState& st) { positions.push_back(st.position); };
  const VerifyResult r = RunVerify(static_cast<int64_t>(p.source.size()), sides, 16 * KiB);
  EXPECT_EQ(r.end, VerifyEnd::kSame);
  EXPECT_EQ(positions, (std::vector<int64_t>{16384, 32768, 41472}));
  EXPECT_EQ(r.state.totalRead, 2 * 41472);
}

TEST(RunVerify, FindsTheFirstDifferingByte) {
  Pair p{Pattern(64 * KiB), {}};
  p.target = p.source;
  // Two changes in the third chunk and one later: the first one is reported.
  p.target[2 * 8192 + 1000] ^= 0x01;
  p.target[2 * 8192 + 5000] ^= 0x80;
  p.target[7 * 8192] ^= 0xFF;
  VerifyResult r = RunVerify(64 * KiB, p.Sides(), 8192);
  EXPECT_EQ(r.end, VerifyEnd::kDifferent);
  EXPECT_EQ(r.firstDifference, 2 * 8192 + 1000);
  EXPECT_EQ(r.state.position, 2 * 8192);
  // The very first and the very last byte.
  p.target = p.source;
  p.target[0] ^= 1;
  EXPECT_EQ(RunVerify(64 * KiB, p.Sides(), 8192).firstDifference, 0);
  p.target = p.source;
  p.target.back() ^= 1;
  EXPECT_EQ(RunVerify(64 * KiB, p.Sides(), 8192).firstDifference, 64 * KiB - 1);
}

TEST(RunVerify, ASideThatEndsEarlyDiffersAtItsEnd) {
  Pair p{Pattern(40 * KiB), {}};
  p.target.assign(p.source.begin(), p.source.begin() + 20 * KiB + 7);
  const VerifyResult r = RunVerify(40 * KiB, p.Sides(), 8192);
  EXPECT_EQ(r.end, VerifyEnd::kDifferent);
  EXPECT_EQ(r.firstDifference, 20 * KiB + 7);
}

TEST(RunVerify, ReadErrorsAndCancelStopTheCheck) {
  Pair p{Pattern(64 * KiB), {}};
  p.target = p.source;
  p.failTargetAt = 3 * 8192;
  VerifyResult r = RunVerify(64 * KiB, p.Sides(), 8192);
  EXPECT_EQ(r.end, VerifyEnd::kTargetReadError);
  EXPECT_EQ(r.error, EIO);
  EXPECT_EQ(r.state.position, 3 * 8192);

  p.failTargetAt = -1;
  p.targetReads.clear();
  VerifySides sides = p.Sides();
  int chunks = 0;
  sides.chunkDone = [&](const TransferState&) { ++chunks; };
  sides.cancelled = [&] { return chunks == 2; };
  r = RunVerify(64 * KiB, sides, 8192);
  EXPECT_EQ(r.end, VerifyEnd::kCancelled);
  EXPECT_EQ(r.state.position, 2 * 8192);
  // Reading runs at most two chunks ahead of the comparison (the ring of two, plus the one
  // being read when the cancel came).
  EXPECT_LE(p.targetReads.size(), 5u);
}

// A device with a cache in front of its storage: writes land in the cache, reads see the cache
// first, Flush writes the cached bytes that are not on the storage yet, and only DropCached
// forgets the cache. `storage` can be changed behind the program's back.
class CachedDevice final : public BlockDevice {
 public:
  explicit CachedDevice(size_t bytes)
      : storage(bytes), cache_(bytes), cached_(bytes), dirty_(bytes) {}
  uint32_t SectorSize() const override { return 512; }
  uint64_t SizeBytes() const override { return storage.size(); }
  int64_t ReadAt(uint64_t off, void* buf, size_t n) override {
    auto* out = static_cast<uint8_t*>(buf);
    for (size_t i = 0; i < n; ++i) out[i] = cached_[off + i] ? cache_[off + i] : storage[off + i];
    return static_cast<int64_t>(n);
  }
  int64_t WriteAt(uint64_t off, const void* buf, size_t n) override {
    std::memcpy(cache_.data() + off, buf, n);
    std::fill_n(cached_.begin() + static_cast<long>(off), n, true);
    std::fill_n(dirty_.begin() + static_cast<long>(off), n, true);
    return static_cast<int64_t>(n);
  }
  bool Flush() override {
    for (size_t i = 0; i < storage.size(); ++i)
      if (dirty_[i]) storage[i] = cache_[i];
    std::fill(dirty_.begin(), dirty_.end(), false);
    return true;
  }
  bool DropCached(uint64_t off, uint64_t n) override {
    dropped.emplace_back(off, n);
    Flush();
    std::fill(cached_.begin(), cached_.end(), false);
    return true;
  }
  int LastError() const override { return 0; }
  std::vector<uint8_t> storage;
  std::vector<std::pair<uint64_t, uint64_t>> dropped;

 private:
  std::vector<uint8_t> cache_;
  std::vector<bool> cached_, dirty_;
};

class StatusUi final : public QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override { statuses.push_back(text); }
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    return MsgAnswer::Ok;
  }
  std::vector<std::string> statuses;
};

class VerifyImageCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUi(&ui);
    CancelMainThread = 0;
    path = ::testing::TempDir() + "fw-verify-" +
           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    SetUi(nullptr);
    CancelMainThread = 0;
    std::filesystem::remove(path);
  }
  std::unique_ptr<ImageFile> Image(const std::vector<uint8_t>& bytes) {
    auto file = ImageFile::Open(path, ImageFile::Mode::kCreate, nullptr);
    EXPECT_TRUE(file);
    EXPECT_EQ(file->Write(bytes.data(), bytes.size()), static_cast<int64_t>(bytes.size()));
    return file;
  }
  StatusUi ui;
  std::string path;
};

TEST_F(VerifyImageCopyTest, RestoredPartitionIsReadFromTheStorageNotTheCache) {
  // The partition starts 1 MiB into the device; the image is 3 MiB + 3 sectors.
  const int64_t start = 1024 * KiB, length = 3 * 1024 * KiB + 1536;
  const std::vector<uint8_t> image = Pattern(static_cast<size_t>(length), 5);
  auto file = Image(image);
  CachedDevice device(static_cast<size_t>(start + length + 4096));
  device.WriteAt(static_cast<uint64_t>(start), image.data(), image.size());
  device.Flush();
  EXPECT_EQ(VerifyImageCopy("Recover", device, start, *file, length, CopySide::kDevice, {}),
            VerifyEnd::kSame);
  EXPECT_EQ(ui.statuses.front(), "Verify: reading back what was written");
  EXPECT_EQ(ui.statuses.back(), "Verified");
  ASSERT_EQ(device.dropped.size(), 1u);
  EXPECT_EQ(device.dropped[0], (std::pair<uint64_t, uint64_t>(start, length)));

  // The storage loses a byte while the cache still holds the copy that was written.
  device.WriteAt(static_cast<uint64_t>(start), image.data(), image.size());
  device.Flush();
  const int64_t bad = 2 * 1024 * KiB + 77;
  device.storage[static_cast<size_t>(start + bad)] ^= 0x10;
  EXPECT_EQ(VerifyImageCopy("Recover", device, start, *file, length, CopySide::kDevice, {}),
            VerifyEnd::kDifferent);
  EXPECT_EQ(ui.statuses.back(), "Verify Error: first difference at byte " + std::to_string(bad));
}

TEST_F(VerifyImageCopyTest, BackupImageIsComparedWithThePartition) {
  // More than one read-back chunk, so that a cancel has a chunk boundary to stop at.
  const int64_t start = 512, length = kVerifyChunkSize + 2 * 1024 * KiB + 512;
  const std::vector<uint8_t> part = Pattern(static_cast<size_t>(length), 9);
  CachedDevice device(static_cast<size_t>(start + length));
  device.WriteAt(static_cast<uint64_t>(start), part.data(), part.size());
  device.DropCached(0, device.SizeBytes());
  device.dropped.clear();
  auto file = Image(part);
  ASSERT_TRUE(file->Flush());
  EXPECT_EQ(VerifyImageCopy("BackUp", device, start, *file, length, CopySide::kImageFile, {}),
            VerifyEnd::kSame);
  EXPECT_TRUE(device.dropped.empty());
  // A byte of the image file changed by someone else.
  {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_TRUE(f);
    std::fseek(f, long(length - 1), SEEK_SET);
    std::fputc(part.back() ^ 0xFF, f);
    std::fclose(f);
  }
  EXPECT_EQ(VerifyImageCopy("BackUp", device, start, *file, length, CopySide::kImageFile, {}),
            VerifyEnd::kDifferent);
  EXPECT_EQ(ui.statuses.back(),
            "Verify Error: first difference at byte " + std::to_string(length - 1));
  // A cancel between chunks.
  {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_TRUE(f);
    std::fseek(f, long(length - 1), SEEK_SET);
    std::fputc(part.back(), f);
    std::fclose(f);
  }
  CancelMainThread = 1;
  EXPECT_EQ(VerifyImageCopy("BackUp", device, start, *file, length, CopySide::kImageFile, {}),
            VerifyEnd::kCancelled);
  EXPECT_EQ(ui.statuses.back(), "Verify Cancelled");
}

}  // namespace
}  // namespace fw
