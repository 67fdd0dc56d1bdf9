// A buffer for long copies: page-aligned, so that direct transfers (past the system's cache) can
// use it, and taken from the system and given back to it as a whole. Buffers of this size kept in
// the heap after a job would stay resident for the rest of the program's life.
#pragma once

#include <cstddef>

namespace fw {

class IoBuffer {
 public:
  // `bytes` rounded up to whole pages; data() is nullptr when the system has no memory for it.
  explicit IoBuffer(size_t bytes);
  ~IoBuffer();
  IoBuffer(IoBuffer&& other) noexcept;
  IoBuffer& operator=(IoBuffer&&) = delete;
  IoBuffer(const IoBuffer&) = delete;
  IoBuffer& operator=(const IoBuffer&) = delete;

  char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace fw
