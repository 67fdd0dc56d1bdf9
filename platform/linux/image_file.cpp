#include "platform/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/linux/sync_range.h"

namespace fw {

namespace {

// Offset and length granularity of direct transfers on the file's file system: what the kernel
// states, else the page size, which every file system that takes direct transfers accepts.
int64_t DirectAlignment(int fd) {
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN) &&
      sx.stx_dio_offset_align > 0 && sx.stx_dio_mem_align <= 4096)
    return sx.stx_dio_offset_align;
  return 4096;
}

class FdImageFile final : public ImageFile {
 public:
  FdImageFile(int fd, bool direct)
      : fd_(fd), direct_(direct), alignment_(direct ? DirectAlignment(fd) : 1) {}
  ~FdImageFile() override { ::close(fd_); }
  FdImageFile(const FdImageFile&) = delete;
  FdImageFile& operator=(const FdImageFile&) = delete;

  int64_t Read(void* buffer, size_t length) override {
    const int64_t n = ReadAt(position_, buffer, length);
    if (n > 0) position_ += n;
    return n;
  }
  int64_t ReadAt(int64_t offset, void* buffer, size_t length) override {
    if (!Suits(offset, buffer, length)) BufferedFromHere();
    return Transfer(static_cast<char*>(buffer), length, offset,
                    [this](char* p, size_t k, off_t at) { return ::pread(fd_, p, k, at); });
  }
  int64_t Write(const void* buffer, size_t length) override {
    if (!Suits(position_, buffer, length)) BufferedFromHere();
    const int64_t n =
        Transfer(static_cast<const char*>(buffer), length, position_,
                 [this](const char* p, size_t k, off_t at) { return ::pwrite(fd_, p, k, at); });
    if (n > 0) position_ += n;
    // pwrite(2) returns 0 only when nothing more fits; name the cause.
    if (n >= 0 && static_cast<size_t>(n) < length && error_ == 0) error_ = ENOSPC;
    return n;
  }
  bool SetEndOfFile() override {
    if (::ftruncate(fd_, static_cast<off_t>(position_)) == 0) return true;
    error_ = errno;
    return false;
  }
  bool Flush() override {
    if (::fsync(fd_) == 0) return true;
    error_ = errno;
    return false;
  }
  bool StartWriteBack(int64_t offset, int64_t length) override {
    return SyncRange(fd_, offset, length, kSyncRangeStart, &error_);
  }
  bool WaitWriteBack(int64_t offset, int64_t length) override {
    return SyncRange(fd_, offset, length, kSyncRangeWait, &error_);
  }
  bool DropCached() override {
    if (!Flush()) return false;
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    return true;
  }
  int64_t Position() const override { return position_; }
  int LastError() const override { return error_; }

 private:
  bool Suits(int64_t offset, const void* buffer, size_t length) const {
    return !direct_ || (reinterpret_cast<uintptr_t>(buffer) % 4096 == 0 &&
                        offset % alignment_ == 0 && static_cast<int64_t>(length) % alignment_ == 0);
  }
  // The rest of the file goes through the cache (an unaligned tail, a file system that turned a
  // direct transfer down).
  void BufferedFromHere() {
    if (!direct_) return;
    direct_ = false;
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags != -1) ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
  }

  template <typename Ptr, typename Op>
  int64_t Transfer(Ptr buffer, size_t length, int64_t offset, Op op) {
    size_t done = 0;
    error_ = 0;
    while (done < length) {
      ssize_t n = op(buffer + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINVAL && direct_) {
        BufferedFromHere();
        n = op(buffer + done, length - done, static_cast<off_t>(offset + done));
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        if (done == 0) return -1;
        break;
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
  }

  int fd_;
  bool direct_;
  int64_t alignment_;
  int64_t position_ = 0;
  int error_ = 0;
};

}  // namespace

namespace {

ImagePathProblem ProblemOf(const struct stat& st, const BlockDevice* disk) {
  if (!S_ISREG(st.st_mode)) return ImagePathProblem::kNotRegular;
  if (disk) {
    const FileId id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    const std::vector<FileId> shown = disk->BackingFiles();
    if (std::find(shown.begin(), shown.end(), id) != shown.end())
      return ImagePathProblem::kSameStorage;
  }
  return ImagePathProblem::kNone;
}

}  // namespace

ImagePathProblem CheckImagePath(const std::string& path, const BlockDevice& disk, bool forCreate) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return forCreate && errno == ENOENT ? ImagePathProblem::kNone : ImagePathProblem::kNotRegular;
  return ProblemOf(st, &disk);
}

std::unique_ptr<ImageFile> ImageFile::Open(const std::string& path, Mode mode, int* error,
                                           const BlockDevice* other) {
  const bool create = mode == Mode::kCreate;
  // A device node or FIFO is not even opened: opening some of them has effects of its own.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (error) *error = EINVAL;
    return nullptr;
  }
  // No O_TRUNC: the file is cut only once it is known to be a plain file of its own. O_NONBLOCK
  // keeps a FIFO put in its place meanwhile from blocking the open; it means nothing for files.
  const int flags = create ? (O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                           : (O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  // Direct where the file system allows it; one that does not (EINVAL) gets the cache, and a
  // created image the copy's write-behind.
  bool direct = true;
  int fd = ::open(path.c_str(), flags | O_DIRECT, 0644);
  if (fd < 0) {
    direct = false;
    fd = ::open(path.c_str(), flags, 0644);
  }
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  int code = ::fstat(fd, &st) != 0 ? errno : 0;
  if (code == 0) {
    const ImagePathProblem problem = ProblemOf(st, other);
    if (problem == ImagePathProblem::kNotRegular) code = EINVAL;
    if (problem == ImagePathProblem::kSameStorage) code = EBUSY;
  }
  if (code == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) code = errno;
  if (code == 0 && create && ::ftruncate(fd, 0) != 0) code = errno;
  if (code != 0) {
    ::close(fd);
    if (error) *error = code;
    return nullptr;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (error) *error = 0;
  return std::make_unique<FdImageFile>(fd, direct);
}

int NoSpaceErrorCode() { return ENOSPC; }
int IoErrorCode() { return EIO; }

}  // namespace fw
