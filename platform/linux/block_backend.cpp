#include "platform/linux/block_backend.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "app/log.h"
#include "platform/linux/block_stack.h"

namespace fw {

namespace {

bool StartsWith(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }

bool IsWholeDiskName(const std::string& n) {
  if (StartsWith(n, "mmcblk"))
    return n.find("boot") == std::string::npos && n.find("rpmb") == std::string::npos;
  if (StartsWith(n, "nvme")) return n.find('c') == std::string::npos || n.find('c') == 0;
  return StartsWith(n, "sd") || StartsWith(n, "vd") || StartsWith(n, "xvd") ||
         StartsWith(n, "hd") || StartsWith(n, "loop");
}

int BusCodeOf(const std::string& sysPath, const std::string& root, const std::string& name) {
  char buf[4096];
  const ssize_t n = ::readlink(RootJoin(root, "/sys/block/" + name).c_str(), buf, sizeof buf - 1);
  const std::string link = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  if (StartsWith(name, "loop")) return 15;
  if (link.find("/usb") != std::string::npos) return 7;
  if (link.find("/nvme") != std::string::npos || StartsWith(name, "nvme")) return 17;
  if (link.find("/mmc") != std::string::npos || StartsWith(name, "mmcblk")) {
    return SysReadLine(sysPath + "/device/type") == "SD" ? 12 : 13;
  }
  if (link.find("/ata") != std::string::npos) return 11;
  if (link.find("/virtio") != std::string::npos) return 14;
  if (link.find("/host") != std::string::npos) return 1;
  return 0;
}

// The exclusive claim: the O_EXCL descriptors of the disk and of every loop device that shows
// bytes of it (over the same backing file, or over the disk or one of its partitions).
class ExclLock final : public DiskLock {
 public:
  explicit ExclLock(std::vector<int> fds) : fds_(std::move(fds)) {}
  ~ExclLock() override {
    for (int fd : fds_) ::close(fd);
  }

 private:
  std::vector<int> fds_;
};

// The kernel's media sequence number of an open disk; 0 when it does not tell.
uint64_t DiskSeqOf(int fd) {
#ifdef BLKGETDISKSEQ
  uint64_t seq = 0;
  if (::ioctl(fd, BLKGETDISKSEQ, &seq) == 0) return seq;
#else
  (void)fd;
#endif
  return 0;
}

// False (and logged) when the device behind `fd` is no longer the disk the inventory listed.
bool SameDisk(const DiskInfo& disk, int fd) {
  const uint64_t seq = disk.diskSeq ? DiskSeqOf(fd) : 0;
  if (seq != 0 && seq != disk.diskSeq) {
    FW_LOG(disk.name + " is another disk than the one listed (media sequence " +
           std::to_string(disk.diskSeq) + ", now " + std::to_string(seq) + "); not opened");
    return false;
  }
  return true;
}

}  // namespace

bool IsSystemMountPoint(const std::string& target) {
  for (const char* m : kSystemMountPoints)
    if (target == m) return true;
  return false;
}

BlockDiskBackend::BlockDiskBackend(std::string root) : root_(std::move(root)) {
  if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

BlockDiskBackend& DefaultBlockBackend() {
  static BlockDiskBackend* backend = [] {
    auto* b = new BlockDiskBackend("/");
    if (const char* only = std::getenv("FLASHWRIGHT_BLOCK_DEVICES")) {
      std::istringstream in(only);
      std::vector<std::string> names;
      std::string n;
      while (in >> n) names.push_back(n);
      // An empty list in the variable means: no block device at all.
      if (names.empty()) names.push_back("/");
      b->SetOnlyDevices(names);
    }
    return b;
  }();
  return *backend;
}

std::vector<DiskInfo> BlockDiskBackend::Enumerate(bool* accessDenied) {
  if (accessDenied) *accessDenied = false;
  std::vector<DiskInfo> out;
  const BlockStack stack(root_);

  for (const std::string& name : SysListDir(RootJoin(root_, "/sys/block"))) {
    if (!IsWholeDiskName(name)) continue;
    if (!only_.empty() && std::find(only_.begin(), only_.end(), name) == only_.end()) continue;
    const std::string sys = RootJoin(root_, "/sys/block/" + name);
    DiskInfo d;
    d.key = "block:" + name;
    d.name = name;
    d.devicePath = RootJoin(root_, "/dev/" + name);
    std::string backing;
    if (StartsWith(name, "loop")) {
      backing = SysReadLine(sys + "/loop/backing_file");
      if (backing.empty()) continue;  // an unused loop device
    }
    const int64_t sectors512 = std::atoll(SysReadLine(sys + "/size").c_str());
    if (sectors512 <= 0) {
      FW_LOG(name + ": no medium");
      continue;
    }
    d.DiskLength = sectors512 * 512;
    d.diskSeq = std::strtoull(SysReadLine(sys + "/diskseq").c_str(), nullptr, 10);
    const int lbs = std::atoi(SysReadLine(sys + "/queue/logical_block_size").c_str());
    d.BytesPerSector = (lbs >= 512 && lbs <= 65536) ? static_cast<uint32_t>(lbs) : 512;
    d.DriveType = SysReadLine(sys + "/removable") == "1" ? 2 : 3;
    d.busCode = BusCodeOf(sys, root_, name);
    if (!backing.empty()) {
      d.ProductId = backing.substr(backing.rfind('/') + 1);
    } else if (StartsWith(name, "mmcblk")) {
      d.ProductId = SysReadLine(sys + "/device/name");
    } else {
      d.VendorId = SysReadLine(sys + "/device/vendor");
      d.ProductId = SysReadLine(sys + "/device/model");
    }
    if (StartsWith(name, "nvme")) d.VendorId.clear();

    // What the running system uses of it, directly or through what it is stacked on.
    const std::string why = stack.SystemUse(name, &d.rootPartitionOffset);
    if (!why.empty()) {
      d.systemDisk = true;
      FW_LOG(name + " is a system disk: " + why);
    }

    // Rights: a disk this process cannot open is still listed by the inventory's open, which
    // then fails; report the lack of rights once here.
    if (::access(d.devicePath.c_str(), R_OK) != 0 && errno == EACCES && accessDenied)
      *accessDenied = true;
    out.push_back(d);
  }
  return out;
}

std::unique_ptr<BlockDevice> BlockDiskBackend::Open(const DiskInfo& disk, bool forWrite,
                                                    int* error) {
  if (forWrite && disk.systemDisk) {
    FW_LOG("refused write access to system disk " + disk.name);
    if (error) *error = EPERM;
    return nullptr;
  }
  const int fd = ::open(disk.devicePath.c_str(), (forWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
    // Only block devices here; a fake tree's plain files stand in for nothing.
    ::close(fd);
    if (error) *error = ENOTBLK;
    return nullptr;
  }
  if (!SameDisk(disk, fd)) {
    ::close(fd);
    if (error) *error = ENODEV;
    return nullptr;
  }
  auto dev = std::make_unique<FdDevice>(fd, 0, 0);
  if (dev->SizeBytes() == 0) {
    FW_LOG(disk.name + ": no medium");
    if (error) *error = ENOMEDIUM;
    return nullptr;
  }
  if (disk.DiskLength > 0 && dev->SizeBytes() != static_cast<uint64_t>(disk.DiskLength)) {
    // Its partitions were read for the old size; a fresh inventory must look again.
    FW_LOG(disk.name + " changed size since it was listed (" + std::to_string(disk.DiskLength) +
           ", now " + std::to_string(dev->SizeBytes()) + " bytes); not opened");
    if (error) *error = ENODEV;
    return nullptr;
  }
  return dev;
}

std::unique_ptr<DiskLock> BlockDiskBackend::Lock(const DiskInfo& disk, int* error) {
  const int fd = ::open(disk.devicePath.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  std::vector<int> fds{fd};
  auto giveUp = [&](int code) {
    for (int f : fds) ::close(f);
    if (error) *error = code;
    return nullptr;
  };
  if (!SameDisk(disk, fd)) return giveUp(ENODEV);
  for (const StackedDevice& above : BlockStack(root_).Above(disk.name)) {
    if (!above.isLoop) continue;  // a partition's use already makes the disk's O_EXCL fail
    const int wfd =
        ::open(RootJoin(root_, "/dev/" + above.name).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (wfd < 0) {
      const int code = errno;
      if (code == ENOENT) continue;  // no node: nothing can use it through /dev
      FW_LOG(disk.name + ": " + above.name + " over its bytes is in use (" + std::to_string(code) +
             ")");
      return giveUp(code);
    }
    fds.push_back(wfd);
  }
  return std::make_unique<ExclLock>(std::move(fds));
}

bool BlockDiskBackend::Dismount(const DiskInfo& disk, int64_t offset, int* error) {
  // The partition at `offset`, and every loop device that shows it (or more): those are the
  // sources of its mounts.
  const BlockStack stack(root_);
  std::vector<std::string> names;
  for (const StackedDevice& p : stack.Above(disk.name)) {
    const bool shows =
        p.isLoop ? (p.startBytes <= offset && offset < p.endBytes) : p.startBytes == offset;
    if (offset < 0 || shows) names.push_back(p.name);
  }
  if (offset < 0) names.push_back(disk.name);
  bool ok = true;
  for (const MountEntry& m : stack.Mounts()) {
    if (std::find(names.begin(), names.end(), m.sourceName) == names.end()) continue;
    if (IsSystemMountPoint(m.target)) {
      ok = false;
      if (error) *error = EBUSY;
      continue;
    }
    if (::umount2(RootJoin(root_, m.target).c_str(), 0) != 0) {
      if (error) *error = errno;
      FW_LOG("Error umount " + m.target + " (" + std::to_string(errno) + ")");
      ok = false;
    } else {
      FW_LOG("unmounted " + m.target);
    }
  }
  return ok;
}

bool BlockDiskBackend::RereadPartitions(const DiskInfo&, BlockDevice& device) {
  auto* fdDev = dynamic_cast<FdDevice*>(&device);
  if (!fdDev) return false;
  return ::ioctl(fdDev->fd(), BLKRRPART) == 0;
}

}  // namespace fw
