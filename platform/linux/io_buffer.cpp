#include "platform/io_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace fw {

namespace {
// Huge pages of the system's memory manager (x86-64 and most others).
constexpr size_t kHugePage = 2 * 1024 * 1024;
}  // namespace

IoBuffer::IoBuffer(size_t bytes) {
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t rounded = (bytes + page - 1) / page * page;
  if (rounded == 0) return;
  // A buffer of whole huge pages lets one direct transfer travel as a few large requests instead
  // of one per 1 MiB, which the device side handles markedly faster. The mapping is made one huge
  // page larger, so that its start can be moved to a huge-page boundary.
  const bool huge = rounded >= kHugePage;
  const size_t mapped = huge ? rounded + kHugePage : rounded;
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  char* start = static_cast<char*>(p);
  if (huge) {
    const auto at = reinterpret_cast<uintptr_t>(start);
    char* aligned = start + ((kHugePage - at % kHugePage) % kHugePage);
    if (aligned > start) ::munmap(start, static_cast<size_t>(aligned - start));
    const size_t tail = mapped - static_cast<size_t>(aligned - start) - rounded;
    if (tail > 0) ::munmap(aligned + rounded, tail);
    start = aligned;
    ::madvise(start, rounded, MADV_HUGEPAGE);
  }
  data_ = start;
  size_ = rounded;
}

IoBuffer::~IoBuffer() {
  if (data_) ::munmap(data_, size_);
}

IoBuffer::IoBuffer(IoBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

}  // namespace fw
