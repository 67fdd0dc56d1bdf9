// Reads a range [0, total) in chunks on a thread of its own, ahead of the code that consumes the
// chunks in order: a ring of `depth` aligned buffers, so reading runs up to depth - 1 chunks ahead
// while the consumer writes or compares. Used by the copy engine and by the read-back check.
//
//   ChunkReader reader(total, chunkSize, 2, read);
//   if (!reader.ok()) ...no memory...
//   for (int64_t done = 0; done < total;) {
//     const ChunkReader::Chunk& c = reader.Next();
//     if (c.got != int64_t(c.length)) ...read error or end of the source: nothing more comes...
//     ...use c.data...
//     done += c.length;
//     reader.Release();
//   }
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/io_buffer.h"

namespace fw {

class ChunkReader {
 public:
  // Reads `length` bytes at `offset`; the bytes read or -1 with the system error code in *error.
  using ReadFn = std::function<int64_t(int64_t offset, void* buffer, size_t length, int* error)>;
  struct Chunk {
    char* data = nullptr;
    int64_t offset = 0;
    size_t length = 0;  // what was asked for: chunkSize, or the remainder for the last chunk
    int64_t got = 0;    // what the read returned
    int error = 0;
  };

  ChunkReader(int64_t total, int64_t chunkSize, int depth, ReadFn read);
  // Stops the reading (a chunk being read is finished first) and joins the thread.
  ~ChunkReader();
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;

  // False when the buffers could not be allocated (no thread runs then).
  bool ok() const { return thread_.joinable(); }
  // The next chunk in order, once it is read. After a chunk whose `got` is not its `length`
  // nothing more is read: the caller must not ask for another.
  const Chunk& Next();
  // Hands the chunk last returned by Next() back for reading.
  void Release();

 private:
  void ReadAll();

  int64_t total_;
  int64_t chunkSize_;
  ReadFn read_;
  std::vector<IoBuffer> buffers_;
  struct Slot {
    Chunk chunk;
    bool full = false;  // read, and not yet handed back by the consumer
  };
  std::vector<Slot> ring_;
  size_t next_ = 0;  // ring index of the consumer's next chunk
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace fw
