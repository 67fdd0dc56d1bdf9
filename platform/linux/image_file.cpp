#include "platform/image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fw {

namespace {

class FdImageFile final : public ImageFile {
 public:
  explicit FdImageFile(int fd) : fd_(fd) {}
  ~FdImageFile() override { ::close(fd_); }
  FdImageFile(const FdImageFile&) = delete;
  FdImageFile& operator=(const FdImageFile&) = delete;

  int64_t Read(void* buffer, size_t length) override {
    return Transfer(static_cast<char*>(buffer), length,
                    [this](char* p, size_t n) { return ::read(fd_, p, n); });
  }
  int64_t Write(const void* buffer, size_t length) override {
    const int64_t n = Transfer(static_cast<const char*>(buffer), length,
                               [this](const char* p, size_t k) { return ::write(fd_, p, k); });
    // write(2) returns 0 only when nothing more fits; name the cause.
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
  int64_t Position() const override { return position_; }
  int LastError() const override { return error_; }

 private:
  template <typename Ptr, typename Op>
  int64_t Transfer(Ptr buffer, size_t length, Op op) {
    size_t done = 0;
    error_ = 0;
    while (done < length) {
      const ssize_t n = op(buffer + done, length - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        if (done == 0) return -1;
        break;
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    position_ += static_cast<int64_t>(done);
    return static_cast<int64_t>(done);
  }

  int fd_;
  int64_t position_ = 0;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<ImageFile> ImageFile::Open(const std::string& path, Mode mode, int* error) {
  const int flags =
      mode == Mode::kCreate ? (O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  // The image is read or written once from start to end.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (error) *error = 0;
  return std::make_unique<FdImageFile>(fd);
}

int NoSpaceErrorCode() { return ENOSPC; }
int IoErrorCode() { return EIO; }

}  // namespace fw
