// fw_images_bench [DIR] [GiB] [ROUNDS]: backs up and restores a partition of GiB (default 2) on an
// image disk in DIR (default /tmp) with the program's workers, and copies the same byte range with
// `dd bs=16M conv=fsync` and `dd bs=16M oflag=direct`, in the same run, ROUNDS times (default 3).
// Prints the median MB/s, the ratios and the peak resident memory of each side.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "app/settings.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "images/image_jobs.h"
#include "platform/block_device.h"

namespace {

namespace fs = std::filesystem;
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

class QuietUi final : public fw::Ui {
 public:
  void ShowStatus(const std::string& text, int) override {
    if (text == "Write buffered Data to the Disk") flushAt = std::chrono::steady_clock::now();
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
  std::string FolderChooser(const std::string&, const std::string&) override { return ""; }
  void SetControlText(int, int, const std::string&) override {}
  std::string ControlText(int, int) override { return ""; }
  void SetControlEnabled(int, int, bool) override {}
  void SetComboItems(int, int, const std::vector<std::string>&, int) override {}
  std::string file;
  std::chrono::steady_clock::time_point flushAt;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void DropCaches() {
  ::sync();
  std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

// Runs a shell command; returns seconds and stores the child's peak RSS (KiB).
double Timed(const std::string& command, long* rssKiB) {
  DropCaches();
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage ru {};
  ::wait4(pid, &status, 0, &ru);
  const double s = Seconds(t0);
  *rssKiB = ru.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::fprintf(stderr, "command failed: %s\n", command.c_str());
  return s;
}

long SelfPeakKiB() {
  struct rusage ru {};
  ::getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Median of the times of one side over the rounds.
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = fs::path(argc > 1 ? argv[1] : "/tmp") / "fw-images-bench";
  const int64_t gib = argc > 2 ? std::atoll(argv[2]) : 2;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const int64_t length = gib * 1024 * MiB;
  fs::create_directories(dir);
  const fs::path disk = dir / "disk.img", out = dir / "backup.bin", ddOut = dir / "dd.bin";
  const std::string ddRange = "bs=16M skip=" + std::to_string(kStart) +
                              " iflag=skip_bytes,count_bytes count=" + std::to_string(length);
  const std::string ddSeek = " bs=16M seek=" + std::to_string(kStart) + " oflag=seek_bytes";

  std::printf("preparing %lld GiB of data...\n", static_cast<long long>(gib));
  long rss = 0;
  Timed("head -c " + std::to_string(kStart + length + MiB) + " /dev/urandom > " + disk.string(),
        &rss);

  fw::SetPausesEnabled(false);
  QuietUi ui;
  fw::SetUi(&ui);
  const double mb = static_cast<double>(length) / 1e6;
  const long before = SelfPeakKiB();
  long ddRss = 0, ddDirectRss = 0;

  // Every side starts with a clean page cache (sync + drop_caches) and ends with its data on the
  // storage: dd through conv=fsync or oflag=direct, the program through its own final flush.
  // The sides take turns, a different one first in each round.
  enum Side { kFw, kDd, kDdDirect };
  std::vector<double> backup[3], restore[3], flushShare;
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 3; ++k) {
      const int side = (k + round) % 3;
      if (side == kDd) {
        backup[kDd].push_back(Timed("dd if=" + disk.string() + " of=" + ddOut.string() + " " +
                                        ddRange + " conv=fsync status=none",
                                    &ddRss));
      } else if (side == kDdDirect) {
        backup[kDdDirect].push_back(Timed("dd if=" + disk.string() + " of=" + ddOut.string() + " " +
                                              ddRange + " oflag=direct status=none",
                                          &ddDirectRss));
      } else {
        BenchDisk d(fw::FdDevice::Open(disk.string(), false), length);
        fw::SetImageJobDiskForTesting(&d);
        ui.file = out.string();
        DropCaches();
        const auto t0 = std::chrono::steady_clock::now();
        const auto r = fw::RunBackUp();
        backup[kFw].push_back(Seconds(t0));
        if (!r.copied) std::fprintf(stderr, "backup failed\n");
      }
    }
    for (int k = 0; k < 3; ++k) {
      const int side = (k + round) % 3;
      if (side == kDd) {
        restore[kDd].push_back(Timed("dd if=" + out.string() + " of=" + disk.string() + ddSeek +
                                         " conv=notrunc,fsync status=none",
                                     &rss));
      } else if (side == kDdDirect) {
        restore[kDdDirect].push_back(Timed("dd if=" + out.string() + " of=" + disk.string() +
                                               ddSeek + ",direct conv=notrunc status=none",
                                           &rss));
      } else {
        BenchDisk d(fw::FdDevice::Open(disk.string(), true), length);
        fw::SetImageJobDiskForTesting(&d);
        ui.file = out.string();
        DropCaches();
        const auto t0 = std::chrono::steady_clock::now();
        ui.flushAt = t0;
        const auto r = fw::RunRecover();
        const double t = Seconds(t0);
        restore[kFw].push_back(t);
        flushShare.push_back((t - std::chrono::duration<double>(ui.flushAt - t0).count()) / t);
        if (!r.copied) std::fprintf(stderr, "restore failed\n");
      }
    }
  }
  const auto row = [&](const char* name, std::vector<double>* t) {
    const double fw = Median(t[kFw]), dd = Median(t[kDd]), direct = Median(t[kDdDirect]);
    std::printf(
        "%s: flashwright %.0f MB/s | dd bs=16M %.0f MB/s (ratio %.2f) | dd oflag=direct "
        "%.0f MB/s (ratio %.2f)\n",
        name, mb / fw, mb / dd, dd / fw, mb / direct, direct / fw);
    for (size_t i = 0; i < t[kFw].size(); ++i)
      std::printf("   round %zu: ratios %.2f / %.2f\n", i + 1, t[kDd][i] / t[kFw][i],
                  t[kDdDirect][i] / t[kFw][i]);
  };
  std::printf("medians of %d rounds, %lld GiB, ratio = dd time / flashwright time\n", rounds,
              static_cast<long long>(gib));
  row("backup ", backup);
  row("restore", restore);
  std::printf("restore: final flush %.0f%% of the time (median)\n", 100 * Median(flushShare));
  std::printf(
      "peak RSS: flashwright %ld KiB (before the copies %ld KiB) | dd %ld KiB | dd direct "
      "%ld KiB\n",
      SelfPeakKiB(), before, ddRss, ddDirectRss);
  fw::SetImageJobDiskForTesting(nullptr);
  fw::SetUi(nullptr);
  fs::remove_all(dir);
  return 0;
}
