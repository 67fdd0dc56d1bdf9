#include "platform/linux/block_stack.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/linux/block_backend.h"

namespace fw {

namespace {

bool StartsWith(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The base name of a device path after following symlinks inside the root
// ("/dev/disk/by-uuid/x" -> "sdb1"); "" for paths that are not under /dev.
std::string SourceName(const std::string& root, const std::string& source) {
  if (!StartsWith(source, "/dev/")) return "";
  std::string p = RootJoin(root, source);
  char buf[4096];
  for (int i = 0; i < 8; ++i) {
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
    if (n <= 0) break;
    buf[n] = 0;
    std::string target(buf);
    if (target[0] == '/') {
      p = RootJoin(root, target);
    } else {
      p = p.substr(0, p.rfind('/') + 1) + target;
    }
  }
  return p.substr(p.rfind('/') + 1);
}

// "major:minor" of the node at `path` (nodeRdev) or of the file system holding it; "" on failure.
std::string DevOfPath(const std::string& path, bool nodeRdev) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  const dev_t d = nodeRdev ? st.st_rdev : st.st_dev;
  if (nodeRdev && !S_ISBLK(st.st_mode)) return "";
  return std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

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

}  // namespace

std::string SysReadLine(const std::string& path) {
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

std::vector<std::string> SysListDir(const std::string& path) {
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

std::string RootJoin(const std::string& root, const std::string& path) {
  if (root.empty() || root == "/") return path;
  return root + path;
}

BlockStack::BlockStack(std::string root) : root_(std::move(root)) {
  {
    std::ifstream f(RootJoin(root_, "/proc/mounts"));
    std::string line;
    while (std::getline(f, line)) {
      std::istringstream in(line);
      MountEntry m;
      if (!(in >> m.source >> m.target)) continue;
      m.source = Unescape(m.source);
      m.target = Unescape(m.target);
      m.sourceName = SourceName(root_, m.source);
      if (root_ == "/" && StartsWith(m.source, "/dev/")) m.sourceDev = DevOfPath(m.source, true);
      mounts_.push_back(m);
    }
  }
  {
    std::ifstream f(RootJoin(root_, "/proc/swaps"));
    std::string line;
    std::getline(f, line);  // header
    while (std::getline(f, line)) {
      std::istringstream in(line);
      std::string src;
      if (in >> src) swaps_.push_back(SourceName(root_, src));
    }
  }
  // Devices of the system mount points, by device number (real root only: catches /dev/root).
  if (root_ == "/")
    for (const char* m : kSystemMountPoints) {
      const std::string d = DevOfPath(m, false);
      if (!d.empty() && !StartsWith(d, "0:")) systemDevs_.push_back(d);
    }

  for (const std::string& name : SysListDir(RootJoin(root_, "/sys/block"))) {
    const std::string sys = RootJoin(root_, "/sys/block/" + name);
    nodes_.push_back({name, SysReadLine(sys + "/dev"), "", 0});
    for (const std::string& sub : SysListDir(sys)) {
      if (!StartsWith(sub, name.c_str()) || !Exists(sys + "/" + sub + "/partition")) continue;
      nodes_.push_back({sub, SysReadLine(sys + "/" + sub + "/dev"), name,
                        std::atoll(SysReadLine(sys + "/" + sub + "/start").c_str()) * 512});
    }
  }
  for (const Node& n : nodes_) {
    if (!n.parent.empty() || !StartsWith(n.name, "loop")) continue;
    const std::string sys = RootJoin(root_, "/sys/block/" + n.name);
    const std::string backing = SysReadLine(sys + "/loop/backing_file");
    if (backing.empty()) continue;
    Loop l;
    l.name = n.name;
    l.dev = n.dev;
    struct stat st {};
    if (::stat(backing.c_str(), &st) == 0)
      l.file = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    else
      l.file = "path:" + backing;
    // A loop device over a block device (a disk, a partition, another loop device): by name
    // inside the root, and by device number on the real system.
    const Node* below = FindNode(SourceName(root_, backing),
                                 root_ == "/" ? DevOfPath(backing, true) : std::string());
    if (below) l.backing = below->name;
    l.start = std::strtoull(SysReadLine(sys + "/loop/offset").c_str(), nullptr, 10);
    l.end = l.start + std::strtoull(SysReadLine(sys + "/size").c_str(), nullptr, 10) * 512;
    loops_.push_back(l);
  }
}

const BlockStack::Node* BlockStack::FindNode(const std::string& name,
                                             const std::string& dev) const {
  for (const Node& n : nodes_)
    if ((!name.empty() && n.name == name) || (!dev.empty() && n.dev == dev)) return &n;
  return nullptr;
}

const BlockStack::Loop* BlockStack::FindLoop(const std::string& name) const {
  for (const Loop& l : loops_)
    if (l.name == name) return &l;
  return nullptr;
}

bool BlockStack::HasHolders(const Node& node) const {
  const std::string sys =
      RootJoin(root_, "/sys/block/" + (node.parent.empty() ? "" : node.parent + "/") + node.name);
  return !SysListDir(sys + "/holders").empty();
}

std::vector<StackedDevice> BlockStack::Above(const std::string& name) const {
  std::vector<StackedDevice> out;
  std::set<std::string> seen{name};
  auto holders = [&](const std::string& n) {
    const Node* node = FindNode(n, "");
    return node && HasHolders(*node);
  };
  // Where the bytes of each device found so far begin on the disk; loops over them come next.
  std::vector<std::pair<std::string, int64_t>> bases{{name, 0}};
  for (const Node& p : nodes_)
    if (p.parent == name && seen.insert(p.name).second) {
      out.push_back({p.name, p.dev, p.startBytes, -1, false, HasHolders(p)});
      bases.push_back({p.name, p.startBytes});
    }
  // A loop disk: the other loop devices over bytes of the same file. The kernel sees no relation
  // between them, so they are to a loop disk what partitions are to a stick.
  if (const Loop* self = FindLoop(name)) {
    for (const Loop& w : loops_)
      if (w.name != name && w.file == self->file && w.start < self->end && self->start < w.end &&
          seen.insert(w.name).second)
        out.push_back({w.name, w.dev,
                       w.start >= self->start ? static_cast<int64_t>(w.start - self->start) : -1,
                       static_cast<int64_t>(w.end - self->start), true, holders(w.name)});
  }
  // Loop devices over the disk or one of its partitions, and over those in turn (with their own
  // partitions): the kernel does not count them as users of the disk either.
  for (size_t i = 0; i < bases.size() && i < 256; ++i) {
    const auto [base, offset] = bases[i];
    for (const Loop& l : loops_) {
      if (l.backing != base || !seen.insert(l.name).second) continue;
      const int64_t start = offset < 0 ? -1 : offset + static_cast<int64_t>(l.start);
      const int64_t end = offset < 0 ? -1 : offset + static_cast<int64_t>(l.end);
      out.push_back({l.name, l.dev, start, end, true, holders(l.name)});
      bases.push_back({l.name, start});
      for (const Node& p : nodes_)
        if (p.parent == l.name && seen.insert(p.name).second) {
          const int64_t at = start < 0 ? -1 : start + p.startBytes;
          out.push_back({p.name, p.dev, at, -1, false, HasHolders(p)});
          bases.push_back({p.name, at});
        }
    }
  }
  return out;
}

std::vector<std::string> BlockStack::Below(const std::string& name) const {
  std::vector<std::string> out;
  auto whole = [&](const std::string& n) {
    const Node* node = FindNode(n, "");
    return node && !node->parent.empty() ? node->parent : n;
  };
  if (const Loop* l = FindLoop(name); l && !l->backing.empty()) out.push_back(whole(l->backing));
  for (const std::string& s : SysListDir(RootJoin(root_, "/sys/block/" + name + "/slaves")))
    out.push_back(whole(s));
  return out;
}

std::string BlockStack::DirectUse(const std::string& name, int64_t* rootOffset) const {
  const Node* self = FindNode(name, "");
  const std::string diskDev = self ? self->dev : "";
  const std::vector<StackedDevice> above = Above(name);
  std::string why;
  if (self && HasHolders(*self)) why = "the disk has holders";
  for (const StackedDevice& p : above)
    if (p.hasHolders && why.empty()) why = p.name + " has holders";
  auto matches = [&](const std::string& srcName, const std::string& srcDev, int64_t* offset) {
    if (srcName == name || (!srcDev.empty() && srcDev == diskDev)) return true;
    for (const StackedDevice& p : above)
      if (srcName == p.name || (!srcDev.empty() && srcDev == p.dev)) {
        if (offset) *offset = p.startBytes;
        return true;
      }
    return false;
  };
  for (const MountEntry& m : mounts_) {
    if (!IsSystemMountPoint(m.target)) continue;
    int64_t offset = -1;
    if (matches(m.sourceName, m.sourceDev, &offset)) {
      if (why.empty()) why = "it holds " + m.target;
      if (m.target == "/" && rootOffset) *rootOffset = offset;
    }
  }
  for (const std::string& s : swaps_)
    if (why.empty() && matches(s, "", nullptr)) why = "it holds an active swap";
  for (const std::string& dev : systemDevs_)
    if (why.empty() && matches("", dev, nullptr)) why = "it holds a system mount";
  return why;
}

std::string BlockStack::SystemUse(const std::string& name, int64_t* rootOffset) const {
  if (rootOffset) *rootOffset = -1;
  return SystemUse(name, rootOffset, 0);
}

std::string BlockStack::SystemUse(const std::string& name, int64_t* rootOffset, int depth) const {
  const std::string why = DirectUse(name, rootOffset);
  if (!why.empty() || depth >= 8) return why;
  // Writes to a loop device land on what it reads; writes to a device-mapper or md device on its
  // members.
  for (const std::string& lower : Below(name)) {
    const std::string under = SystemUse(lower, nullptr, depth + 1);
    if (!under.empty()) return "it is stacked on " + lower + " (" + under + ")";
  }
  return "";
}

}  // namespace fw
