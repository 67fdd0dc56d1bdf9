#include "images/chunk_reader.h"

#include <algorithm>

namespace fw {

ChunkReader::ChunkReader(int64_t total, int64_t chunkSize, int depth, ReadFn read)
    : total_(total), chunkSize_(chunkSize), read_(std::move(read)) {
  if (total_ <= 0 || chunkSize_ <= 0 || depth <= 0) return;
  // A range smaller than one chunk needs buffers of its own size only.
  const auto bytes = static_cast<size_t>(std::min(total_, chunkSize_));
  for (int i = 0; i < depth; ++i) {
    buffers_.emplace_back(bytes);
    if (!buffers_.back().data()) return;
    ring_.emplace_back();
    ring_.back().chunk.data = buffers_.back().data();
  }
  thread_ = std::thread([this] { ReadAll(); });
}

ChunkReader::~ChunkReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ChunkReader::ReadAll() {
  int64_t offset = 0;
  for (size_t index = 0; offset < total_; index = (index + 1) % ring_.size()) {
    Slot& slot = ring_[index];
    Chunk& chunk = slot.chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !slot.full; });
      if (stop_) return;
    }
    const size_t length = static_cast<size_t>(std::min(chunkSize_, total_ - offset));
    int error = 0;
    const int64_t got = read_(offset, chunk.data, length, &error);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      chunk.offset = offset;
      chunk.length = length;
      chunk.got = got;
      chunk.error = error;
      slot.full = true;
    }
    changed_.notify_all();
    if (got != static_cast<int64_t>(length)) return;  // the consumer reports it
    offset += static_cast<int64_t>(length);
  }
}

const ChunkReader::Chunk& ChunkReader::Next() {
  Slot& slot = ring_[next_];
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return slot.full; });
  return slot.chunk;
}

void ChunkReader::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ring_[next_].full = false;
  }
  next_ = (next_ + 1) % ring_.size();
  changed_.notify_all();
}

}  // namespace fw
