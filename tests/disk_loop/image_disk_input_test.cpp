// Disk-image files with bad or unusual contents, through the whole inventory and raw access:
// images too small to hold a sector, a 3 TiB sparse image, 4096-byte sectors, and partition
// tables with overlapping, out-of-range or GPT slots. None of this needs root.
#include <sys/resource.h>
#include <sys/stat.h>

#include "tests/disk_loop/disk_fixture.h"

namespace fw::disktest {
namespace {

using ImageInputTest = DiskFixture;

std::vector<std::string> RowTexts() {
  std::vector<std::string> rows;
  for (const DriveListRow& r : DriveListRows()) rows.push_back(r.text);
  return rows;
}

TEST_F(ImageInputTest, ImagesSmallerThanOneSector) {
  const fs::path tiny = dir_ / "tiny.img";
  std::ofstream(tiny, std::ios::binary) << std::string(200, 'x');
  EXPECT_EQ(AttachImageDisk(tiny.string(), 512), 0);
  const fs::path small = MakeFile("small.img", 4000);
  EXPECT_EQ(AttachImageDisk(small.string(), 4096), 0);
  UpdateAllDrives();
  EXPECT_TRUE(DriveListRows().empty());
  EXPECT_EQ(ui_.statuses.back(), "Insert a USB Flash Drive ...");

  // 1000 bytes at 512 per sector: one whole sector, the tail is not part of the disk.
  std::ofstream(small, std::ios::binary | std::ios::trunc) << std::string(1000, 'y');
  ASSERT_EQ(AttachImageDisk(small.string(), 512), 1);
  UpdateAllDrives();
  EXPECT_EQ(RowTexts(), std::vector<std::string>{"FileBackedVirtual: Image small.img 512 B ()"});
  const int32_t n = DriveListRows()[0].diskNumber;
  const DriveHandle h = GetDriveHandle(n, "", true, false);
  ASSERT_NE(h, kInvalidHandle);
  std::vector<uint8_t> buf(1024);
  EXPECT_EQ(read_sectors(h, 512, 0, 2, buf.data()), 512);
  EXPECT_EQ(write_sectors(h, 512, 1, 1, buf.data()), 0);
  CloseHandle(h);
  EXPECT_EQ(fs::file_size(small), 1000u);

  // Cut to 200 bytes after it was listed: transfers come back short, nothing breaks.
  fs::resize_file(small, 200);
  const DriveHandle g = GetDriveHandle(n, "", false, false);
  if (g != kInvalidHandle) {
    EXPECT_LT(read_sectors(g, 512, 0, 1, buf.data()), 512);
    CloseHandle(g);
  }
  UpdateAllDrives();
  EXPECT_TRUE(DriveListRows().empty());
  EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(ImageInputTest, ThreeTebibyteSparseImage) {
  const int64_t size = 3LL << 40;
  const fs::path big = MakeFile("big.img", size);
  std::vector<uint8_t> mbr(512, 0);
  PutSlot(mbr, 0, 0x80, 0x0C, 2048, 1u << 31);
  const uint32_t start2 = (1u << 31) + 2048;
  const int64_t diskSectors = size / 512;
  PutSlot(mbr, 1, 0, 0x07, start2, static_cast<uint32_t>(diskSectors - start2));
  WriteBytes(big, 0, mbr);
  ASSERT_EQ(AttachImageDisk(big.string(), 512), 1);

  struct rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
  UpdateAllDrives();
  EXPECT_EQ(RowTexts(),
            (std::vector<std::string>{"FileBackedVirtual: Image big.img 3.00 TB ()",
                                      "Part1: 1.00 TB Act <NONAME> ", "Part2: 2.00 TB <NONAME> "}));
  const DiskRecord& d = DiskRecords().at(0);
  EXPECT_EQ(d.DiskLength, size);
  EXPECT_EQ(d.Partitions[1].StartingOffset + d.Partitions[1].PartitionLength, size);

  // The last sector of the disk, far beyond 2^32 sectors, is reachable and nothing is filled in.
  ASSERT_EQ(SetCurrentDisk(d.DiskNumber, -1), 1);
  const DriveHandle h = GetDriveHandle(d.DiskNumber, "", true, true);
  ASSERT_NE(h, kInvalidHandle);
  const std::vector<uint8_t> tail = Pattern(512, 5);
  EXPECT_EQ(write_sectors(h, 512, diskSectors - 1, 1, tail.data()), 512);
  EXPECT_EQ(write_sectors(h, 512, diskSectors, 1, tail.data()), 0);
  CloseHandle(h);
  struct rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes of peak memory";
  EXPECT_EQ(ReadBytes(big, size - 512, 512), tail);
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(big)), size);
  struct stat st {};
  ASSERT_EQ(::stat(big.c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, 4 * MiB) << "the image stays sparse";
}

TEST_F(ImageInputTest, FourKibibyteSectorImage) {
  // 8 MiB and half a small sector: the disk is the whole 4096-byte sectors only.
  const fs::path img = MakeFile("k4.img", 8 * MiB + 512);
  std::vector<uint8_t> sector0(4096, 0);
  PutSlot(sector0, 0, 0x80, 0x0C, 256, 1024);  // 1 MiB on, 4 MiB long, in 4096-byte units
  WriteBytes(img, 0, sector0);
  const std::vector<uint8_t> marker = Pattern(4096, 11);
  WriteBytes(img, MiB, marker);

  ASSERT_EQ(AttachImageDisk(img.string(), 4096), 1);
  UpdateAllDrives();
  EXPECT_EQ(RowTexts(), (std::vector<std::string>{"FileBackedVirtual: Image k4.img 8 MB ()",
                                                  "Part1: 4 MB Act <NONAME> "}));
  const DiskRecord& d = DiskRecords().at(0);
  EXPECT_EQ(d.BytesPerSector, 4096u);
  EXPECT_EQ(d.DiskLength, 8 * MiB);
  EXPECT_EQ(d.Partitions[0].StartingOffset, MiB);
  const DriveHandle h = GetDriveHandle(d.DiskNumber, "", false, false);
  ASSERT_NE(h, kInvalidHandle);
  std::vector<uint8_t> buf(4096);
  EXPECT_EQ(read_sectors(h, 4096, 256, 1, buf.data()), 4096);
  EXPECT_EQ(buf, marker);
  EXPECT_EQ(read_sectors(h, 4096, 2047, 2, buf.data()), 4096);
  EXPECT_EQ(read_sectors(h, 4096, 2049, 1, buf.data()), 0);
  CloseHandle(h);

  // The same file at 512 bytes a sector reads the table in 512-byte units.
  ASSERT_EQ(AttachImageDisk(img.string(), 512), 1);
  UpdateAllDrives();
  EXPECT_EQ(DiskRecords().at(0).BytesPerSector, 512u);
  EXPECT_EQ(DiskRecords().at(0).Partitions[0].StartingOffset, 256 * 512);
  EXPECT_EQ(DiskRecords().at(0).DiskLength, 8 * MiB + 512);
}

TEST_F(ImageInputTest, BrokenPartitionTablesListWhatTheyCan) {
  const fs::path img = MakeFile("bad.img", 16 * MiB);
  ASSERT_EQ(AttachImageDisk(img.string(), 512), 1);
  struct Case {
    const char* what;
    std::vector<uint8_t> sector0;
    std::vector<std::string> partitionRows;
    const char* logged;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> s(512, 0);
    PutSlot(s, 0, 0x80, 0x0C, 2048, 8192);
    PutSlot(s, 1, 0, 0x07, 4096, 8192);
    cases.push_back({"overlapping slots",
                     s,
                     {"Part1: 4 MB Act <NONAME> ", "Part2: 4 MB <NONAME> "},
                     "slots 1 and 2 overlap"});
  }
  {
    std::vector<uint8_t> s(512, 0);
    PutSlot(s, 0, 0, 0x0C, 2048, 1000000);           // reaches past the end
    PutSlot(s, 1, 0, 0x0C, 0xFFFFFFFF, 0xFFFFFFFF);  // starts beyond it
    PutSlot(s, 2, 0, 0x0C, 4096, 0);                 // no length
    PutSlot(s, 3, 0, 0x0C, 0, 100);                  // over the table itself
    cases.push_back({"slots outside the disk", s, {}, "lies outside the disk; left out"});
  }
  {
    std::vector<uint8_t> s(512, 0);
    PutSlot(s, 0, 0, 0xEE, 1, 32767);
    cases.push_back({"protective GPT", s, {}, "(Not MBR disk)"});
  }
  cases.push_back({"all zeros", std::vector<uint8_t>(512, 0), {}, "Found 1 PhysicalDrives"});
  {
    std::vector<uint8_t> s(512, 0xFF);  // garbage with a signature
    s[510] = 0x55;
    s[511] = 0xAA;
    cases.push_back({"all ones", s, {}, "lies outside the disk; left out"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(img, 0, c.sector0);
    UpdateAllDrives();
    std::vector<std::string> rows = RowTexts();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "FileBackedVirtual: Image bad.img 16 MB ()");
    rows.erase(rows.begin());
    EXPECT_EQ(rows, c.partitionRows);
    EXPECT_TRUE(LogHas(c.logged));
    // Every shown partition row selects and reads.
    for (size_t r = 1; r < DriveListRows().size(); ++r) {
      const DriveListRow& row = DriveListRows()[r];
      ASSERT_EQ(SetCurrentDisk(row.diskNumber, row.slot), 1);
      EXPECT_EQ(CurrentDisk().SelectedPartition, row.slot + 1);
    }
  }
  EXPECT_EQ(OpenHandleCount(), 0);
}

}  // namespace
}  // namespace fw::disktest
