// fw_images_bench [DIR] [GiB] [ROUNDS] [file|loop|both]: backs up and restores a partition of GiB
// (default 2) that starts 1 MiB into a disk in DIR (default /tmp) with the program's workers, and
// copies the same byte range with `dd bs=16M conv=fsync` and `dd bs=16M oflag=direct`, in the
// same run, ROUNDS times (default 3). The disk is an image file, a loop device over it, or both in
// turn (default both). Each round also runs both jobs once more with the read-back verification
// and times the check against the copy. Prints the median MB/s, the ratios with the spread of
// the rounds, the verification's cost and the peak resident memory of each side.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/quiet_ui_test_support.h"
#include "app/settings.h"
#include "disk/disk_record.h"
#include "images/image_jobs.h"
#include "platform/block_device.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int64_t MiB = 1024 * 1024;
constexpr int64_t kStart = MiB;

class BenchDisk final : public fw::ImageJobDisk {
 public:
  BenchDisk(std::unique_ptr<fw::FdDevice> d, int64_t length) : device_(std::move(d)) {
    record_.DiskNumber = 9;
    record_.BytesPerSector = 512;
    record_.Partitions[0].StartingOffset = kStart;
    record_.Partitions[0].PartitionLength = length;
    record_.SelectedPartition = 1;
  }
  int32_t SetCurrentDisk() override {
    fw::CurrentDisk() = record_;
    return 1;
  }
  int32_t UpdateAllDrives() override { return 1; }
  fw::DriveHandle GetDriveHandle(int32_t, const std::string&, bool, bool) override { return 1; }
  fw::BlockDevice* DeviceForHandle(fw::DriveHandle) override { return device_.get(); }
  int UnmountDrive(fw::DriveHandle) override { return 1; }
  int UnlockDrive(fw::DriveHandle) override { return 1; }
  void CloseHandle(fw::DriveHandle) override {}
  int64_t read_sectors(fw::DriveHandle, int64_t ss, int64_t first, int64_t n, void* b) override {
    return device_->ReadSectors(uint64_t(first), uint64_t(n), b) ? ss * n : 0;
  }
  int64_t write_sectors(fw::DriveHandle, int64_t ss, int64_t first, int64_t n,
                        const void* b) override {
    return device_->WriteSectors(uint64_t(first), uint64_t(n), b) ? ss * n : 0;
  }
  int RereadPartitionTable(fw::DriveHandle) override { return 1; }

 private:
  std::unique_ptr<fw::FdDevice> device_;
  fw::DiskRecord record_;
};

// Answers every box with Yes and the choosers with `file`; notes when the verification starts
// and how it ends.
class BenchUi final : public fw::QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override {
    if (text.rfind("Verify: ", 0) == 0) verifyAt = Clock::now();
    if (text == "Verified") verifiedAt = Clock::now();
  }
  fw::MsgAnswer MessageBox(const std::string&, const std::string&, fw::MsgButtons,
                           fw::MsgIcon) override {
    return fw::MsgAnswer::Yes;
  }
  std::string OpenFileChooser(const std::string&, const std::string&,
                              const std::vector<fw::FileFilter>&) override {
    return file;
  }
  std::string SaveFileChooser(const std::string&, const std::string&,
                              const std::vector<fw::FileFilter>&) override {
    return file;
  }
  std::string file;
  Clock::time_point verifyAt, verifiedAt;
};

double Seconds(Clock::time_point from, Clock::time_point to = Clock::now()) {
  return std::chrono::duration<double>(to - from).count();
}

void DropCaches() {
  ::sync();
  std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

// Runs a shell command; returns seconds and stores the child's peak RSS (KiB).
double Timed(const std::string& command, long* rssKiB) {
  DropCaches();
  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage ru {};
  ::wait4(pid, &status, 0, &ru);
  const double s = Seconds(t0);
  *rssKiB = std::max(*rssKiB, ru.ru_maxrss);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::fprintf(stderr, "command failed: %s\n", command.c_str());
  return s;
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 256> buf{};
  while (fgets(buf.data(), buf.size(), p)) out += buf.data();
  ::pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

long SelfPeakKiB() {
  struct rusage ru {};
  ::getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

enum Side { kFw, kDd, kDdDirect, kSides };

struct Times {
  std::vector<double> backup[kSides], restore[kSides];
  std::vector<double> verifyShare[2];  // verify time / copy time: backup, restore
  std::vector<double> verifyMBps[2];
  long ddRss = 0, ddDirectRss = 0;
};

// One job of the program on `disk` (image file or loop device); returns its seconds. With
// `verify` the copy and the check are timed apart and noted in `times`.
double RunJob(bool backup, const std::string& disk, int64_t length, BenchUi& ui, bool verify,
              Times* times) {
  auto device = fw::FdDevice::Open(disk, !backup);
  if (!device) {
    std::fprintf(stderr, "cannot open %s\n", disk.c_str());
    std::exit(1);
  }
  BenchDisk d(std::move(device), length);
  fw::SetImageJobDiskForTesting(&d);
  DropCaches();
  fw::ImageJobOptions options;
  options.verify = verify;
  const auto t0 = Clock::now();
  const fw::ImageJobOutcome r = backup ? fw::RunBackUp(options) : fw::RunRecover(options);
  const double total = Seconds(t0);
  fw::SetImageJobDiskForTesting(nullptr);
  if (!r.copied) std::fprintf(stderr, "%s failed\n", backup ? "backup" : "restore");
  if (verify) {
    if (!r.verified) std::fprintf(stderr, "%s: verify failed\n", backup ? "backup" : "restore");
    const double copy = Seconds(t0, ui.verifyAt), check = Seconds(ui.verifyAt, ui.verifiedAt);
    times->verifyShare[backup ? 0 : 1].push_back(check / copy);
    times->verifyMBps[backup ? 0 : 1].push_back(static_cast<double>(length) / 1e6 / check);
  }
  return total;
}

void Report(const char* name, const std::vector<double>* t, double mb) {
  const double fw = Median(t[kFw]), dd = Median(t[kDd]), direct = Median(t[kDdDirect]);
  std::printf(
      "%s: flashwright %.0f MB/s | dd bs=16M %.0f MB/s (ratio %.2f) | dd oflag=direct "
      "%.0f MB/s (ratio %.2f)\n",
      name, mb / fw, mb / dd, dd / fw, mb / direct, direct / fw);
  std::vector<double> r1, r2;
  for (size_t i = 0; i < t[kFw].size(); ++i) {
    r1.push_back(t[kDd][i] / t[kFw][i]);
    r2.push_back(t[kDdDirect][i] / t[kFw][i]);
    std::printf("   round %zu: %.2f s, ratios %.2f / %.2f\n", i + 1, t[kFw][i], r1.back(),
                r2.back());
  }
  std::printf("   spread of the rounds' ratios: %.2f..%.2f / %.2f..%.2f\n",
              *std::min_element(r1.begin(), r1.end()), *std::max_element(r1.begin(), r1.end()),
              *std::min_element(r2.begin(), r2.end()), *std::max_element(r2.begin(), r2.end()));
}

// Every side starts with a clean page cache (sync + drop_caches) and ends with its data on the
// storage: dd through conv=fsync or oflag=direct, the program through its own final flush. The
// sides take turns, a different one first in each round.
void Bench(const std::string& disk, const fs::path& dir, int64_t length, int rounds, BenchUi& ui) {
  const std::string out = (dir / "backup.bin").string(), ddOut = (dir / "dd.bin").string();
  const std::string ddRange = "bs=16M skip=" + std::to_string(kStart) +
                              " iflag=skip_bytes,count_bytes count=" + std::to_string(length);
  const std::string ddSeek = " bs=16M seek=" + std::to_string(kStart) + " oflag=seek_bytes";
  Times t;
  long rss = 0;
  ui.file = out;
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < kSides; ++k) {
      const int side = (k + round) % kSides;
      if (side == kDd)
        t.backup[kDd].push_back(
            Timed("dd if=" + disk + " of=" + ddOut + " " + ddRange + " conv=fsync status=none",
                  &t.ddRss));
      else if (side == kDdDirect)
        t.backup[kDdDirect].push_back(
            Timed("dd if=" + disk + " of=" + ddOut + " " + ddRange + " oflag=direct status=none",
                  &t.ddDirectRss));
      else
        t.backup[kFw].push_back(RunJob(true, disk, length, ui, false, &t));
    }
    for (int k = 0; k < kSides; ++k) {
      const int side = (k + round) % kSides;
      if (side == kDd)
        t.restore[kDd].push_back(Timed(
            "dd if=" + out + " of=" + disk + ddSeek + " conv=notrunc,fsync status=none", &rss));
      else if (side == kDdDirect)
        t.restore[kDdDirect].push_back(Timed(
            "dd if=" + out + " of=" + disk + ddSeek + ",direct conv=notrunc status=none", &rss));
      else
        t.restore[kFw].push_back(RunJob(false, disk, length, ui, false, &t));
    }
    RunJob(true, disk, length, ui, true, &t);
    RunJob(false, disk, length, ui, true, &t);
  }
  const double mb = static_cast<double>(length) / 1e6;
  Report("backup ", t.backup, mb);
  Report("restore", t.restore, mb);
  std::printf(
      "verify (read back and compare, median): backup %.0f MB/s, %.0f%% of the copy time"
      " | restore %.0f MB/s, %.0f%% of the copy time\n",
      Median(t.verifyMBps[0]), 100 * Median(t.verifyShare[0]), Median(t.verifyMBps[1]),
      100 * Median(t.verifyShare[1]));
  std::printf("peak RSS of dd: %ld KiB | dd direct %ld KiB\n", t.ddRss, t.ddDirectRss);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = fs::path(argc > 1 ? argv[1] : "/tmp") / "fw-images-bench";
  const int64_t gib = argc > 2 ? std::atoll(argv[2]) : 2;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const std::string targets = argc > 4 ? argv[4] : "both";
  const int64_t length = gib * 1024 * MiB;
  fs::create_directories(dir);
  const fs::path image = dir / "disk.img";

  std::printf("preparing %lld GiB of data...\n", static_cast<long long>(gib));
  long rss = 0;
  Timed("head -c " + std::to_string(kStart + length + MiB) + " /dev/urandom > " + image.string(),
        &rss);
  fw::SetPausesEnabled(false);
  BenchUi ui;
  fw::SetUi(&ui);
  const long before = SelfPeakKiB();
  std::printf("medians of %d rounds, %lld GiB, ratio = dd time / flashwright time\n", rounds,
              static_cast<long long>(gib));
  if (targets != "loop") {
    std::printf("== image file %s\n", image.c_str());
    Bench(image.string(), dir, length, rounds, ui);
  }
  if (targets != "file") {
    const std::string loop = Output("losetup --find --show " + image.string());
    if (loop.rfind("/dev/loop", 0) != 0) {
      std::fprintf(stderr, "no loop device: %s\n", loop.c_str());
    } else {
      std::printf("== loop device %s over the image file\n", loop.c_str());
      Bench(loop, dir, length, rounds, ui);
      Output("losetup -d " + loop);
    }
  }
  std::printf("peak RSS of flashwright: %ld KiB (before the copies %ld KiB)\n", SelfPeakKiB(),
              before);
  fw::SetUi(nullptr);
  fs::remove_all(dir);
  return 0;
}
