// Sequential access to a partition image file: created anew (truncating an old one) for a backup,
// opened read-only for a restore. Only regular files (or a new name) are taken, and never the
// file that the disk at the other end of the copy shows. Positions advance with every transfer;
// transfers of any length are moved whole (retrying partial system transfers), so a short count
// means end of file on reading or a full file system / error on writing.
//
// Transfers go straight between the buffer and the storage, past the system's cache, while the
// buffer (4096-aligned), position and length allow it; from an unaligned transfer on (a tail)
// they go through the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/block_device.h"

namespace fw {

// Why a path cannot be the image file of a copy to or from a disk.
enum class ImagePathProblem {
  kNone,
  kNotRegular,   // a device node, FIFO, socket or folder (for a backup: not a new name either)
  kSameStorage,  // it holds the very bytes of the disk being copied
};
// Looks at `path` (following links) against `disk`, the other end of the copy. A missing path
// is fine for a backup (forCreate) and kNotRegular for a restore.
ImagePathProblem CheckImagePath(const std::string& path, const BlockDevice& disk, bool forCreate);

class ImageFile {
 public:
  enum class Mode { kCreate, kRead };
  virtual ~ImageFile() = default;

  // Opens `path`; nullptr on failure with the system error code in *error. `other` is the disk at
  // the other end of the copy: the file that is opened is checked again as CheckImagePath does
  // (EINVAL: not a regular file, EBUSY: the disk's own storage), and only then does kCreate cut
  // an existing file to nothing.
  static std::unique_ptr<ImageFile> Open(const std::string& path, Mode mode, int* error,
                                         const BlockDevice* other = nullptr);

  // Bytes moved (possibly short), or -1 when nothing moved because of an error (LastError()).
  virtual int64_t Read(void* buffer, size_t length) = 0;
  virtual int64_t Write(const void* buffer, size_t length) = 0;
  // Cuts the file at the current position.
  virtual bool SetEndOfFile() = 0;
  // Writes buffered data through to the storage.
  virtual bool Flush() = 0;
  // Write-behind of a range already written: start its way to the storage without waiting, or
  // wait until it is there. false (LastError() set) when the storage reported an error.
  virtual bool StartWriteBack(int64_t /*offset*/, int64_t /*length*/) { return true; }
  virtual bool WaitWriteBack(int64_t /*offset*/, int64_t /*length*/) { return true; }
  // Reads at `offset` without moving the position; the same counts as Read.
  virtual int64_t ReadAt(int64_t offset, void* buffer, size_t length) = 0;
  // Writes what the system holds of the file to the storage and lets go of its cached copy, so
  // that what is read next comes from the storage (the read-back check).
  virtual bool DropCached() = 0;
  virtual int64_t Position() const = 0;
  virtual int LastError() const = 0;
};

// Error code the platform uses for "no space left on the device" and for "input/output error".
int NoSpaceErrorCode();
int IoErrorCode();

}  // namespace fw
