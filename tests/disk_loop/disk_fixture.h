// Shared pieces of the disk suites: a scratch folder, loop devices that are always detached,
// a process that holds a device exclusively, a clock that counts pauses, a Ui that records, and
// the debug log read back as text. Nothing here opens a disk of the machine: every device is a
// loop device over a file made in the scratch folder, and the inventory is restricted to it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/log.h"
#include "app/quiet_ui_test_support.h"
#include "app/settings.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "disk/drive_letters.h"
#include "disk/inventory.h"
#include "disk/raw_access.h"
#include "platform/disk_backend.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/linux/block_backend.h"

namespace fw::disktest {

namespace fs = std::filesystem;
inline constexpr int64_t MiB = 1024 * 1024;

inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  std::array<char, 512> buf{};
  while (fgets(buf.data(), buf.size(), p)) out += buf.data();
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

inline std::vector<uint8_t> ReadBytes(const fs::path& p, int64_t offset, size_t length) {
  std::vector<uint8_t> v(length);
  std::ifstream in(p, std::ios::binary);
  in.seekg(offset);
  in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(length));
  v.resize(static_cast<size_t>(in.gcount()));
  return v;
}

inline void WriteBytes(const fs::path& p, int64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream f(p, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(offset);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that differ from sector to sector, so a transfer at the wrong offset shows.
inline std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
  std::vector<uint8_t> v(length);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

// Pauses return at once; each is recorded, and a hook can act at a given pause.
class CountingClock final : public Clock {
 public:
  void Pause(int64_t ms) override {
    pauses.push_back(ms);
    if (onPause) onPause(static_cast<int>(pauses.size()));
  }
  int64_t NowMs() const override { return 0; }
  int64_t TotalMs() const {
    int64_t t = 0;
    for (int64_t p : pauses) t += p;
    return t;
  }
  std::vector<int64_t> pauses;
  std::function<void(int)> onPause;
};

class RecordingUi final : public QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override { statuses.push_back(text); }
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons,
                       MsgIcon) override {
    boxes.push_back(title + "|" + text);
    return MsgAnswer::Ok;
  }
  std::vector<std::string> statuses;
  std::vector<std::string> boxes;
};

// Another process that holds a device node open with O_EXCL (as a mount or a partitioner does)
// until it is released.
class ExclusiveHolder {
 public:
  ExclusiveHolder() = default;
  ExclusiveHolder(const ExclusiveHolder&) = delete;
  ExclusiveHolder& operator=(const ExclusiveHolder&) = delete;
  ~ExclusiveHolder() { Release(); }

  // True once the other process holds `node`.
  bool Hold(const std::string& node) {
    int ready[2], stop[2];
    if (::pipe(ready) != 0) return false;
    if (::pipe(stop) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(stop[1]);
      const int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
      const char ok = fd >= 0 ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) _exit(2);
      char c;
      while (::read(stop[0], &c, 1) < 0 && errno == EINTR) {
      }
      _exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    stop_ = stop[1];
    char ok = '0';
    const bool got = ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
    if (!got) Release();
    return got;
  }
  void Release() {
    if (pid_ <= 0) return;
    ::close(stop_);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
};

// Whether another process could take `node` exclusively right now.
inline bool OthersCanClaim(const std::string& node) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    _exit(fd >= 0 ? 0 : 1);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// Scratch folder, counting clock, recording Ui, a debug log of its own, an inventory that sees
// only what the test attaches, and loop devices detached in teardown whatever happened.
class DiskFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fw-diskloop-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    SetClockForTesting(&clock_);
    SetUi(&ui_);
    ResetDiskBackends();
    DefaultBlockBackend().SetOnlyDevices({"/"});
    DetachAllImageDisks();
    ResetDriveLetters();
    Settings().EnableFixedDisks = 1;  // loop devices are fixed disks
    CurrentDisk() = DiskRecord{};
    logPath_ = dir_ / "debug.log";
    CloseLog();
    ASSERT_TRUE(OpenLog(logPath_.string()));
  }

  void TearDown() override {
    for (const fs::path& m : mounts_) ::umount2(m.c_str(), MNT_DETACH);
    for (auto it = loops_.rbegin(); it != loops_.rend(); ++it) DetachIfOurs(*it);
    CloseLog();
    DefaultBlockBackend().SetOnlyDevices({"/"});
    ResetDiskBackends();
    DetachAllImageDisks();
    CurrentDisk() = DiskRecord{};
    SetUi(nullptr);
    SetClockForTesting(nullptr);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A sparse file of `bytes` in the scratch folder.
  fs::path MakeFile(const std::string& name, int64_t bytes) {
    const fs::path p = dir_ / name;
    EXPECT_EQ(CreateImageFile(p.string(), bytes), 1);
    return p;
  }

  // Attaches a loop device (root only); "" when that is not possible here. `extra` holds losetup
  // options such as "-o 1048576 --sizelimit 4194304".
  std::string AttachLoop(const fs::path& file, uint32_t sectorSize, const std::string& extra = "") {
    if (::geteuid() != 0) return "";
    for (int attempt = 0; attempt < 5; ++attempt) {
      int st = 0;
      const std::string out = Shell(
          "losetup -f --show -b " + std::to_string(sectorSize) + " " + extra + " " + file.string(),
          &st);
      if (st == 0 && out.rfind("/dev/loop", 0) == 0) {
        loops_.push_back(out.substr(0, out.find('\n')));
        return loops_.back();
      }
      ::usleep(200000);  // another test may have taken the free device first
    }
    return "";
  }
  // Detaches a loop device only while it still shows a file of our scratch folder: a device we
  // let go of may already belong to someone else.
  void DetachIfOurs(const std::string& loop) {
    const std::string back = Shell("losetup -n -O BACK-FILE " + loop);
    if (back.find(dir_.string() + "/") != std::string::npos) Shell("losetup -d " + loop);
  }
  // Detaches one of ours now (and forgets it).
  void DetachLoop(const std::string& loop) {
    DetachIfOurs(loop);
    for (auto it = loops_.begin(); it != loops_.end(); ++it)
      if (*it == loop) {
        loops_.erase(it);
        break;
      }
  }
  void Adopt(const std::string& loop) { loops_.push_back(loop); }
  static std::string NameOf(const std::string& loop) { return fs::path(loop).filename().string(); }

  // Lets the inventory see these loop devices only, refreshes it and returns the disk number of
  // the one whose backing file is `file` (-1 when not listed).
  int32_t ListLoops(const std::vector<std::string>& loops, const fs::path& file) {
    std::vector<std::string> names;
    for (const std::string& l : loops) names.push_back(NameOf(l));
    DefaultBlockBackend().SetOnlyDevices(names);
    UpdateAllDrives();
    for (const DiskRecord& d : DiskRecords())
      if (d.ProductId == file.filename().string() && d.VendorId.empty()) return d.DiskNumber;
    return -1;
  }

  const DiskRecord* Record(int32_t n) const {
    for (const DiskRecord& d : DiskRecords())
      if (d.DiskNumber == n) return &d;
    return nullptr;
  }

  void Mount(const std::string& node, const fs::path& where) {
    fs::create_directories(where);
    int st = 0;
    const std::string out = Shell("mount " + node + " " + where.string(), &st);
    ASSERT_EQ(st, 0) << out;
    mounts_.push_back(where);
  }

  std::string LogText() const {
    std::ifstream in(logPath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  fs::path dir_;
  fs::path logPath_;
  CountingClock clock_;
  RecordingUi ui_;
  std::vector<std::string> loops_;
  std::vector<fs::path> mounts_;
};

// Writes an MBR slot (and the 55 AA signature) into a sector-0 buffer.
inline void PutSlot(std::vector<uint8_t>& s, int i, uint8_t boot, uint8_t type, uint32_t start,
                    uint32_t count) {
  uint8_t* e = s.data() + 0x1BE + i * 16;
  e[0] = boot;
  e[4] = type;
  std::memcpy(e + 8, &start, 4);
  std::memcpy(e + 12, &count, 4);
  s[510] = 0x55;
  s[511] = 0xAA;
}

#define FW_REQUIRE_LOOP(loop)                                                         \
  if ((loop).empty())                                                                 \
  GTEST_SKIP() << (::geteuid() != 0 ? "loop devices need root; run the suite as root" \
                                    : "losetup could not attach a loop device here")

}  // namespace fw::disktest
