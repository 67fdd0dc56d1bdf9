#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/block_device.h"
#include "platform/linux/sync_range.h"

namespace fw {

FdDevice::FdDevice(int fd, uint32_t sectorSize, uint64_t size)
    : fd_(fd), sectorSize_(sectorSize), size_(size) {
  struct stat st {};
  const bool isBlock = fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
  if (sectorSize_ == 0) {
    int ss = 512;
    if (isBlock && ioctl(fd_, BLKSSZGET, &ss) != 0) ss = 512;
    sectorSize_ = static_cast<uint32_t>(ss > 0 ? ss : 512);
  }
  if (size_ == 0) {
    if (isBlock) {
      uint64_t bytes = 0;
      if (ioctl(fd_, BLKGETSIZE64, &bytes) == 0) size_ = bytes;
    } else if (fstat(fd_, &st) == 0) {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
}

FdDevice::~FdDevice() {
  if (directFd_ >= 0) ::close(directFd_);
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<FdDevice> FdDevice::Open(const std::string& path, bool forWrite,
                                         uint32_t sectorSize, int extraFlags) {
  const int fd = ::open(path.c_str(), (forWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | extraFlags);
  if (fd < 0) return nullptr;
  return std::make_unique<FdDevice>(fd, sectorSize, 0);
}

namespace {

// Moves `length` bytes with pread/pwrite, retrying on EINTR and partial transfers. Returns the
// bytes moved, or -1 when nothing moved because of an error (errno in *error).
template <typename Buffer, typename Op>
int64_t TransferAll(Buffer* buffer, size_t length, uint64_t offset, int* error, Op op) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = op(buffer + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return done ? static_cast<int64_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  *error = 0;
  return static_cast<int64_t>(done);
}

}  // namespace

int64_t FdDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset > size_ || length > size_ - offset) {
    error_ = EINVAL;
    return -1;
  }
  return TransferAll(static_cast<char*>(buffer), length, offset, &error_,
                     [this](char* p, size_t n, off_t at) { return ::pread(fd_, p, n, at); });
}

int64_t FdDevice::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (offset > size_ || length > size_ - offset) {
    error_ = EINVAL;
    return -1;
  }
  return TransferAll(static_cast<const char*>(buffer), length, offset, &error_,
                     [this](const char* p, size_t n, off_t at) { return ::pwrite(fd_, p, n, at); });
}

bool FdDevice::StartWriteBack(uint64_t offset, uint64_t length) {
  return SyncRange(fd_, static_cast<int64_t>(offset), static_cast<int64_t>(length), kSyncRangeStart,
                   &error_);
}

bool FdDevice::WaitWriteBack(uint64_t offset, uint64_t length) {
  return SyncRange(fd_, static_cast<int64_t>(offset), static_cast<int64_t>(length), kSyncRangeWait,
                   &error_);
}

std::vector<FileId> FdDevice::BackingFiles() const {
  std::vector<FileId> out;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return out;
  // A loop device (or a partition of one) shows its backing file, which may itself be another
  // loop device; a few steps cover every stacking a user builds by hand.
  for (int depth = 0; depth < 8; ++depth) {
    if (S_ISREG(st.st_mode)) {
      out.push_back({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
      break;
    }
    if (!S_ISBLK(st.st_mode)) break;
    const std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                            std::to_string(minor(st.st_rdev));
    std::string backing;
    for (const char* where : {"/loop/backing_file", "/../loop/backing_file"}) {
      std::ifstream in(sys + where);
      if (in && std::getline(in, backing) && !backing.empty()) break;
      backing.clear();
    }
    if (backing.empty() || ::stat(backing.c_str(), &st) != 0) break;
  }
  return out;
}

// Direct transfers skip the copy through the page cache (most of the processor time of a buffered
// copy) and its write-back, keep the device's queue full with large requests, and a direct write
// returns when the bytes are on the device, so a progress line that follows the writes follows
// the device. Ranges a direct transfer cannot take (an unaligned tail) go through the cache.
bool FdDevice::SuitsDirect(uint64_t offset, const void* buffer, size_t length) {
  // Out of range goes the plain way too, which refuses it.
  if (length == 0 || offset > size_ || length > size_ - offset) return false;
  if (reinterpret_cast<uintptr_t>(buffer) % 4096 != 0 || DirectFd() == kNoDirectFd) return false;
  return offset % directAlignment_ == 0 && length % directAlignment_ == 0;
}

bool FdDevice::TurnedDown(int64_t moved) {
  if (moved >= 0 || error_ != EINVAL) return false;
  // The device turned a direct transfer down after all: none from here on.
  ::close(directFd_);
  directFd_ = kNoDirectFd;
  return true;
}

int64_t FdDevice::StreamReadAt(uint64_t offset, void* buffer, size_t length) {
  if (!SuitsDirect(offset, buffer, length)) return ReadAt(offset, buffer, length);
  const int64_t n =
      TransferAll(static_cast<char*>(buffer), length, offset, &error_,
                  [this](char* p, size_t k, off_t at) { return ::pread(directFd_, p, k, at); });
  return TurnedDown(n) ? ReadAt(offset, buffer, length) : n;
}

int64_t FdDevice::StreamWriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (!SuitsDirect(offset, buffer, length)) return WriteAt(offset, buffer, length);
  const int64_t n = TransferAll(
      static_cast<const char*>(buffer), length, offset, &error_,
      [this](const char* p, size_t k, off_t at) { return ::pwrite(directFd_, p, k, at); });
  return TurnedDown(n) ? WriteAt(offset, buffer, length) : n;
}

bool FdDevice::DropCached(uint64_t offset, uint64_t length) {
  // Dirty pages are not dropped: write the range out and wait for it first.
  if (!SyncRange(fd_, static_cast<int64_t>(offset), static_cast<int64_t>(length), kSyncRangeWait,
                 &error_))
    return false;
  const int rc = ::posix_fadvise(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                                 POSIX_FADV_DONTNEED);
  if (rc != 0 && rc != ESPIPE) {
    error_ = rc;
    return false;
  }
  return true;
}

int FdDevice::DirectFd() {
  if (directFd_ != kNotOpenedYet) return directFd_;
  directFd_ = kNoDirectFd;
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags == -1) return directFd_;
  // The same file opened a second time, so that the descriptor the rest of the program uses for
  // small, unaligned transfers stays buffered. A block device's exclusive claim belongs to the
  // lock's own descriptor and is not needed here.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const int fd = ::open(self.c_str(), (flags & O_ACCMODE) | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return directFd_;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    return directFd_;
  }
  // The granularity the kernel states for direct transfers; where it states none, a block
  // device's logical sector and, for a file, the page size cover every case met in practice.
  uint64_t alignment = S_ISBLK(st.st_mode) ? 512 : 4096;
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN) &&
      sx.stx_dio_offset_align > 0) {
    if (sx.stx_dio_mem_align > 4096) {
      ::close(fd);
      return directFd_;
    }
    alignment = sx.stx_dio_offset_align;
  } else if (S_ISBLK(st.st_mode)) {
    int logical = 0;
    if (ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0) alignment = uint64_t(logical);
  }
  directAlignment_ = alignment;
  directFd_ = fd;
  return directFd_;
}

bool FdDevice::Flush() {
  if (::fsync(fd_) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

}  // namespace fw
