#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "fs/fat_common.h"
#include "fs/fat_format.h"
#include "fs/fat_volume.h"
#include "fs/memory_device.h"

namespace fw::fat {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

struct Case {
  FsKind kind;
  uint32_t sector;
  uint64_t size;
};

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.kind == FsKind::Fat32 ? "Fat32" : "Exfat") + "_" +
         std::to_string(info.param.sector) + "_" + std::to_string(info.param.size / kMiB) + "M";
}

class EngineTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    dev_ = std::make_unique<MemoryDevice>(GetParam().size, GetParam().sector);
    FormatOptions o;
    o.kind = GetParam().kind;
    o.label = "Flash";
    o.partitionStartSector = kMiB / GetParam().sector;
    ASSERT_EQ(FormatVolume(*dev_, o).result, FormatResult::Ok);
  }
  std::unique_ptr<VolumeFiles> Open() {
    OpenError err;
    auto v = OpenVolume(*dev_, &err);
    EXPECT_EQ(err, OpenError::None);
    return v;
  }
  static bool Put(VolumeFiles& v, const std::string& path, const std::string& data,
                  uint64_t hint = 0) {
    auto w = v.CreateFile(path, hint);
    if (!w) return false;
    // Odd piece sizes cross cluster and batch boundaries.
    for (size_t pos = 0; pos < data.size(); pos += 7777)
      if (!w->Write(data.data() + pos, std::min<size_t>(7777, data.size() - pos))) return false;
    return w->Close();
  }
  std::unique_ptr<MemoryDevice> dev_;
};

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

TEST_P(EngineTest, FilesAndFoldersSurviveReopening) {
  auto v = Open();
  ASSERT_TRUE(v);
  EXPECT_EQ(v->FileSystemName(), GetParam().kind == FsKind::Fat32 ? "FAT32" : "exFAT");
  EXPECT_EQ(v->Label(), GetParam().kind == FsKind::Fat32 ? "FLASH" : "Flash");
  const uint64_t freeBefore = v->FreeBytes();
  ASSERT_TRUE(v->MakeDirectories("EFI/CLOVER/drivers/UEFI"));
  ASSERT_TRUE(v->MakeDirectories("efi/clover"));  // exists already, any case
  const std::string big = Pattern(3 * kMiB + 123, 1);
  ASSERT_TRUE(Put(*v, "EFI/CLOVER/CLOVERX64.efi", big, big.size()));
  ASSERT_TRUE(Put(*v, "EFI/CLOVER/drivers/UEFI/empty.efi", ""));
  ASSERT_TRUE(Put(*v, "Ünïcödé файл 😀 with a rather long name.txt", "unicode"));
  ASSERT_TRUE(Put(*v, "README.TXT", "first version, longer"));
  ASSERT_TRUE(Put(*v, "readme.txt", "second"));  // overwrites, keeps one entry
  // Many files in one folder: the folder grows past one cluster.
  for (int i = 0; i < 150; ++i)
    ASSERT_TRUE(Put(*v, "EFI/CLOVER/drivers/file number " + std::to_string(i) + ".efi",
                    Pattern(static_cast<size_t>(i) * 611, i)));
  ASSERT_TRUE(v->SetHidden("README.TXT", true));
  ASSERT_TRUE(v->SetLabel("NEW LABEL"));
  ASSERT_TRUE(v->Flush());
  const uint64_t freeAfter = v->FreeBytes();
  EXPECT_LT(freeAfter, freeBefore - big.size());
  v.reset();

  v = Open();
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Label(), "NEW LABEL");
  EXPECT_EQ(v->FreeBytes(), freeAfter);
  std::string got;
  ASSERT_TRUE(v->ReadFile("efi/clover/cloverx64.EFI", got));
  EXPECT_TRUE(got == big);
  ASSERT_TRUE(v->ReadFile("EFI/CLOVER/drivers/UEFI/empty.efi", got));
  EXPECT_TRUE(got.empty());
  ASSERT_TRUE(v->ReadFile("ÜNÏCÖDÉ ФАЙЛ 😀 WITH A RATHER LONG NAME.TXT", got));
  EXPECT_EQ(got, "unicode");
  ASSERT_TRUE(v->ReadFile("README.TXT", got));
  EXPECT_EQ(got, "second");
  for (int i = 0; i < 150; i += 37) {
    ASSERT_TRUE(v->ReadFile("EFI/CLOVER/drivers/file number " + std::to_string(i) + ".efi", got));
    EXPECT_TRUE(got == Pattern(static_cast<size_t>(i) * 611, i)) << i;
  }
  std::vector<VolumeEntry> root;
  ASSERT_TRUE(v->ListDirectory("", root));
  int readmes = 0;
  for (const auto& e : root) {
    if (e.name == "README.TXT") {
      ++readmes;
      EXPECT_TRUE(e.hidden);
      EXPECT_EQ(e.size, 6u);
    }
  }
  EXPECT_EQ(readmes, 1);
  std::vector<VolumeEntry> drivers;
  ASSERT_TRUE(v->ListDirectory("EFI/CLOVER/drivers", drivers));
  EXPECT_EQ(drivers.size(), 151u);
  EXPECT_TRUE(v->Exists("EFI/CLOVER/DRIVERS/uefi"));
  EXPECT_FALSE(v->Exists("EFI/BOOT"));
  EXPECT_FALSE(v->ReadFile("EFI/CLOVER", got));  // a folder is no file
}

TEST_P(EngineTest, LargeFilesReadInPiecesOfAtMostEightMebibytes) {
  auto v = Open();
  ASSERT_TRUE(v);
  // More than one run of 8 MiB, and a file written in two parts so its clusters are not all
  // neighbours.
  const std::string big = Pattern(17 * kMiB + 4321, 3);
  ASSERT_TRUE(Put(*v, "big.bin", big.substr(0, 5 * kMiB)));
  ASSERT_TRUE(Put(*v, "between.bin", Pattern(70000, 4)));
  {
    auto w = v->CreateFile("big.bin", 0);
    ASSERT_TRUE(w && w->Write(big.data(), big.size()) && w->Close());
  }
  std::string got;
  size_t pieces = 0, largest = 0;
  ASSERT_TRUE(v->ReadFileInPieces("BIG.BIN", [&](const void* data, size_t length) {
    got.append(static_cast<const char*>(data), length);
    ++pieces;
    largest = std::max(largest, length);
    return true;
  }));
  EXPECT_TRUE(got == big);
  EXPECT_GE(pieces, 3u);
  EXPECT_LE(largest, 8 * kMiB);
  // The reader may stop it.
  pieces = 0;
  EXPECT_FALSE(v->ReadFileInPieces("big.bin", [&](const void*, size_t) { return ++pieces < 2; }));
  EXPECT_EQ(pieces, 2u);
  EXPECT_FALSE(v->ReadFileInPieces("missing.bin", [](const void*, size_t) { return true; }));
}

TEST_P(EngineTest, RefusesBadNamesAndFullVolumes) {
  auto v = Open();
  ASSERT_TRUE(v);
  EXPECT_FALSE(v->CreateFile(std::string(300, 'a'), 0));
  EXPECT_FALSE(v->CreateFile("a:b", 0));
  EXPECT_FALSE(v->CreateFile("missing/folder/file", 0));
  EXPECT_FALSE(v->CreateFile(std::string("bad\xff") + "utf8", 0));
  EXPECT_TRUE(v->CreateFile(std::string(255, 'b'), 0) != nullptr);
  ASSERT_TRUE(Put(*v, "plain", "x"));
  EXPECT_FALSE(v->MakeDirectories("plain/sub"));  // a file on the way

  // Fill the volume: the write fails, and closing gives every cluster back.
  const uint64_t freeBefore = v->FreeBytes();
  auto w = v->CreateFile("huge.bin", 0);
  ASSERT_TRUE(w);
  const std::string chunk(kMiB, 'z');
  bool failed = false;
  for (uint64_t written = 0; written <= freeBefore + kMiB; written += chunk.size())
    if (!w->Write(chunk.data(), chunk.size())) {
      failed = true;
      break;
    }
  EXPECT_TRUE(failed);
  EXPECT_FALSE(w->Close());
  EXPECT_EQ(v->FreeBytes(), freeBefore);
  EXPECT_FALSE(v->Exists("huge.bin"));
  ASSERT_TRUE(v->Flush());
}

INSTANTIATE_TEST_SUITE_P(Matrix, EngineTest,
                         ::testing::Values(Case{FsKind::Fat32, 512, 40 * kMiB},
                                           Case{FsKind::Fat32, 4096, 300 * kMiB},
                                           Case{FsKind::Exfat, 512, 24 * kMiB},
                                           Case{FsKind::Exfat, 4096, 64 * kMiB}),
                         Name);

TEST(FatFormat, RefusesWhatTheFileSystemCannotHold) {
  MemoryDevice small(30 * kMiB, 512);
  FormatOptions o;
  EXPECT_EQ(FormatVolume(small, o).result, FormatResult::TooSmall);
  MemoryDevice fourK(200 * kMiB, 4096);  // 4 KiB clusters at least: too few
  EXPECT_EQ(FormatVolume(fourK, o).result, FormatResult::TooSmall);
  MemoryDevice ok(64 * kMiB, 512);
  o.clusterSize = 3000;
  EXPECT_EQ(FormatVolume(ok, o).result, FormatResult::UnsupportedClusterSize);
  o.clusterSize = 256;
  EXPECT_EQ(FormatVolume(ok, o).result, FormatResult::UnsupportedClusterSize);
  o.clusterSize = 0;
  o.label = "TWELVE CHARS";
  EXPECT_EQ(FormatVolume(ok, o).result, FormatResult::BadLabel);
  o.label = "A*B";
  EXPECT_EQ(FormatVolume(ok, o).result, FormatResult::BadLabel);
  MemoryDevice huge(3 * 1024 * 1024 * kMiB, 512);  // 3 TiB: past 32-bit sector numbers
  o.label.clear();
  EXPECT_EQ(FormatVolume(huge, o).result, FormatResult::TooBig);
}

TEST(FatFormat, DataStartsOnAMebibyteOfTheDiskAndCancelStops) {
  for (uint64_t start : {uint64_t{63}, uint64_t{2048}, uint64_t{8192}}) {
    MemoryDevice dev(100 * kMiB, 512);
    FormatOptions o;
    o.partitionStartSector = start;
    ASSERT_EQ(FormatVolume(dev, o).result, FormatResult::Ok);
    uint8_t b[512];
    ASSERT_TRUE(dev.ReadSectors(0, 1, b));
    const uint64_t dataStart = Get16(b + 14) + 2ull * Get32(b + 36);
    EXPECT_EQ((start + dataStart) % 2048, 0u) << start;
    EXPECT_EQ(Get32(b + 28), start);
    EXPECT_EQ(b[kFat32BootCodeOffset], 0x0E);  // the not-bootable stub
  }
  MemoryDevice dev(100 * kMiB, 512);
  FormatOptions o;
  o.quick = false;
  int calls = 0;
  o.progress = [&calls](int pct) { return ++calls < 3 && pct < 100; };
  EXPECT_EQ(FormatVolume(dev, o).result, FormatResult::Cancelled);
  EXPECT_EQ(calls, 3);
}

// A full format leaves nothing of the old contents in the system area or the cluster heap: the
// result equals, byte for byte, the same format of a blank device. A quick one leaves the heap
// alone. The volumes are sized so the zeroing runs over several 16 MiB pieces from offsets that
// are not multiples of them.
TEST(FatFormat, FullFormatOverwritesEveryClusterAndQuickLeavesThem) {
  for (FsKind kind : {FsKind::Fat32, FsKind::Exfat}) {
    for (bool quick : {false, true}) {
      const uint64_t size = 70 * kMiB + 4096 * 3;
      MemoryDevice used(size, 512), blank(size, 512);
      const std::string old(kMiB, '\xA5');
      for (uint64_t at = 0; at < size; at += old.size())
        ASSERT_GT(used.WriteAt(at, old.data(), std::min<uint64_t>(old.size(), size - at)), 0);
      FormatOptions o;
      o.kind = kind;
      o.quick = quick;
      o.partitionStartSector = 63;
      o.volumeSerial = 0x12345678;
      const FormatOutcome r = FormatVolume(used, o);
      ASSERT_EQ(r.result, FormatResult::Ok);
      ASSERT_EQ(FormatVolume(blank, o).result, FormatResult::Ok);
      uint8_t b[512];
      ASSERT_TRUE(used.ReadSectors(0, 1, b));
      const uint64_t heap = kind == FsKind::Fat32 ? (Get16(b + 14) + 2ull * Get32(b + 36)) * 512
                                                  : Get32(b + 88) * 512ull;
      const uint64_t end = heap + r.clusterCount * r.clusterSize;
      uint64_t systemDiffs = 0, heapDiffs = 0;
      std::vector<uint8_t> x(kMiB), y(kMiB);
      for (uint64_t at = 0; at < end; at += x.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(x.size(), end - at));
        ASSERT_EQ(used.ReadAt(at, x.data(), n), static_cast<int64_t>(n));
        ASSERT_EQ(blank.ReadAt(at, y.data(), n), static_cast<int64_t>(n));
        for (size_t i = 0; i < n; ++i)
          if (x[i] != y[i]) ++(at + i < heap ? systemDiffs : heapDiffs);
      }
      const char* what = kind == FsKind::Fat32 ? "FAT32" : "exFAT";
      EXPECT_EQ(systemDiffs, 0u) << what;
      if (quick) {
        EXPECT_GT(heapDiffs, (end - heap) / 2) << what;
      } else {
        EXPECT_EQ(heapDiffs, 0u) << what;
      }
    }
  }
}

// The default cluster sizes at the edges of the size classes.
TEST(FatFormat, DefaultClusterSizesFollowTheVolumeSize) {
  const std::pair<uint64_t, uint32_t> fat32[] = {
      {64 * kMiB, 512},      {64 * kMiB + 512, 1024}, {256 * kMiB, 2048},
      {257 * kMiB, 4096},    {8192 * kMiB, 4096},     {8193 * kMiB, 8192},
      {32768 * kMiB, 16384}, {32769 * kMiB, 32768},   {2048ull * 1024 * kMiB, 32768}};
  for (const auto& [bytes, cluster] : fat32) EXPECT_EQ(DefaultFat32ClusterSize(bytes), cluster);
  const std::pair<uint64_t, uint32_t> exfat[] = {{8 * kMiB, 4096},
                                                 {256 * kMiB, 4096},
                                                 {257 * kMiB, 32768},
                                                 {32768 * kMiB, 32768},
                                                 {32769 * kMiB, 131072}};
  for (const auto& [bytes, cluster] : exfat) EXPECT_EQ(DefaultExfatClusterSize(bytes), cluster);
}

// A disk that starts to return short writes: the format fails after `goodWrites` writes, a file
// write fails and the flush reports it, and nothing reaches outside the volume's window.
void ExpectShortWritesFail(const FormatOptions& o, uint64_t volumeBytes, int goodWrites) {
  MemoryDevice disk(volumeBytes + 6 * kMiB, 512);
  FaultDevice faulty(disk);
  WindowDevice window(faulty, kMiB, volumeBytes);
  faulty.ShortWritesAfter(goodWrites);
  EXPECT_EQ(FormatVolume(window, o).result, FormatResult::IoError);
  faulty.ShortWritesAfter(-1);
  ASSERT_EQ(FormatVolume(window, o).result, FormatResult::Ok);
  uint8_t before[512];
  ASSERT_TRUE(disk.ReadSectors(0, 1, before));
  auto v = OpenVolume(window);
  ASSERT_TRUE(v);
  faulty.ShortWritesAfter(0);
  auto w = v->CreateFile("f.bin", 0);
  ASSERT_TRUE(w);
  const std::string data = Pattern(3 * kMiB, 4);
  const bool wrote = w->Write(data.data(), data.size());
  EXPECT_FALSE(wrote && w->Close());
  EXPECT_FALSE(v->Flush());
  EXPECT_FALSE(faulty.leftRange);
  uint8_t after[512];
  ASSERT_TRUE(disk.ReadSectors(0, 1, after));
  EXPECT_EQ(std::memcmp(before, after, 512), 0);  // nothing before the window
}

// Damaged volumes and failing disks: clear failures, no hang, nothing outside the volume.
TEST(FatBadInput, GarbageAndLoopsAndShortWrites) {
  MemoryDevice dev(40 * kMiB, 512);
  EXPECT_FALSE(OpenVolume(dev));  // all zeros
  std::string junk = Pattern(512, 9);
  junk[510] = 0x55;
  junk[511] = static_cast<char>(0xAA);
  ASSERT_TRUE(dev.WriteSectors(0, 1, junk.data()));
  EXPECT_FALSE(OpenVolume(dev));

  FormatOptions o;
  ASSERT_EQ(FormatVolume(dev, o).result, FormatResult::Ok);
  {
    auto v = OpenVolume(dev);
    ASSERT_TRUE(v);
    ASSERT_TRUE(v->MakeDirectories("dir"));
    ASSERT_TRUE(Pattern(1, 1).size() == 1);
    auto w = v->CreateFile("loop.bin", 0);
    const std::string data = Pattern(5000, 3);
    ASSERT_TRUE(w->Write(data.data(), data.size()) && w->Close());
    ASSERT_TRUE(v->Flush());
  }
  uint8_t b[512];
  ASSERT_TRUE(dev.ReadSectors(0, 1, b));
  const uint64_t fat = Get16(b + 14) * 512ull;
  const uint64_t heap = fat + 2ull * Get32(b + 36) * 512;
  // The file sits in clusters 4.. (root 2, dir 3); make cluster 5 point back to 4.
  uint8_t four[4];
  Put32(four, 4);
  ASSERT_EQ(dev.WriteAt(fat + 5 * 4, four, 4), 4);
  {
    auto v = OpenVolume(dev);
    ASSERT_TRUE(v);
    std::string got;
    EXPECT_FALSE(v->ReadFile("loop.bin", got));
  }
  // A root entry whose cluster lies past the volume.
  std::vector<uint8_t> root(512);
  ASSERT_EQ(dev.ReadAt(heap, root.data(), 512), 512);
  for (size_t i = 0; i < 512; i += 32)
    if (std::memcmp(root.data() + i, "DIR        ", 11) == 0) Put16(root.data() + i + 20, 0x7FFF);
  ASSERT_EQ(dev.WriteAt(heap, root.data(), 512), 512);
  EXPECT_FALSE(OpenVolume(dev));

  ExpectShortWritesFail(o, 40 * kMiB, 3);
}

// The same for exFAT: a boot region whose checksum does not match, entry sets that are damaged
// or point past the heap, a size near 2^64, a FAT loop in the root folder, short writes.
TEST(FatBadInput, ExfatDamageIsRefusedWithoutACrash) {
  MemoryDevice dev(24 * kMiB, 512);
  FormatOptions o;
  o.kind = FsKind::Exfat;
  ASSERT_EQ(FormatVolume(dev, o).result, FormatResult::Ok);
  {
    auto v = OpenVolume(dev);
    ASSERT_TRUE(v);
    auto w = v->CreateFile("file.bin", 0);
    const std::string data = Pattern(9000, 5);
    ASSERT_TRUE(w && w->Write(data.data(), data.size()) && w->Close());
    ASSERT_TRUE(v->Flush());
  }
  MemoryDevice pristine = dev;
  uint8_t b[512];
  ASSERT_TRUE(dev.ReadSectors(0, 1, b));
  const uint64_t fat = Get32(b + 80) * 512ull;
  const uint64_t cluster = 512ull << b[109];
  const uint64_t root = Get32(b + 88) * 512ull + (Get32(b + 96) - 2) * cluster;
  // The file's entry set in the root folder (after label-less bitmap and up-case entries).
  std::vector<uint8_t> dir(static_cast<size_t>(cluster));
  ASSERT_EQ(dev.ReadAt(root, dir.data(), dir.size()), static_cast<int64_t>(dir.size()));
  size_t set = 0;
  while (set < dir.size() && dir[set] != 0x85) set += 32;
  ASSERT_LT(set, dir.size());
  const auto withSet = [&](const std::function<void(uint8_t*)>& change, bool fixChecksum) {
    dev = pristine;
    std::vector<uint8_t> d = dir;
    change(d.data() + set);
    if (fixChecksum) {
      uint16_t sum = 0;
      for (size_t i = 0; i < (d[set + 1] + 1u) * 32; ++i) {
        if (i == 2 || i == 3) continue;
        sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + d[set + i]);
      }
      Put16(d.data() + set + 2, sum);
    }
    EXPECT_EQ(dev.WriteAt(root, d.data(), d.size()), static_cast<int64_t>(d.size()));
  };

  // A boot region byte changed: its checksum sector no longer matches.
  const uint8_t one = 1;
  ASSERT_EQ(dev.WriteAt(512 * 3 + 100, &one, 1), 1);
  EXPECT_FALSE(OpenVolume(dev));
  // A set whose checksum is wrong.
  withSet([](uint8_t* e) { e[32 + 24] ^= 1; }, false);
  EXPECT_FALSE(OpenVolume(dev));
  // A first cluster past the heap.
  withSet([](uint8_t* e) { Put32(e + 32 + 20, 0x7FFFFFFF); }, true);
  EXPECT_FALSE(OpenVolume(dev));
  // A size near 2^64: the folder opens, the file cannot be read, nothing crashes.
  withSet(
      [](uint8_t* e) {
        Put64(e + 32 + 8, ~uint64_t{0});
        Put64(e + 32 + 24, ~uint64_t{0});
      },
      true);
  {
    auto v = OpenVolume(dev);
    ASSERT_TRUE(v);
    std::string got;
    EXPECT_FALSE(v->ReadFile("file.bin", got));
  }
  // The root folder's FAT entry points back at itself (and the folder is not contiguous).
  dev = pristine;
  withSet([](uint8_t*) {}, false);
  uint8_t self[4];
  Put32(self, Get32(b + 96));
  ASSERT_EQ(dev.WriteAt(fat + Get32(b + 96) * 4ull, self, 4), 4);
  EXPECT_FALSE(OpenVolume(dev));

  ExpectShortWritesFail(o, 24 * kMiB, 2);
}

TEST(FatCommon, NamesAndChecksums) {
  std::u16string u;
  EXPECT_TRUE(Utf8ToUtf16("a😀ü", u));
  EXPECT_EQ(u.size(), 4u);
  EXPECT_EQ(Utf16ToUtf8(u), "a😀ü");
  EXPECT_FALSE(Utf8ToUtf16("\xc3", u));          // truncated
  EXPECT_FALSE(Utf8ToUtf16("\xed\xa0\x80", u));  // surrogate
  EXPECT_FALSE(Utf8ToUtf16("\xc0\xaf", u));      // overlong
  EXPECT_EQ(UpCase(u'ä'), u'Ä');
  EXPECT_EQ(UpCase(u'я'), u'Я');
  EXPECT_EQ(UpCase(u'ÿ'), u'Ÿ');
  std::vector<char16_t> table;
  const auto packed = CompressedUpCaseTable();
  ASSERT_TRUE(ExpandUpCaseTable(packed.data(), packed.size(), table));
  for (unsigned c = 0; c < 0x10000; ++c) ASSERT_EQ(table[c], UpCase(static_cast<char16_t>(c))) << c;
  EXPECT_FALSE(IsValidLongName(u"trailing."));
  EXPECT_FALSE(IsValidLongName(u".."));
  EXPECT_TRUE(IsValidLongName(u".hidden"));
}

}  // namespace
}  // namespace fw::fat
