#include "platform/linux/block_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/log.h"

namespace fw {

namespace {

std::string ReadLine(const std::string& path) {
  std::ifstream f(path);
  std::string s;
  if (f) std::getline(f, s);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t'))
    s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> out;
  DIR* d = opendir(path.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") out.push_back(n);
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

bool StartsWith(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }

bool IsWholeDiskName(const std::string& n) {
  if (StartsWith(n, "mmcblk"))
    return n.find("boot") == std::string::npos && n.find("rpmb") == std::string::npos;
  if (StartsWith(n, "nvme")) return n.find('c') == std::string::npos || n.find('c') == 0;
  return StartsWith(n, "sd") || StartsWith(n, "vd") || StartsWith(n, "xvd") ||
         StartsWith(n, "hd") || StartsWith(n, "loop");
}

std::string Join(const std::string& root, const std::string& path) {
  if (root.empty() || root == "/") return path;
  return root + path;
}

// One partition of a whole disk as sysfs shows it.
struct SysPartition {
  std::string name;
  std::string dev;  // "8:17"
  int64_t startBytes = 0;
  bool hasHolders = false;
};

// The base name of a mount source after following symlinks inside the root ("/dev/disk/by-uuid/x"
// -> "sdb1"); "" for sources that are not device paths.
std::string SourceName(const std::string& root, const std::string& source) {
  if (!StartsWith(source, "/dev/")) return "";
  std::string p = Join(root, source);
  char buf[4096];
  for (int i = 0; i < 8; ++i) {
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
    if (n <= 0) break;
    buf[n] = 0;
    std::string target(buf);
    if (target[0] == '/') {
      p = Join(root, target);
    } else {
      p = p.substr(0, p.rfind('/') + 1) + target;
    }
  }
  return p.substr(p.rfind('/') + 1);
}

std::string DevOfPath(const std::string& path, bool nodeRdev) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  const dev_t d = nodeRdev ? st.st_rdev : st.st_dev;
  if (nodeRdev && !S_ISBLK(st.st_mode)) return "";
  return std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

struct MountEntry {
  std::string source, target, sourceName, sourceDev;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<MountEntry> ReadMounts(const std::string& root) {
  std::vector<MountEntry> out;
  std::ifstream f(Join(root, "/proc/mounts"));
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    MountEntry m;
    if (!(in >> m.source >> m.target)) continue;
    m.source = Unescape(m.source);
    m.target = Unescape(m.target);
    m.sourceName = SourceName(root, m.source);
    if (root == "/" && StartsWith(m.source, "/dev/")) m.sourceDev = DevOfPath(m.source, true);
    out.push_back(m);
  }
  return out;
}

std::vector<std::string> ReadSwaps(const std::string& root) {
  std::vector<std::string> out;
  std::ifstream f(Join(root, "/proc/swaps"));
  std::string line;
  std::getline(f, line);  // header
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string src;
    if (in >> src) out.push_back(SourceName(root, src));
  }
  return out;
}

bool IsSystemMountPoint(const std::string& target) {
  for (const char* m : kSystemMountPoints)
    if (target == m) return true;
  return false;
}

int BusCodeOf(const std::string& sysPath, const std::string& root, const std::string& name) {
  char buf[4096];
  const ssize_t n = ::readlink(Join(root, "/sys/block/" + name).c_str(), buf, sizeof buf - 1);
  const std::string link = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  if (StartsWith(name, "loop")) return 15;
  if (link.find("/usb") != std::string::npos) return 7;
  if (link.find("/nvme") != std::string::npos || StartsWith(name, "nvme")) return 17;
  if (link.find("/mmc") != std::string::npos || StartsWith(name, "mmcblk")) {
    return ReadLine(sysPath + "/device/type") == "SD" ? 12 : 13;
  }
  if (link.find("/ata") != std::string::npos) return 11;
  if (link.find("/virtio") != std::string::npos) return 14;
  if (link.find("/host") != std::string::npos) return 1;
  return 0;
}

// The exclusive claim: the O_EXCL descriptors of the disk and of every loop device that shows
// bytes of the same backing file.
class ExclLock final : public DiskLock {
 public:
  explicit ExclLock(std::vector<int> fds) : fds_(std::move(fds)) {}
  ~ExclLock() override {
    for (int fd : fds_) ::close(fd);
  }

 private:
  std::vector<int> fds_;
};

// A loop device and the byte range of its backing file that it shows.
struct LoopWindow {
  std::string name;
  std::string dev;   // "7:1"
  std::string file;  // identity of the backing file: "dev:ino", or its path when it is gone
  uint64_t start = 0;
  uint64_t end = 0;
};

std::vector<LoopWindow> ReadLoopWindows(const std::string& root) {
  std::vector<LoopWindow> out;
  for (const std::string& name : ListDir(Join(root, "/sys/block"))) {
    if (!StartsWith(name, "loop")) continue;
    const std::string sys = Join(root, "/sys/block/" + name);
    const std::string backing = ReadLine(sys + "/loop/backing_file");
    if (backing.empty()) continue;
    LoopWindow w;
    w.name = name;
    w.dev = ReadLine(sys + "/dev");
    struct stat st {};
    if (::stat(backing.c_str(), &st) == 0)
      w.file = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    else
      w.file = "path:" + backing;
    w.start = std::strtoull(ReadLine(sys + "/loop/offset").c_str(), nullptr, 10);
    w.end = w.start + std::strtoull(ReadLine(sys + "/size").c_str(), nullptr, 10) * 512;
    out.push_back(w);
  }
  return out;
}

const LoopWindow* FindLoop(const std::vector<LoopWindow>& all, const std::string& name) {
  for (const LoopWindow& w : all)
    if (w.name == name) return &w;
  return nullptr;
}

// The other loop devices over bytes of the same file as loop `name`. The kernel sees no relation
// between them, so they are to a loop disk what partitions are to a stick: while one of them is
// mounted or held, writing the disk would pull the ground from under its user.
std::vector<LoopWindow> OverlappingLoops(const std::vector<LoopWindow>& all,
                                         const std::string& name) {
  std::vector<LoopWindow> out;
  const LoopWindow* me = FindLoop(all, name);
  if (!me) return out;
  for (const LoopWindow& w : all)
    if (w.name != name && w.file == me->file && w.start < me->end && me->start < w.end)
      out.push_back(w);
  return out;
}

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
  const std::vector<MountEntry> mounts = ReadMounts(root_);
  const std::vector<std::string> swaps = ReadSwaps(root_);
  const std::vector<LoopWindow> loops = ReadLoopWindows(root_);
  // Devices of the system mount points, by device number (real root only: catches /dev/root).
  std::vector<std::string> systemDevs;
  if (root_ == "/")
    for (const char* m : kSystemMountPoints) {
      const std::string d = DevOfPath(m, false);
      if (!d.empty() && !StartsWith(d, "0:")) systemDevs.push_back(d);
    }

  for (const std::string& name : ListDir(Join(root_, "/sys/block"))) {
    if (!IsWholeDiskName(name)) continue;
    if (!only_.empty() && std::find(only_.begin(), only_.end(), name) == only_.end()) continue;
    const std::string sys = Join(root_, "/sys/block/" + name);
    DiskInfo d;
    d.key = "block:" + name;
    d.name = name;
    d.devicePath = Join(root_, "/dev/" + name);
    std::string backing;
    if (StartsWith(name, "loop")) {
      backing = ReadLine(sys + "/loop/backing_file");
      if (backing.empty()) continue;  // an unused loop device
    }
    const int64_t sectors512 = std::atoll(ReadLine(sys + "/size").c_str());
    if (sectors512 <= 0) {
      FW_LOG(name + ": no medium");
      continue;
    }
    d.DiskLength = sectors512 * 512;
    d.diskSeq = std::strtoull(ReadLine(sys + "/diskseq").c_str(), nullptr, 10);
    const int lbs = std::atoi(ReadLine(sys + "/queue/logical_block_size").c_str());
    d.BytesPerSector = (lbs >= 512 && lbs <= 65536) ? static_cast<uint32_t>(lbs) : 512;
    d.DriveType = ReadLine(sys + "/removable") == "1" ? 2 : 3;
    d.busCode = BusCodeOf(sys, root_, name);
    if (!backing.empty()) {
      d.ProductId = backing.substr(backing.rfind('/') + 1);
    } else if (StartsWith(name, "mmcblk")) {
      d.ProductId = ReadLine(sys + "/device/name");
    } else {
      d.VendorId = ReadLine(sys + "/device/vendor");
      d.ProductId = ReadLine(sys + "/device/model");
    }
    if (StartsWith(name, "nvme")) d.VendorId.clear();

    // Partitions and what the running system uses of them.
    std::vector<SysPartition> parts;
    for (const std::string& sub : ListDir(sys)) {
      if (!StartsWith(sub, name.c_str()) || !Exists(sys + "/" + sub + "/partition")) continue;
      SysPartition p;
      p.name = sub;
      p.dev = ReadLine(sys + "/" + sub + "/dev");
      p.startBytes = std::atoll(ReadLine(sys + "/" + sub + "/start").c_str()) * 512;
      p.hasHolders = !ListDir(sys + "/" + sub + "/holders").empty();
      parts.push_back(p);
    }
    const std::string diskDev = ReadLine(sys + "/dev");
    std::string why;
    if (!ListDir(sys + "/holders").empty()) why = "the disk has holders";
    // Loop devices over the same file count as partitions (the whole disk when they start
    // before it).
    const LoopWindow* self = FindLoop(loops, name);
    for (const LoopWindow& w : OverlappingLoops(loops, name)) {
      SysPartition p;
      p.name = w.name;
      p.dev = w.dev;
      p.startBytes = w.start >= self->start ? static_cast<int64_t>(w.start - self->start) : -1;
      p.hasHolders = !ListDir(Join(root_, "/sys/block/" + w.name + "/holders")).empty();
      parts.push_back(p);
    }
    auto matches = [&](const std::string& srcName, const std::string& srcDev, int64_t* offset) {
      if (srcName == name || (!srcDev.empty() && srcDev == diskDev)) return true;
      for (const SysPartition& p : parts)
        if (srcName == p.name || (!srcDev.empty() && srcDev == p.dev)) {
          if (offset) *offset = p.startBytes;
          return true;
        }
      return false;
    };
    for (const SysPartition& p : parts)
      if (p.hasHolders && why.empty()) why = p.name + " has holders";
    for (const MountEntry& m : mounts) {
      if (!IsSystemMountPoint(m.target)) continue;
      int64_t offset = -1;
      if (matches(m.sourceName, m.sourceDev, &offset)) {
        if (why.empty()) why = "it holds " + m.target;
        if (m.target == "/") d.rootPartitionOffset = offset;
      }
    }
    for (const std::string& s : swaps)
      if (why.empty() && matches(s, "", nullptr)) why = "it holds an active swap";
    for (const std::string& dev : systemDevs) {
      int64_t offset = -1;
      if (matches("", dev, &offset) && why.empty()) why = "it holds a system mount";
    }
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
  if (StartsWith(disk.name, "loop")) {
    for (const LoopWindow& w : OverlappingLoops(ReadLoopWindows(root_), disk.name)) {
      const int wfd = ::open(Join(root_, "/dev/" + w.name).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
      if (wfd < 0) {
        const int code = errno;
        if (code == ENOENT) continue;  // no node: nothing can use it through /dev
        FW_LOG(disk.name + ": " + w.name + " over the same file is in use (" +
               std::to_string(code) + ")");
        return giveUp(code);
      }
      fds.push_back(wfd);
    }
  }
  return std::make_unique<ExclLock>(std::move(fds));
}

bool BlockDiskBackend::Dismount(const DiskInfo& disk, int64_t offset, int* error) {
  const std::string sys = Join(root_, "/sys/block/" + disk.name);
  std::vector<std::string> names;
  for (const std::string& sub : ListDir(sys)) {
    if (!StartsWith(sub, disk.name.c_str()) || !Exists(sys + "/" + sub + "/partition")) continue;
    const int64_t start = std::atoll(ReadLine(sys + "/" + sub + "/start").c_str()) * 512;
    if (offset < 0 || start == offset) names.push_back(sub);
  }
  if (offset < 0) names.push_back(disk.name);
  if (StartsWith(disk.name, "loop")) {
    // A loop device over the same file that shows the partition (or more) is its mount source.
    const std::vector<LoopWindow> loops = ReadLoopWindows(root_);
    const LoopWindow* self = FindLoop(loops, disk.name);
    for (const LoopWindow& w : OverlappingLoops(loops, disk.name)) {
      const uint64_t at = self->start + static_cast<uint64_t>(offset < 0 ? 0 : offset);
      if (offset < 0 || (w.start <= at && at < w.end)) names.push_back(w.name);
    }
  }
  bool ok = true;
  for (const MountEntry& m : ReadMounts(root_)) {
    if (std::find(names.begin(), names.end(), m.sourceName) == names.end()) continue;
    if (IsSystemMountPoint(m.target)) {
      ok = false;
      if (error) *error = EBUSY;
      continue;
    }
    if (::umount2(Join(root_, m.target).c_str(), 0) != 0) {
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
