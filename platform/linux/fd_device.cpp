#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

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

bool FdDevice::Flush() {
  if (::fsync(fd_) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

}  // namespace fw
