// Format and copy times of the built-in engine against the common Linux tools, on the same
// sparse image files. Prints one line per comparison with the ratio tool time / engine time
// (medians of several runs). Usage: fw_bench_fat [work folder] [runs, default 5].
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/fat_format.h"
#include "fs/fat_volume.h"
#include "platform/block_device.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

bool MakeImage(const std::string& path, uint64_t size) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
  close(fd);
  return ok;
}

double TimeShell(const std::string& cmd) {
  const auto t = Clock::now();
  const std::string full =
      "PATH=/usr/sbin:/sbin:/usr/bin:/bin MTOOLS_SKIP_CHECK=1; export MTOOLS_SKIP_CHECK; (" + cmd +
      ") >/dev/null 2>&1";
  if (std::system(full.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
  return Seconds(t);
}

double TimeEngineFormat(const std::string& path, fw::fat::FsKind kind, bool quick = true) {
  const auto t = Clock::now();
  auto dev = fw::FdDevice::Open(path, true, 512);
  fw::fat::FormatOptions o;
  o.kind = kind;
  o.label = "BENCH";
  o.quick = quick;
  if (!dev || fw::fat::FormatVolume(*dev, o).result != fw::fat::FormatResult::Ok)
    std::fprintf(stderr, "engine format failed on %s\n", path.c_str());
  dev.reset();
  return Seconds(t);
}

void Report(const char* what, double tool, double engine) {
  std::printf("%-48s tool %8.3f s  engine %8.3f s  ratio %6.2fx\n", what, tool, engine,
              engine > 0 ? tool / engine : 0.0);
}

// Writes the tree onto the FAT32 volume in `img` through the engine; false on any failure.
bool CopyTree(const std::string& img, const fs::path& tree,
              const std::vector<std::pair<std::string, size_t>>& files) {
  auto dev = fw::FdDevice::Open(img, true, 512);
  auto v = dev ? fw::fat::OpenVolume(*dev) : nullptr;
  if (!v) return false;
  std::vector<char> buf(1 << 20);
  for (const auto& [rel, len] : files) {
    const auto slash = rel.rfind('/');
    if (!v->MakeDirectories(rel.substr(0, slash))) return false;
    std::ifstream in(tree / rel, std::ios::binary);
    in.read(buf.data(), static_cast<long>(len));
    auto w = v->CreateFile(rel, len);
    if (!w || !w->Write(buf.data(), len) || !w->Close()) return false;
  }
  return v->Flush();
}

// The median of `runs` timings; each run starts from a fresh sparse image with the system's
// write-back done, so no run pays for the one before.
template <typename F>
double Median(int runs, F&& run) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    ::sync();
    t.push_back(run());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

// Prints "tool / engine" ratios: above 1 the engine is faster. Both sides include getting the
// written data to the storage (the engine flushes; the tools are followed by sync of the image).
int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "fw_bench_fat";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  fs::create_directories(work);
  const std::string img = (work / "bench.img").string();
  constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
  auto tool = [&](uint64_t size, const std::string& cmd) {
    return Median(runs, [&] {
      MakeImage(img, size);
      ::sync();
      return TimeShell(cmd + " && sync " + img);
    });
  };
  auto engine = [&](uint64_t size, fw::fat::FsKind kind, bool quick) {
    return Median(runs, [&] {
      MakeImage(img, size);
      ::sync();
      return TimeEngineFormat(img, kind, quick);
    });
  };
  for (uint64_t size : {8 * kGiB, 64 * kGiB}) {
    const std::string gib = std::to_string(size / kGiB) + " GiB";
    Report(("FAT32 quick format, " + gib + " (mkfs.fat -F 32)").c_str(),
           tool(size, "mkfs.fat -F 32 " + img), engine(size, fw::fat::FsKind::Fat32, true));
    Report(("exFAT quick format, " + gib + " (mkfs.exfat)").c_str(),
           tool(size, "mkfs.exfat " + img), engine(size, fw::fat::FsKind::Exfat, true));
  }
  // Full formats write the whole volume: a smaller image keeps the run short.
  {
    const uint64_t size = 2 * kGiB;
    Report("FAT32 full format, 2 GiB (dd zeros + mkfs.fat)",
           tool(size, "dd if=/dev/zero of=" + img + " bs=4M count=512 conv=notrunc status=none" +
                          " && mkfs.fat -F 32 " + img),
           engine(size, fw::fat::FsKind::Fat32, false));
    Report("exFAT full format, 2 GiB (mkfs.exfat -f)", tool(size, "mkfs.exfat -f " + img),
           engine(size, fw::fat::FsKind::Exfat, false));
  }

  // A tree of 2,000 files, 50 MB in all, in 20 folders.
  const fs::path tree = work / "tree";
  fs::remove_all(tree);
  std::vector<std::pair<std::string, size_t>> files;
  std::string block(1 << 20, 'b');
  for (int i = 0; i < 2000; ++i) {
    const std::string rel =
        "folder" + std::to_string(i % 20) + "/file with a long name " + std::to_string(i) + ".bin";
    const size_t len = 25 * 1000 + static_cast<size_t>((i * 7919) % 2000);
    fs::create_directories((tree / rel).parent_path());
    std::ofstream(tree / rel, std::ios::binary).write(block.data(), static_cast<long>(len));
    files.emplace_back(rel, len);
  }
  const double copyTool = Median(runs, [&] {
    MakeImage(img, 8 * kGiB);
    TimeShell("mkfs.fat -F 32 " + img);
    ::sync();
    return TimeShell("cd " + tree.string() + " && mcopy -s -i " + img + " folder* ::/ && sync " +
                     img);
  });
  int failed = 0;
  const double copyEngine = Median(runs, [&] {
    MakeImage(img, 8 * kGiB);
    TimeShell("mkfs.fat -F 32 " + img);
    ::sync();
    const auto t = Clock::now();
    if (!CopyTree(img, tree, files)) ++failed;
    return Seconds(t);
  });
  if (failed) return 1;
  Report("2,000 files / 50 MB onto FAT32 (mcopy -s)", copyTool, copyEngine);
  const int fsck = std::system(("fsck.fat -n " + img + " >/dev/null 2>&1").c_str());
  std::printf("fsck.fat -n after the engine's copy: %s\n", fsck == 0 ? "clean" : "ERRORS");
  fs::remove_all(work);
  return 0;
}
