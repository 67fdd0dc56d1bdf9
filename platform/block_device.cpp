#include "platform/block_device.h"

#include <cerrno>
#include <limits>

namespace fw {

bool BlockDevice::ReadSectors(uint64_t firstSector, uint64_t count, void* buffer) {
  const uint64_t ss = SectorSize();
  if (count > std::numeric_limits<size_t>::max() / ss) return false;
  const size_t bytes = static_cast<size_t>(count * ss);
  return ReadAt(firstSector * ss, buffer, bytes) == static_cast<int64_t>(bytes);
}

bool BlockDevice::WriteSectors(uint64_t firstSector, uint64_t count, const void* buffer) {
  const uint64_t ss = SectorSize();
  if (count > std::numeric_limits<size_t>::max() / ss) return false;
  const size_t bytes = static_cast<size_t>(count * ss);
  return WriteAt(firstSector * ss, buffer, bytes) == static_cast<int64_t>(bytes);
}

WindowDevice::WindowDevice(BlockDevice& base, uint64_t offset, uint64_t length)
    : base_(base), offset_(offset), length_(length) {}

int64_t WindowDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset > length_ || length > length_ - offset) {
    error_ = EINVAL;
    return -1;
  }
  error_ = 0;
  return base_.ReadAt(offset_ + offset, buffer, length);
}

int64_t WindowDevice::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (offset > length_ || length > length_ - offset) {
    error_ = EINVAL;
    return -1;
  }
  error_ = 0;
  return base_.WriteAt(offset_ + offset, buffer, length);
}

bool WindowDevice::StartWriteBack(uint64_t offset, uint64_t length) {
  if (!InWindow(offset, length)) return false;
  return base_.StartWriteBack(offset_ + offset, length);
}

bool WindowDevice::WaitWriteBack(uint64_t offset, uint64_t length) {
  if (!InWindow(offset, length)) return false;
  return base_.WaitWriteBack(offset_ + offset, length);
}

int64_t WindowDevice::StreamReadAt(uint64_t offset, void* buffer, size_t length) {
  if (!InWindow(offset, length)) return -1;
  return base_.StreamReadAt(offset_ + offset, buffer, length);
}

int64_t WindowDevice::StreamWriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (!InWindow(offset, length)) return -1;
  return base_.StreamWriteAt(offset_ + offset, buffer, length);
}

bool WindowDevice::DropCached(uint64_t offset, uint64_t length) {
  if (!InWindow(offset, length)) return false;
  return base_.DropCached(offset_ + offset, length);
}

bool WindowDevice::InWindow(uint64_t offset, uint64_t length) {
  error_ = offset > length_ || length > length_ - offset ? EINVAL : 0;
  return error_ == 0;
}

}  // namespace fw
