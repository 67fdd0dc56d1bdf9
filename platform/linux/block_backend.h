// The Linux block-device backend: whole disks from /sys/block (sd*, nvme*, mmcblk*, vd*, xvd*,
// hd*, and loop* with a backing file). Everything is read under a root folder ("/" normally), so
// tests give it a fake tree holding sys/block, sys/dev, proc/mounts, proc/swaps and dev/. How the
// devices stand on one another (and so which disks the system uses) is
// platform/linux/block_stack.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/disk_backend.h"

namespace fw {

// Mount points whose disk counts as a system disk.
inline constexpr const char* kSystemMountPoints[] = {"/",    "/boot", "/boot/efi",
                                                     "/usr", "/var",  "/home"};
bool IsSystemMountPoint(const std::string& target);

class BlockDiskBackend final : public DiskBackend {
 public:
  explicit BlockDiskBackend(std::string root = "/");
  std::string Name() const override { return "block"; }
  std::vector<DiskInfo> Enumerate(bool* accessDenied) override;
  std::unique_ptr<BlockDevice> Open(const DiskInfo& disk, bool forWrite, int* error) override;
  std::unique_ptr<DiskLock> Lock(const DiskInfo& disk, int* error) override;
  bool Dismount(const DiskInfo& disk, int64_t offset, int* error) override;
  bool RereadPartitions(const DiskInfo& disk, BlockDevice& device) override;

  // Only these /sys/block names are looked at when the list is not empty (the environment
  // variable FLASHWRIGHT_BLOCK_DEVICES="loop3 sdb" sets it for the process's default backend).
  void SetOnlyDevices(std::vector<std::string> names) { only_ = std::move(names); }
  const std::vector<std::string>& OnlyDevices() const { return only_; }
  // The root folder the backend reads under.
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::vector<std::string> only_;
};

// The process's default backend (root "/").
BlockDiskBackend& DefaultBlockBackend();

}  // namespace fw
