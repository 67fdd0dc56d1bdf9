// How the block devices of the running system stand on one another, read once from sysfs and
// /proc under a root folder ("/" normally; tests give a fake tree): partitions, loop devices over
// files, over disks and partitions and over other loop devices, device-mapper and md members, and
// what of all this is mounted or swapped on. The block backend asks it whether writing a disk
// would reach something the running system uses, and which devices show bytes of a disk (to
// unmount them and to claim them together with it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// Readers of the tree under a root folder.
std::string SysReadLine(const std::string& path);  // first line, blanks trimmed; "" when none
std::vector<std::string> SysListDir(const std::string& path);  // sorted, without . and ..
std::string RootJoin(const std::string& root, const std::string& path);

// A device that shows bytes of a whole disk: one of its partitions, a loop device over the same
// file (for a loop disk), or a loop device over the disk or one of its partitions, and any loop
// device over those in turn.
struct StackedDevice {
  std::string name;        // "sdb1", "loop7"
  std::string dev;         // "8:17"
  int64_t startBytes = 0;  // where its bytes begin on the disk; -1 when before the disk's start
  int64_t endBytes = -1;   // where they end; -1 for a partition (its table says)
  bool isLoop = false;
  bool hasHolders = false;  // a device-mapper or md device is built on it
};

struct MountEntry {
  std::string source, target;
  std::string sourceName;  // block device name behind the source ("sdb1"), "" for none
  std::string sourceDev;   // "8:17" (real root only)
};

class BlockStack {
 public:
  explicit BlockStack(std::string root);

  const std::vector<MountEntry>& Mounts() const { return mounts_; }
  // The devices that show bytes of whole device `name`.
  std::vector<StackedDevice> Above(const std::string& name) const;
  // Why writing whole device `name` would reach something the running system uses, "" when it
  // would not: it (or a device above it) is mounted at a system mount point, is an active swap,
  // or carries a device-mapper or md device; or it is a loop device that writes through to a
  // device for which one of these holds (a loop over a partition of the system disk, or over a
  // loop device over it). *rootOffset gets the byte offset of the device above it that is
  // mounted at "/" (-1 when none).
  std::string SystemUse(const std::string& name, int64_t* rootOffset = nullptr) const;

 private:
  // A whole block device or a partition as sysfs shows it.
  struct Node {
    std::string name, dev;
    std::string parent;  // the whole device of a partition, "" for a whole one
    int64_t startBytes = 0;
  };
  // A loop device and what it reads.
  struct Loop {
    std::string name, dev;
    std::string file;     // identity of the backing file: "dev:ino", or its path when it is gone
    std::string backing;  // the block device it reads (whole or partition), "" for a plain file
    uint64_t start = 0, end = 0;  // the byte range of the backing it shows
  };

  const Node* FindNode(const std::string& name, const std::string& dev) const;
  const Loop* FindLoop(const std::string& name) const;
  bool HasHolders(const Node& node) const;
  // The whole devices that writes to whole device `name` land on.
  std::vector<std::string> Below(const std::string& name) const;
  std::string DirectUse(const std::string& name, int64_t* rootOffset) const;
  std::string SystemUse(const std::string& name, int64_t* rootOffset, int depth) const;

  std::string root_;
  std::vector<MountEntry> mounts_;
  std::vector<std::string> swaps_;       // block device names of the active swaps
  std::vector<std::string> systemDevs_;  // device numbers of the system mount points (real root)
  std::vector<Node> nodes_;
  std::vector<Loop> loops_;
};

}  // namespace fw
