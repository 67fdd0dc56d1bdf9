// Test devices for the engine: a sparse in-memory disk, and a wrapper that fails or shortens
// transfers on demand and records any attempt to leave its range.
#pragma once

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "platform/block_device.h"

namespace fw::fat {

class MemoryDevice final : public BlockDevice {
 public:
  MemoryDevice(uint64_t size, uint32_t sectorSize) : size_(size), sector_(sectorSize) {}
  uint32_t SectorSize() const override { return sector_; }
  uint64_t SizeBytes() const override { return size_; }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset > size_ || length > size_ - offset) return error_ = EINVAL, -1;
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t done = 0; done < length;) {
      const uint64_t pos = offset + done;
      const size_t in = static_cast<size_t>(pos % kChunk);
      const size_t n = std::min(length - done, kChunk - in);
      auto it = chunks_.find(pos / kChunk);
      if (it == chunks_.end())
        std::memset(out + done, 0, n);
      else
        std::memcpy(out + done, it->second.data() + in, n);
      done += n;
    }
    return static_cast<int64_t>(length);
  }
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t length) override {
    if (offset > size_ || length > size_ - offset) return error_ = EINVAL, -1;
    const auto* in = static_cast<const uint8_t*>(buffer);
    for (size_t done = 0; done < length;) {
      const uint64_t pos = offset + done;
      const size_t at = static_cast<size_t>(pos % kChunk);
      const size_t n = std::min(length - done, kChunk - at);
      auto& chunk = chunks_[pos / kChunk];
      if (chunk.empty()) chunk.assign(kChunk, 0);
      std::memcpy(chunk.data() + at, in + done, n);
      done += n;
    }
    return static_cast<int64_t>(length);
  }
  bool Flush() override { return true; }
  int LastError() const override { return error_; }

 private:
  static constexpr size_t kChunk = 64 * 1024;
  uint64_t size_;
  uint32_t sector_;
  int error_ = 0;
  std::map<uint64_t, std::vector<uint8_t>> chunks_;
};

class FaultDevice final : public BlockDevice {
 public:
  explicit FaultDevice(BlockDevice& base) : base_(base) {}
  // After `writes` more successful writes, every write comes back short (half its length).
  void ShortWritesAfter(int writes) { shortAfter_ = writes; }
  void FailWritesWith(int error) { failError_ = error; }
  bool leftRange = false;

  uint32_t SectorSize() const override { return base_.SectorSize(); }
  uint64_t SizeBytes() const override { return base_.SizeBytes(); }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    Check(offset, length);
    return base_.ReadAt(offset, buffer, length);
  }
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t length) override {
    Check(offset, length);
    if (failError_) return error_ = failError_, -1;
    if (shortAfter_ >= 0 && shortAfter_-- == 0) {
      shortAfter_ = 0;
      return base_.WriteAt(offset, buffer, length / 2);
    }
    return base_.WriteAt(offset, buffer, length);
  }
  bool Flush() override { return base_.Flush(); }
  int LastError() const override { return error_ ? error_ : base_.LastError(); }

 private:
  void Check(uint64_t offset, size_t length) {
    if (offset > SizeBytes() || length > SizeBytes() - offset) leftRange = true;
  }
  BlockDevice& base_;
  int shortAfter_ = -1;
  int failError_ = 0;
  int error_ = 0;
};

}  // namespace fw::fat
