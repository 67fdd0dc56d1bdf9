// A random-access device of whole sectors: a block device, a disk-image file, or a window
// (offset, length) of either. Everything that moves sectors (raw access, the FAT32/exFAT engine,
// backup and restore) goes through this interface, so tests can put a fault-injecting fake under
// any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

// A stored file by identity: the device number of its file system and its inode number.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;

  virtual uint32_t SectorSize() const = 0;
  virtual uint64_t SizeBytes() const = 0;
  uint64_t SectorCount() const { return SizeBytes() / SectorSize(); }

  // Positioned transfers of any byte length inside the device. They return the number of bytes
  // moved (short on a short transfer) or -1 on an error (errno-style code in LastError()).
  // A transfer that would reach past SizeBytes() moves nothing and returns -1 (EINVAL).
  virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  virtual int64_t WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;
  virtual bool Flush() = 0;
  virtual int LastError() const = 0;

  // Write-behind for long sequential writes: StartWriteBack asks the system to begin writing the
  // range to the storage without waiting; WaitWriteBack waits until the range has reached it.
  // false (LastError() set) when the storage reported an error for the range. Devices without a
  // write cache do nothing and return true.
  virtual bool StartWriteBack(uint64_t /*offset*/, uint64_t /*length*/) { return true; }
  virtual bool WaitWriteBack(uint64_t /*offset*/, uint64_t /*length*/) { return true; }

  // The files whose bytes this device shows: the disk-image file itself, or the file behind a
  // loop device (through every loop device on the way). Empty when it shows no file. A copy
  // between the device and one of these files would overwrite what it reads.
  virtual std::vector<FileId> BackingFiles() const { return {}; }

  // Transfers of a long copy that moves each byte once (backup, restore, read-back checks): they
  // go straight between the buffer and the storage, past the system's cache, when the buffer
  // (4096-aligned), offset and length suit the device, so a write returns only when its bytes
  // have reached the device and a read gets what the storage holds. Otherwise they are plain
  // ReadAt and WriteAt, with the same results.
  virtual int64_t StreamReadAt(uint64_t offset, void* buffer, size_t length) {
    return ReadAt(offset, buffer, length);
  }
  virtual int64_t StreamWriteAt(uint64_t offset, const void* buffer, size_t length) {
    return WriteAt(offset, buffer, length);
  }
  // Writes what the system holds of the range to the storage and lets go of its cached copy, so
  // that what is read next comes from the storage itself, not from memory. false (LastError()
  // set) when the storage reported an error. Devices without a cache do nothing.
  virtual bool DropCached(uint64_t /*offset*/, uint64_t /*length*/) { return true; }

  // Whole-sector convenience wrappers: true only when every byte moved.
  bool ReadSectors(uint64_t firstSector, uint64_t count, void* buffer);
  bool WriteSectors(uint64_t firstSector, uint64_t count, const void* buffer);
};

// A window of another device: offsets are relative to `offset`, the size is `length`.
// The window never reaches outside its range.
class WindowDevice final : public BlockDevice {
 public:
  WindowDevice(BlockDevice& base, uint64_t offset, uint64_t length);
  uint32_t SectorSize() const override { return base_.SectorSize(); }
  uint64_t SizeBytes() const override { return length_; }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t length) override;
  bool Flush() override { return base_.Flush(); }
  int LastError() const override { return error_ ? error_ : base_.LastError(); }
  bool StartWriteBack(uint64_t offset, uint64_t length) override;
  bool WaitWriteBack(uint64_t offset, uint64_t length) override;
  std::vector<FileId> BackingFiles() const override { return base_.BackingFiles(); }
  int64_t StreamReadAt(uint64_t offset, void* buffer, size_t length) override;
  int64_t StreamWriteAt(uint64_t offset, const void* buffer, size_t length) override;
  bool DropCached(uint64_t offset, uint64_t length) override;

 private:
  // false (EINVAL) when [offset, offset + length) reaches outside the window.
  bool InWindow(uint64_t offset, uint64_t length);

  BlockDevice& base_;
  uint64_t offset_;
  uint64_t length_;
  int error_ = 0;
};

// A device over an open file descriptor (block device node or regular file). Owns the fd.
class FdDevice final : public BlockDevice {
 public:
  // sectorSize: logical sector size to present; size: bytes (0 = ask the fd).
  FdDevice(int fd, uint32_t sectorSize, uint64_t size);
  ~FdDevice() override;
  FdDevice(const FdDevice&) = delete;
  FdDevice& operator=(const FdDevice&) = delete;

  // Opens `path` read-only or read-write; nullptr (errno set) on failure.
  static std::unique_ptr<FdDevice> Open(const std::string& path, bool forWrite,
                                        uint32_t sectorSize = 0, int extraFlags = 0);

  uint32_t SectorSize() const override { return sectorSize_; }
  uint64_t SizeBytes() const override { return size_; }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t length) override;
  bool Flush() override;
  int LastError() const override { return error_; }
  bool StartWriteBack(uint64_t offset, uint64_t length) override;
  bool WaitWriteBack(uint64_t offset, uint64_t length) override;
  std::vector<FileId> BackingFiles() const override;
  int64_t StreamReadAt(uint64_t offset, void* buffer, size_t length) override;
  int64_t StreamWriteAt(uint64_t offset, const void* buffer, size_t length) override;
  bool DropCached(uint64_t offset, uint64_t length) override;
  int fd() const { return fd_; }
  // True when streaming writes of aligned ranges go straight to the storage.
  bool WritesDirect() { return DirectFd() != kNoDirectFd; }

 private:
  static constexpr int kNotOpenedYet = -2;
  static constexpr int kNoDirectFd = -1;
  // The descriptor for direct transfers, opened on first use; kNoDirectFd when the device or its
  // file system takes none.
  int DirectFd();
  // True when the transfer can go through DirectFd() (which it opens on first use).
  bool SuitsDirect(uint64_t offset, const void* buffer, size_t length);
  // True (and no direct transfers from here on) when a direct transfer that moved nothing was
  // refused with EINVAL, so that the caller repeats it the plain way.
  bool TurnedDown(int64_t moved);

  int fd_;
  uint32_t sectorSize_;
  uint64_t size_;
  int error_ = 0;
  int directFd_ = kNotOpenedYet;
  uint64_t directAlignment_ = 4096;  // offset and length granularity of direct transfers
};

}  // namespace fw
