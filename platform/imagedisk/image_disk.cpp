#include "platform/imagedisk/image_disk.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "app/log.h"
#include "app/settings.h"

namespace fw {

namespace {

std::mutex& ListMutex() {
  static std::mutex m;
  return m;
}

std::vector<AttachedImage>& List() {
  static std::vector<AttachedImage> list;
  return list;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

class FlockLock final : public DiskLock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override {
    flock(fd_, LOCK_UN);
    ::close(fd_);
  }

 private:
  int fd_;
};

class ImageBackend final : public DiskBackend {
 public:
  std::string Name() const override { return "image"; }

  std::vector<DiskInfo> Enumerate(bool* accessDenied) override {
    if (accessDenied) *accessDenied = false;
    std::vector<AttachedImage> images;
    {
      std::lock_guard<std::mutex> lock(ListMutex());
      images = List();
    }
    std::vector<DiskInfo> out;
    for (const AttachedImage& image : images) {
      struct stat st {};
      if (::stat(image.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        FW_LOG("image " + image.path + " is missing; not listed");
        continue;
      }
      DiskInfo d;
      d.key = "image:" + image.path;
      d.devicePath = image.path;
      d.name = std::filesystem::path(image.path).filename().string();
      d.busCode = 15;
      d.VendorId = "Image";
      d.ProductId = d.name;
      d.DriveType = 3;
      d.BytesPerSector = image.sectorSize;
      d.DiskLength = (static_cast<int64_t>(st.st_size) / image.sectorSize) * image.sectorSize;
      out.push_back(d);
    }
    return out;
  }

  std::unique_ptr<BlockDevice> Open(const DiskInfo& disk, bool forWrite, int* error) override {
    const int fd = ::open(disk.devicePath.c_str(), (forWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
      if (error) *error = errno;
      return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      if (error) *error = ENODEV;
      return nullptr;
    }
    const uint64_t ss = disk.BytesPerSector ? disk.BytesPerSector : 512;
    const uint64_t size = (static_cast<uint64_t>(st.st_size) / ss) * ss;
    return std::make_unique<FdDevice>(fd, static_cast<uint32_t>(ss), size);
  }

  std::unique_ptr<DiskLock> Lock(const DiskInfo& disk, int* error) override {
    const int fd = ::open(disk.devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (error) *error = errno;
      return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (error) *error = errno;
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<FlockLock>(fd);
  }

  bool Dismount(const DiskInfo&, int64_t, int*) override { return true; }
  bool RereadPartitions(const DiskInfo&, BlockDevice&) override { return true; }
};

}  // namespace

DiskBackend& ImageDiskBackend() {
  static ImageBackend backend;
  return backend;
}

namespace {
std::atomic<bool> rememberNew{false};

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

int Attach(const std::string& path, uint32_t sectorSize, bool remember, std::string* why) {
  if (sectorSize != 512 && sectorSize != 4096) {
    FW_LOG("Error sector size " + std::to_string(sectorSize) + " for " + path);
    SetWhy(why, "sector size " + std::to_string(sectorSize) + " (512 or 4096 only)");
    return 0;
  }
  const std::string abs = Absolute(path);
  struct stat st {};
  std::string reason;
  if (::stat(abs.c_str(), &st) != 0)
    reason = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    reason = "not a regular file";
  else if (st.st_size < static_cast<off_t>(sectorSize))
    reason = "smaller than one sector (" + std::to_string(st.st_size) + " bytes)";
  if (!reason.empty()) {
    FW_LOG("Error attach " + abs + ": " + reason);
    SetWhy(why, reason);
    return 0;
  }
  std::lock_guard<std::mutex> lock(ListMutex());
  for (AttachedImage& a : List()) {
    if (a.path == abs) {
      a.sectorSize = sectorSize;
      a.remembered = a.remembered || remember;
      return 1;
    }
  }
  List().push_back({abs, sectorSize, remember});
  FW_LOG("attached " + abs + " (" + std::to_string(sectorSize) + "-byte sectors)");
  return 1;
}

}  // namespace

void SetRememberAttachedImages(bool on) { rememberNew = on; }

int AttachImageDisk(const std::string& path, uint32_t sectorSize, std::string* why) {
  return Attach(path, sectorSize, rememberNew, why);
}

int DetachImageDisk(const std::string& path) {
  const std::string abs = Absolute(path);
  std::lock_guard<std::mutex> lock(ListMutex());
  auto& list = List();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->path == abs) {
      list.erase(it);
      return 1;
    }
  }
  return 0;
}

const std::vector<AttachedImage>& AttachedImages() { return List(); }

void DetachAllImageDisks() {
  std::lock_guard<std::mutex> lock(ListMutex());
  List().clear();
}

int CreateImageFile(const std::string& path, int64_t bytes, bool replace, std::string* why) {
  if (bytes <= 0) {
    SetWhy(why, "bad size " + std::to_string(bytes));
    return 0;
  }
  // A new file is made with O_EXCL, so a file that appeared meanwhile is not taken over; an
  // existing one is only opened (never created through a dangling link) when replacing.
  bool created = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST && replace) {
    // A device node or FIFO is not even opened: opening some of them has effects of its own.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      FW_LOG("Error create " + path + ": not a regular file");
      SetWhy(why, "not a regular file");
      return 0;
    }
    created = false;
    fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  if (fd < 0) {
    const std::string reason = errno == EEXIST ? "exists" : std::strerror(errno);
    FW_LOG("Error create " + path + ": " + reason);
    SetWhy(why, reason);
    return 0;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    FW_LOG("Error create " + path + ": not a regular file");
    SetWhy(why, "not a regular file");
    return 0;
  }
  // Cutting to 0 first drops every old block: the grown file reads as zeros throughout.
  const bool ok = (created || ::ftruncate(fd, 0) == 0) && ::ftruncate(fd, bytes) == 0;
  const int err = errno;
  ::close(fd);
  if (!ok) {
    const std::string reason = "bad size " + std::to_string(bytes) + ": " + std::strerror(err);
    FW_LOG("Error size " + path + " to " + std::to_string(bytes) + ": " + std::strerror(err));
    SetWhy(why, reason);
    if (created) ::unlink(path.c_str());
    return 0;
  }
  return 1;
}

int64_t ParseImageSize(const std::string& text) {
  if (text.empty()) return -1;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !(v > 0) || !std::isfinite(v)) return -1;
  std::string unit(end);
  if (!unit.empty() && (unit.back() == 'B' || unit.back() == 'b') && unit.size() > 1)
    unit.pop_back();
  double mul = 1;
  if (unit.empty())
    mul = 1;
  else if (unit == "K" || unit == "k")
    mul = 1024.0;
  else if (unit == "M" || unit == "m")
    mul = 1024.0 * 1024;
  else if (unit == "G" || unit == "g")
    mul = 1024.0 * 1024 * 1024;
  else if (unit == "T" || unit == "t")
    mul = 1024.0 * 1024 * 1024 * 1024;
  else
    return -1;
  const double bytes = v * mul;
  if (bytes > 9.0e18 || bytes < 1) return -1;
  return static_cast<int64_t>(bytes);
}

static const char kGroup[] = "[Disk Images]";

std::vector<std::string> AttachedImagesGroupLines() {
  std::vector<std::string> lines{kGroup};
  std::lock_guard<std::mutex> lock(ListMutex());
  int n = 0;
  for (const AttachedImage& a : List())
    if (a.remembered)
      lines.push_back("Image" + std::to_string(++n) + "=" + std::to_string(a.sectorSize) + "|" +
                      a.path);
  return lines;
}

std::vector<AttachedImage> ParseAttachedImagesGroup(const std::string& text) {
  std::vector<AttachedImage> out;
  std::istringstream in(text);
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line = line.substr(3);
    if (!line.empty() && line[0] == '[') {
      inGroup = line == kGroup;
      continue;
    }
    if (!inGroup) continue;
    const size_t eq = line.find('='), bar = line.find('|');
    if (eq == std::string::npos || bar == std::string::npos || bar < eq) continue;
    const std::string ss = line.substr(eq + 1, bar - eq - 1);
    if (ss != "512" && ss != "4096") continue;
    const std::string path = line.substr(bar + 1);
    if (path.empty()) continue;
    out.push_back({path, static_cast<uint32_t>(std::stoul(ss))});
  }
  return out;
}

void LoadAttachedImages() {
  if (SettingsPath().empty()) return;
  std::ifstream f(SettingsPath(), std::ios::binary);
  if (!f) return;
  std::stringstream ss;
  ss << f.rdbuf();
  AttachImagesFromSettings(ss.str());
}

void AttachImagesFromSettings(const std::string& settingsText) {
  for (const AttachedImage& a : ParseAttachedImagesGroup(settingsText)) {
    if (!Attach(a.path, a.sectorSize, true, nullptr))
      FW_LOG("Disk image " + a.path + " is gone; dropped from the attached list");
  }
}

void KeepAttachedImagesInSettings() {
  AddSettingsGroup({&AttachedImagesGroupLines, &AttachImagesFromSettings});
}

void SaveAttachedImages() {
  if (SettingsPath().empty()) return;
  std::string text;
  {
    std::ifstream f(SettingsPath(), std::ios::binary);
    if (f) {
      std::stringstream ss;
      ss << f.rdbuf();
      text = ss.str();
    }
  }
  // Keep every other group as it stands; replace ours.
  std::string out;
  std::istringstream in(text);
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    std::string bare = line;
    if (!bare.empty() && bare.back() == '\r') bare.pop_back();
    if (!bare.empty() && bare[0] == '[') inGroup = bare == kGroup;
    if (!inGroup) out += line + "\n";
  }
  if (out.empty()) out = "\xEF\xBB\xBF\r\n";
  for (const std::string& l : AttachedImagesGroupLines()) out += l + "\r\n";
  std::ofstream f(SettingsPath(), std::ios::binary | std::ios::trunc);
  f << out;
}

}  // namespace fw
