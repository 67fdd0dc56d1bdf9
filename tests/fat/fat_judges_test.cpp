#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fs/fat_format.h"
#include "fs/fat_volume.h"
#include "fs/memory_device.h"
#include "platform/block_device.h"

namespace fw::fat {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;

struct Case {
  FsKind kind;
  uint32_t sector;
  uint64_t size;
  uint32_t cluster;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& i) {
  std::string n = i.param.kind == FsKind::Fat32 ? "Fat32" : "Exfat";
  n += "_" + std::to_string(i.param.sector) + "_" + std::to_string(i.param.size / kMiB) + "M_c" +
       std::to_string(i.param.cluster);
  return n;
}

bool Have(const char* tool) {
  for (const char* d : {"/usr/sbin/", "/sbin/", "/usr/bin/"})
    if (access((std::string(d) + tool).c_str(), X_OK) == 0) return true;
  return false;
}

// Runs a shell command; exit status, with its output in `out`.
int Shell(const std::string& cmd, std::string& out) {
  const std::string full =
      "PATH=/usr/sbin:/sbin:/usr/bin:/bin MTOOLS_SKIP_CHECK=1 " + cmd + " 2>&1";
  FILE* p = popen(full.c_str(), "r");
  if (!p) return -1;
  out.clear();
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed + 7;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// The tree written on every volume: nested folders, names whose short aliases collide, Unicode,
// an empty file, a file of several clusters.
std::map<std::string, std::string> Tree() {
  std::map<std::string, std::string> t;
  t["EFI/CLOVER/CLOVERX64.efi"] = Pattern(1100 * 1024 + 17, 1);
  t["EFI/BOOT/BOOTX64.EFI"] = Pattern(4096, 2);
  t["EFI/CLOVER/config.plist"] = "<plist>\n</plist>\n";
  t["EFI/CLOVER/drivers/UEFI/empty.efi"] = "";
  for (int i = 0; i < 40; ++i)
    t["EFI/CLOVER/kexts/Other/Long Kext Name Number " + std::to_string(i) + ".kext.zip"] =
        Pattern(static_cast<size_t>(i) * 131, i);
  t["Ünïcödé файл.txt"] = "unicode text";
  t["lower.txt"] = "lower";
  t["MixedCase.Txt"] = "mixed";
  return t;
}

class JudgesTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    dir_ = fs::path(tmp && *tmp ? tmp : "/tmp") /
           ("fw_fat_judges_" + std::to_string(getpid()) + "_" + CaseName({GetParam(), 0}));
    fs::create_directories(dir_);
    image_ = (dir_ / "volume.img").string();
    const int fd = open(image_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(GetParam().size)), 0);
    close(fd);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  fs::path dir_;
  std::string image_;
};

TEST_P(JudgesTest, ToolsAcceptTheVolumeAndReadTheFilesBack) {
  const Case c = GetParam();
  const bool fat32 = c.kind == FsKind::Fat32;
  if (!Have(fat32 ? "fsck.fat" : "fsck.exfat")) GTEST_SKIP() << "checker not installed";
  auto dev = FdDevice::Open(image_, true, c.sector);
  ASSERT_TRUE(dev);
  FormatOptions o;
  o.kind = c.kind;
  o.label = "FLASHWRIGHT";
  o.clusterSize = c.cluster;
  o.partitionStartSector = kMiB / c.sector;
  ASSERT_EQ(FormatVolume(*dev, o).result, FormatResult::Ok);
  if (!fat32) {
    // Every extended boot sector of both boot regions (1..8, 13..20) ends in AA550000h; the
    // checkers do not look there, the boot code relies on it.
    std::vector<uint8_t> region(24 * c.sector);
    ASSERT_EQ(dev->ReadAt(0, region.data(), region.size()), static_cast<int64_t>(region.size()));
    for (uint32_t e : {1, 2, 3, 4, 5, 6, 7, 8, 13, 14, 15, 16, 17, 18, 19, 20}) {
      const uint8_t* end = region.data() + (e + 1) * c.sector - 4;
      EXPECT_TRUE(end[0] == 0 && end[1] == 0 && end[2] == 0x55 && end[3] == 0xAA) << "sector " << e;
    }
  }
  std::string out;
  // The fresh volume first, then with the tree on it.
  EXPECT_EQ(Shell(std::string(fat32 ? "fsck.fat -n " : "fsck.exfat -n ") + image_, out), 0) << out;

  const auto tree = Tree();
  {
    auto v = OpenVolume(*dev);
    ASSERT_TRUE(v);
    for (const auto& [path, data] : tree) {
      const auto slash = path.rfind('/');
      if (slash != std::string::npos) {
        ASSERT_TRUE(v->MakeDirectories(path.substr(0, slash)));
      }
      auto w = v->CreateFile(path, data.size());
      ASSERT_TRUE(w) << path;
      ASSERT_TRUE(w->Write(data.data(), data.size()));
      ASSERT_TRUE(w->Close());
    }
    ASSERT_TRUE(v->SetHidden("EFI", true));
    ASSERT_TRUE(v->Flush());
  }
  dev.reset();
  if (fat32) {
    ASSERT_EQ(Shell("fsck.fat -n -V " + image_, out), 0) << out;
    EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
    if (Have("mcopy")) {
      const fs::path m = dir_ / "mtools";
      fs::create_directories(m);
      ASSERT_EQ(Shell("mcopy -n -s -i " + image_ +
                          " ::/EFI '::/Ünïcödé файл.txt' ::/lower.txt ::/MixedCase.Txt " +
                          m.string() + "/",
                      out),
                0)
          << out;
      for (const auto& [path, data] : tree) {
        std::ifstream f(m / path, std::ios::binary);
        ASSERT_TRUE(f) << "mtools lacks " << path;
        std::stringstream ss;
        ss << f.rdbuf();
        EXPECT_TRUE(ss.str() == data) << path;
      }
      ASSERT_EQ(Shell("mdir -i " + image_ + " ::/", out), 0) << out;
      EXPECT_NE(out.find("FLASHWRIGHT"), std::string::npos) << out;
    }
    if (Have("7zz") && c.size <= 8192 * kMiB) {
      const fs::path x = dir_ / "7z";
      ASSERT_EQ(Shell("7zz x -y -o" + x.string() + " " + image_, out), 0) << out;
      for (const auto& [path, data] : tree) {
        std::ifstream f(x / path, std::ios::binary);
        ASSERT_TRUE(f) << "7-Zip lacks " << path;
        std::stringstream ss;
        ss << f.rdbuf();
        EXPECT_TRUE(ss.str() == data) << path;
      }
    }
  } else {
    ASSERT_EQ(Shell("fsck.exfat -n -v " + image_, out), 0) << out;
    EXPECT_NE(out.find("clean"), std::string::npos) << out;
    if (Have("dump.exfat")) {
      ASSERT_EQ(Shell("dump.exfat " + image_, out), 0) << out;
      EXPECT_NE(out.find("FLASHWRIGHT"), std::string::npos) << out;
    }
  }
  // The engine reads everything back from a fresh open (the second reader for exFAT).
  dev = FdDevice::Open(image_, false, c.sector);
  ASSERT_TRUE(dev);
  auto v = OpenVolume(*dev);
  ASSERT_TRUE(v);
  for (const auto& [path, data] : tree) {
    std::string got;
    ASSERT_TRUE(v->ReadFile(path, got)) << path;
    EXPECT_TRUE(got == data) << path;
  }
}

// The smallest volume each file system takes, found by search on 512-byte sectors at a 1 MiB
// partition start: one sector less is refused as too small, and the smallest one is clean for
// the checker before and after a file is written on it.
TEST(JudgesSmallest, SmallestVolumesAreCleanAndOneSectorLessIsRefused) {
  for (FsKind kind : {FsKind::Fat32, FsKind::Exfat}) {
    const bool fat32 = kind == FsKind::Fat32;
    if (!Have(fat32 ? "fsck.fat" : "fsck.exfat")) GTEST_SKIP() << "checker not installed";
    FormatOptions o;
    o.kind = kind;
    o.partitionStartSector = 2048;
    const auto formats = [&](uint64_t sectors) {
      MemoryDevice dev(sectors * 512, 512);
      return FormatVolume(dev, o).result;
    };
    uint64_t lo = 1, hi = 64 * kMiB / 512;  // lo too small, hi fits
    ASSERT_EQ(formats(hi), FormatResult::Ok);
    while (hi - lo > 1) {
      const uint64_t mid = (lo + hi) / 2;
      (formats(mid) == FormatResult::Ok ? hi : lo) = mid;
    }
    EXPECT_EQ(formats(hi - 1), FormatResult::TooSmall);
    const std::string image =
        (fs::temp_directory_path() / ("fw_fat_smallest_" + std::to_string(getpid()) + ".img"))
            .string();
    {
      const int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(ftruncate(fd, static_cast<off_t>(hi * 512)), 0);
      close(fd);
    }
    auto dev = FdDevice::Open(image, true, 512);
    ASSERT_TRUE(dev);
    const FormatOutcome r = FormatVolume(*dev, o);
    ASSERT_EQ(r.result, FormatResult::Ok);
    if (fat32) {
      EXPECT_EQ(r.clusterCount, 65525u);
    }
    const std::string check = std::string(fat32 ? "fsck.fat -n " : "fsck.exfat -n ") + image;
    std::string out;
    EXPECT_EQ(Shell(check, out), 0) << out;
    {
      auto v = OpenVolume(*dev);
      ASSERT_TRUE(v);
      const std::string data = Pattern(3000, 11);
      auto w = v->CreateFile("A small file.txt", data.size());
      ASSERT_TRUE(w && w->Write(data.data(), data.size()) && w->Close());
      ASSERT_TRUE(v->Flush());
    }
    dev.reset();
    EXPECT_EQ(Shell(check, out), 0) << out;
    std::printf("smallest %s volume: %llu sectors (%.2f MiB)\n", fat32 ? "FAT32" : "exFAT",
                static_cast<unsigned long long>(hi), hi * 512.0 / kMiB);
    fs::remove(image);
  }
}

// The slow executable (ctest label "slow") takes the large sparse images.
#ifndef FW_FAT_SLOW_CASES
INSTANTIATE_TEST_SUITE_P(
    Sizes, JudgesTest,
    ::testing::Values(
        // FAT32: the smallest volume with 65525 clusters of 512 bytes, the common sizes, 4 KiB
        // sectors, chosen cluster sizes.
        Case{FsKind::Fat32, 512, 34 * kMiB, 0}, Case{FsKind::Fat32, 512, 256 * kMiB, 0},
        Case{FsKind::Fat32, 4096, 300 * kMiB, 0}, Case{FsKind::Fat32, 512, 8 * kGiB, 0},
        Case{FsKind::Fat32, 512, 8 * kGiB, 65536}, Case{FsKind::Exfat, 512, 4 * kMiB, 0},
        Case{FsKind::Exfat, 512, 256 * kMiB, 0}, Case{FsKind::Exfat, 4096, 8 * kGiB, 0},
        Case{FsKind::Exfat, 512, 8 * kGiB, 4096},
        // Large clusters on 4 KiB sectors (FAT32) and larger than the tree's files (exFAT).
        Case{FsKind::Fat32, 4096, 8 * kGiB, 16384}, Case{FsKind::Exfat, 512, 256 * kMiB, kMiB}),
    CaseName);
#else
INSTANTIATE_TEST_SUITE_P(Large, JudgesTest,
                         ::testing::Values(Case{FsKind::Fat32, 512, 64 * kGiB, 0},
                                           Case{FsKind::Exfat, 512, 64 * kGiB, 0},
                                           Case{FsKind::Fat32, 512, 2048 * kGiB - kMiB, 0},
                                           Case{FsKind::Exfat, 4096, 2048 * kGiB, 0}),
                         CaseName);
#endif

}  // namespace
}  // namespace fw::fat
