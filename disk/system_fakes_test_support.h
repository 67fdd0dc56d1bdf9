// For tests of the system's side of the disks: plain files that pose as named disks of any bus
// (a USB stick "sdz", a loop device, the system disk), a removal service that records what it is
// asked and refuses as often as told, and a clock whose pauses move its time on.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/clock.h"
#include "platform/block_device.h"
#include "platform/disk_backend.h"
#include "platform/drive_removal.h"

namespace fw {

// Disks made of files: Open reads and writes the file, Lock always succeeds, Dismount records
// the call and answers as told.
class FileDiskBackend final : public DiskBackend {
 public:
  std::string Name() const override { return "files"; }
  std::vector<DiskInfo> Enumerate(bool*) override { return disks; }
  std::unique_ptr<BlockDevice> Open(const DiskInfo& disk, bool forWrite, int* error) override {
    std::unique_ptr<BlockDevice> dev = FdDevice::Open(disk.devicePath, forWrite, 512);
    if (!dev && error) *error = errno;
    return dev;
  }
  std::unique_ptr<DiskLock> Lock(const DiskInfo&, int*) override {
    return std::make_unique<DiskLock>();
  }
  bool Dismount(const DiskInfo& disk, int64_t offset, int* error) override {
    dismounted.push_back(disk.name + "@" + std::to_string(offset));
    if (!dismountSucceeds && error) *error = EBUSY;
    return dismountSucceeds;
  }
  bool RereadPartitions(const DiskInfo&, BlockDevice&) override { return true; }

  // Adds a disk named `name` ("sdz", "loop7") over a new file of `bytes` in `folder`, with an
  // MBR of one partition per entry of `partitionMiB` (1 MiB apart).
  DiskInfo& Add(const std::filesystem::path& folder, const std::string& name, int busCode,
                std::vector<uint32_t> partitionMiB, int64_t bytes = 64 << 20) {
    DiskInfo d;
    d.key = "files:" + name;
    d.name = name;
    d.devicePath = (folder / (name + ".disk")).string();
    d.busCode = busCode;
    d.VendorId = "Fake";
    d.ProductId = name;
    d.DriveType = busCode == 7 ? 2 : 3;
    d.DiskLength = bytes;
    std::vector<uint8_t> sector(512, 0);
    uint32_t start = 2048;
    for (size_t i = 0; i < partitionMiB.size() && i < 4; ++i) {
      uint8_t* e = sector.data() + 0x1BE + i * 16;
      const uint32_t count = partitionMiB[i] * 2048;
      e[4] = 0x0C;
      std::memcpy(e + 8, &start, 4);
      std::memcpy(e + 12, &count, 4);
      start += count + 2048;
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    {
      std::ofstream out(d.devicePath, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(sector.data()), 512);
    }
    std::filesystem::resize_file(d.devicePath, static_cast<uintmax_t>(bytes));
    disks.push_back(d);
    return disks.back();
  }

  std::vector<DiskInfo> disks;
  std::vector<std::string> dismounted;
  bool dismountSucceeds = true;
};

// Records every request; UDisks and the other removals refuse `refusals` times, then accept.
class RecordingRemovalService final : public DriveRemovalService {
 public:
  bool Flush(const std::string& devicePath, std::string* reason) override {
    calls.push_back("Flush " + devicePath);
    if (!flushSucceeds) *reason = "flush refused";
    return flushSucceeds;
  }
  bool UDisksAnswers(std::string* reason) override {
    if (!udisks) *reason = "udisks2 does not answer: test";
    return udisks;
  }
  bool UDisksRemove(const std::string& devicePath, std::string* reason) override {
    return Answer("UDisksRemove " + devicePath, reason);
  }
  bool DeleteDevice(const std::string& name, std::string* reason) override {
    return Answer("DeleteDevice " + name, reason);
  }
  bool DetachLoop(const std::string& devicePath, std::string* reason) override {
    return Answer("DetachLoop " + devicePath, reason);
  }

  std::vector<std::string> calls;
  bool udisks = false;
  bool flushSucceeds = true;
  int refusals = 0;

 private:
  bool Answer(const std::string& call, std::string* reason) {
    calls.push_back(call);
    if (refusals > 0) {
      --refusals;
      *reason = "busy";
      return false;
    }
    return true;
  }
};

// Time stands still except through pauses, which move it on at once.
class SteppingClock final : public Clock {
 public:
  void Pause(int64_t ms) override {
    pauses.push_back(ms);
    now += ms;
  }
  int64_t NowMs() const override { return now; }
  int64_t TotalPausedMs() const {
    int64_t total = 0;
    for (int64_t p : pauses) total += p;
    return total;
  }
  std::vector<int64_t> pauses;
  int64_t now = 100000;
};

}  // namespace fw
