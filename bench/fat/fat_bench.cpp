// Format and copy times of the built-in engine against the common Linux tools, on the same
// sparse image files. Prints one line per comparison with the ratio tool time / engine time.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "platform/fat/fat_format.h"
#include "platform/fat/fat_volume.h"

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
      "PATH=/usr/sbin:/sbin:/usr/bin:/bin MTOOLS_SKIP_CHECK=1 " + cmd + " >/dev/null 2>&1";
  if (std::system(full.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
  return Seconds(t);
}

double TimeEngineFormat(const std::string& path, fw::fat::FsKind kind) {
  const auto t = Clock::now();
  auto dev = fw::FdDevice::Open(path, true, 512);
  fw::fat::FormatOptions o;
  o.kind = kind;
  o.label = "BENCH";
  if (!dev || fw::fat::FormatVolume(*dev, o).result != fw::fat::FormatResult::Ok)
    std::fprintf(stderr, "engine format failed on %s\n", path.c_str());
  dev.reset();
  return Seconds(t);
}

void Report(const char* what, double tool, double engine) {
  std::printf("%-44s tool %8.3f s  engine %8.3f s  ratio %6.2fx\n", what, tool, engine,
              engine > 0 ? tool / engine : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "fw_bench_fat";
  fs::create_directories(work);
  const std::string img = (work / "bench.img").string();
  constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
  for (uint64_t size : {8 * kGiB, 64 * kGiB}) {
    const std::string gib = std::to_string(size / kGiB) + " GiB";
    MakeImage(img, size);
    const double tool = TimeShell("mkfs.fat -F 32 " + img);
    MakeImage(img, size);
    const double engine = TimeEngineFormat(img, fw::fat::FsKind::Fat32);
    Report(("FAT32 format, " + gib + " (mkfs.fat -F 32)").c_str(), tool, engine);
    MakeImage(img, size);
    const double toolEx = TimeShell("mkfs.exfat " + img);
    MakeImage(img, size);
    const double engineEx = TimeEngineFormat(img, fw::fat::FsKind::Exfat);
    Report(("exFAT format, " + gib + " (mkfs.exfat)").c_str(), toolEx, engineEx);
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
  MakeImage(img, 8 * kGiB);
  TimeShell("mkfs.fat -F 32 " + img);
  const double tool = TimeShell("cd " + tree.string() + " && mcopy -s -i " + img + " folder* ::/");
  MakeImage(img, 8 * kGiB);
  TimeShell("mkfs.fat -F 32 " + img);
  const auto t = Clock::now();
  {
    auto dev = fw::FdDevice::Open(img, true, 512);
    auto v = dev ? fw::fat::OpenVolume(*dev) : nullptr;
    if (!v) return 1;
    std::vector<char> buf(1 << 20);
    for (const auto& [rel, len] : files) {
      const auto slash = rel.rfind('/');
      v->MakeDirectories(rel.substr(0, slash));
      std::ifstream in(tree / rel, std::ios::binary);
      in.read(buf.data(), static_cast<long>(len));
      auto w = v->CreateFile(rel, len);
      if (!w || !w->Write(buf.data(), len) || !w->Close()) return 1;
    }
    if (!v->Flush()) return 1;
  }
  const double engine = Seconds(t);
  Report("2,000 files / 50 MB onto FAT32 (mcopy -s)", tool, engine);
  const int fsck = std::system(("fsck.fat -n " + img + " >/dev/null 2>&1").c_str());
  std::printf("fsck.fat -n after the engine's copy: %s\n", fsck == 0 ? "clean" : "ERRORS");
  fs::remove_all(work);
  return 0;
}
