// File access on a volume without mounting it ("files under E:\"): the FAT32/exFAT engine
// implements it over a BlockDevice window of the disk. Paths are relative to the volume's root,
// with "/" between components ("EFI/CLOVER/config.plist"); names are UTF-8, matched without
// regard to case as the file systems do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace fw {

struct VolumeEntry {
  std::string name;  // long name
  bool isDirectory = false;
  bool hidden = false;
  uint64_t size = 0;
};

class VolumeFileWriter {
 public:
  virtual ~VolumeFileWriter() = default;
  // Appends bytes; false on an I/O error or a full volume.
  virtual bool Write(const void* data, size_t length) = 0;
  // Finishes the file (directory entry with its size); false on failure, and the file is then
  // removed as by Discard.
  virtual bool Close() = 0;
  // Removes the file being written: its directory entry and every cluster it took are released,
  // as if it had never been created. (A writer destroyed without Close does the same.)
  virtual void Discard() = 0;
};

class VolumeFiles {
 public:
  virtual ~VolumeFiles() = default;

  virtual std::string FileSystemName() const = 0;  // "FAT32" or "exFAT"
  virtual std::string Label() const = 0;
  virtual bool SetLabel(const std::string& label) = 0;
  virtual uint64_t FreeBytes() const = 0;

  // Creates the folder and every missing folder on the way; true when it exists afterwards.
  virtual bool MakeDirectories(const std::string& path) = 0;
  // Creates or truncates a file; the folders on the way must exist. sizeHint lets the engine
  // allocate contiguously (0 = unknown). nullptr on failure.
  virtual std::unique_ptr<VolumeFileWriter> CreateFile(const std::string& path,
                                                       uint64_t sizeHint) = 0;
  virtual bool SetHidden(const std::string& path, bool hidden) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool ReadFile(const std::string& path, std::string& contents) = 0;
  // Reads a file in order, in pieces of at most 8 MiB, each handed to `piece`, which may stop
  // the reading by returning false. false when the file is missing, unreadable or stopped.
  virtual bool ReadFileInPieces(
      const std::string& path,
      const std::function<bool(const void* data, size_t length)>& piece) = 0;
  virtual bool ListDirectory(const std::string& path, std::vector<VolumeEntry>& entries) = 0;
  // Writes FAT/bitmap/FSInfo state out and flushes the device.
  virtual bool Flush() = 0;
};

// Opens the FAT32 or exFAT volume on `volume` (a window of the disk); nullptr when the boot
// sector holds neither or the volume is damaged. Implemented in fs/.
std::unique_ptr<VolumeFiles> OpenVolumeFiles(BlockDevice& volume);

}  // namespace fw
