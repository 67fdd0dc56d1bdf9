// Extraction onto FAT32 and exFAT image volumes through the built-in engine, read back with
// mtools and checked with fsck.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "datasets/data_zip.h"
#include "datasets/data_zip_verify.h"
#include "datasets/packed_items.h"
#include "datasets/test_support.h"
#include "platform/block_device.h"

namespace {

using namespace fwtest;

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

struct ImageVolume {
  // A fresh FAT32 or exFAT image in the scratch folder, opened for every letter.
  ImageVolume(const Scratch& s, bool exfat, const std::string& size = "64M")
      : image(s.Path("vol.img").string()) {
    EXPECT_EQ(Shell("truncate -s " + size + " " + image), 0);
    EXPECT_EQ(Shell(exfat ? "mkfs.exfat " + image : "mkfs.fat -F 32 " + image), 0);
    Attach();
  }
  std::string image;
  // Opens the image as the volume of every drive letter; the devices live as long as the
  // returned volume does.
  void Attach() {
    fw::TheDataSetServices().openVolume = [this](const std::string&) { return Open(false); };
    fw::TheDataSetServices().openVolumeFromStorage = [this](const std::string&) {
      return Open(true);
    };
  }
  std::shared_ptr<fw::VolumeFiles> Open(bool fromStorage) {
    struct Holder {
      std::unique_ptr<fw::FdDevice> device;
      std::unique_ptr<fw::VolumeFiles> files;
      ~Holder() { files.reset(); }
    };
    auto h = std::make_shared<Holder>();
    h->device = fw::FdDevice::Open(image, true, 512);
    if (!h->device) return nullptr;
    if (fromStorage && !h->device->DropCached(0, h->device->SizeBytes())) return nullptr;
    h->files = fw::OpenVolumeFiles(*h->device);
    if (!h->files) return nullptr;
    fw::VolumeFiles* f = h->files.get();
    return std::shared_ptr<fw::VolumeFiles>(h, f);
  }
};

std::string RandomText(size_t n) {
  std::mt19937 gen(7);
  std::string s(n, ' ');
  for (char& c : s) c = char(gen());
  return s;
}

class VolumeExtract : public ::testing::TestWithParam<std::string> {};

TEST_P(VolumeExtract, FilesLandOnTheVolumeAndItStaysClean) {
  Scratch s;
  const bool exfat = GetParam() == "exFAT";
  ImageVolume v(s, exfat);

  const std::string big = RandomText(700000);
  WriteFile(s.Path("d.zip"), MakeZip({{"EFI/", "", true},
                                      {"EFI/CLOVER/config.plist", "<plist version=\"1.0\"/>"},
                                      {"EFI/BOOT/BOOTX64.efi", big},
                                      {"Long file name with spaces.txt", "hello"},
                                      {"../outside", "x"},
                                      {"huge", std::string(80 << 20, '\0')},
                                      {"boot", "Clover revision: 5119\n"}}));
  fw::ExtractTally tally;
  ASSERT_EQ(
      fw::ExtractDataZip(nullptr, 0, "E:", false, s.Path("d.zip").string(), true, false, &tally),
      1);
  EXPECT_EQ(s.ui.statuses[7].first, "Extracted (7/7) files to E:\\");
  // "../outside" is refused, "huge" finds no room: the last text says so.
  EXPECT_EQ(s.ui.statuses[8].first,
            "Extracted (5/7) files to E:\\; 2 of 7 entries not written (1 refused, 1 failed)");
  EXPECT_EQ(tally.written, 5);

  if (!exfat) {
    EXPECT_EQ(Shell("fsck.fat -n " + v.image), 0) << Output("fsck.fat -n " + v.image);
    EXPECT_EQ(Output("mtype -i " + v.image + " ::/EFI/CLOVER/config.plist"),
              "<plist version=\"1.0\"/>");
    EXPECT_EQ(Output("mtype -i " + v.image + " '::/Long file name with spaces.txt'"), "hello");
    const std::string copied = s.Path("bootx64").string();
    ASSERT_EQ(Shell("mcopy -i " + v.image + " ::/EFI/BOOT/BOOTX64.efi " + copied), 0);
    EXPECT_EQ(ReadFile(copied), big);
    const std::string listing = Output("mdir -b -i " + v.image + " ::/");
    EXPECT_EQ(listing.find("huge"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("outside"), std::string::npos) << listing;
  } else {
    EXPECT_EQ(Shell("fsck.exfat -n " + v.image), 0) << Output("fsck.exfat -n " + v.image);
  }

  // Read back through the engine, and into a sub-folder of the volume.
  ASSERT_EQ(
      fw::ExtractDataZip(nullptr, 0, "e:\\Backup\\", false, s.Path("d.zip").string(), false, false),
      1);
  auto files = fw::TheDataSetServices().openVolume("E:");
  ASSERT_TRUE(files);
  std::string contents;
  EXPECT_TRUE(files->ReadFile("EFI/CLOVER/config.plist", contents));
  ASSERT_TRUE(files->ReadFile("Backup/EFI/BOOT/BOOTX64.efi", contents));
  EXPECT_EQ(contents, big);
  EXPECT_FALSE(files->Exists("huge"));
  EXPECT_FALSE(files->Exists("Backup/huge"));
  files.reset();
  // A folder below the root that would leave the volume.
  EXPECT_EQ(
      fw::ExtractDataZip(nullptr, 0, "E:\\..\\x", false, s.Path("d.zip").string(), false, false),
      0);
  EXPECT_EQ(Shell((exfat ? "fsck.exfat -n " : "fsck.fat -n ") + v.image), 0);
}

TEST_P(VolumeExtract, FreeDosSetOntoAFreshVolume) {
  Scratch s;
  ImageVolume v(s, GetParam() == "exFAT", "40M");
  ASSERT_EQ(fw::ExtractDataZip(PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength),
                               "F:", true, "", true, false),
            1);
  auto files = fw::TheDataSetServices().openVolume("F:");
  ASSERT_TRUE(files);
  EXPECT_TRUE(files->Exists("KERNEL.SYS"));
}

// A file whose CRC proves wrong is removed from the volume as from a folder: no entry, no
// cluster left taken (fsck counts them), the free space as before.
TEST_P(VolumeExtract, FileWithAWrongCrcLeavesNothingOnTheVolume) {
  Scratch s;
  const bool exfat = GetParam() == "exFAT";
  ImageVolume v(s, exfat);
  uint64_t freeBefore = 0, cluster = 0;
  {
    auto files = fw::TheDataSetServices().openVolume("E:");
    ASSERT_TRUE(files);
    freeBefore = files->FreeBytes();
    // An older file of the same name is replaced, as in a folder.
    auto w = files->CreateFile("bad.bin", 5);
    ASSERT_TRUE(w && w->Write("older", 5) && w->Close());
    cluster = freeBefore - files->FreeBytes();
  }
  WriteFile(s.Path("c.zip"), ZipWithBadCrc());
  fw::ExtractTally tally;
  ASSERT_EQ(
      fw::ExtractDataZip(nullptr, 0, "E:", false, s.Path("c.zip").string(), false, false, &tally),
      1);
  EXPECT_EQ(tally.failed, 1);
  EXPECT_EQ(tally.written, 2);
  auto files = fw::TheDataSetServices().openVolume("E:");
  ASSERT_TRUE(files);
  EXPECT_FALSE(files->Exists("bad.bin"));
  std::string contents;
  EXPECT_TRUE(files->ReadFile("after.txt", contents));
  EXPECT_EQ(contents, "after");
  std::vector<fw::VolumeEntry> root;
  ASSERT_TRUE(files->ListDirectory("", root));
  EXPECT_EQ(root.size(), 2u);
  EXPECT_EQ(files->FreeBytes(), freeBefore - 2 * cluster);  // good.txt and after.txt
  files.reset();
  const std::string fsck = exfat ? "fsck.exfat -n " : "fsck.fat -n ";
  EXPECT_EQ(Shell(fsck + v.image), 0) << Output(fsck + v.image);
}

// One FAT32 folder holds 65,536 directory slots at most; 5,000 entries with 200-character names
// (17 slots each) overfill it. The entries that find no slot are counted as failed, and the folder
// stays consistent.
TEST(VolumeExtractFat32, FullFolderCountsEveryEntryThatFoundNoPlace) {
  Scratch s;
  ImageVolume v(s, false);
  std::vector<ZipItem> items;
  items.reserve(5000);
  for (int i = 0; i < 5000; ++i) {
    std::string name = "many/" + std::to_string(100000 + i);
    name.resize(5 + 200, 'n');
    items.push_back({name, ""});
  }
  WriteFile(s.Path("many.zip"), MakeZip(items, true));
  fw::ExtractTally tally;
  ASSERT_EQ(
      fw::ExtractDataZip(nullptr, 0, "E:", false, s.Path("many.zip").string(), true, false, &tally),
      1);
  EXPECT_EQ(tally.total, 5000);
  EXPECT_EQ(tally.refused, 0);
  EXPECT_EQ(tally.written, 65534 / 17);  // 16 long-name slots and the short one; "." and ".."
  EXPECT_EQ(tally.written + tally.failed, 5000);
  const std::string last = s.ui.statuses[s.ui.statuses.size() - 2].first;
  EXPECT_EQ(last, "Extracted (" + std::to_string(tally.written) + "/5000) files to E:\\; " +
                      std::to_string(tally.failed) + " of 5000 entries not written (0 refused, " +
                      std::to_string(tally.failed) + " failed)");
  EXPECT_EQ(Shell("fsck.fat -n " + v.image), 0) << Output("fsck.fat -n " + v.image);
  const std::string listing = Output("mdir -b -i " + v.image + " ::/many");
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), tally.written);
}

TEST_P(VolumeExtract, VerifyReadsTheFilesBackThroughTheEngine) {
  Scratch s;
  ImageVolume v(s, GetParam() == "exFAT", "48M");
  const std::string big = RandomText(500000);
  WriteFile(s.Path("d.zip"), MakeZip({{"EFI/BOOT/BOOTX64.efi", big},
                                      {"EFI/CLOVER/config.plist", "<plist/>"},
                                      {"boot", "Clover revision: 5119\n"}}));
  const std::string zip = s.Path("d.zip").string();
  ASSERT_EQ(fw::ExtractDataZip(nullptr, 0, "E:\\", false, zip, false, false), 1);
  fw::DataZipCheck check;
  EXPECT_EQ(fw::VerifyDataZip(nullptr, 0, "E:", false, zip, false, &check), 1);
  EXPECT_EQ(check.files, 3);

  // One byte in the middle of the big file's data, changed on the volume's storage.
  std::string bytes = ReadFile(v.image);
  const size_t at = bytes.find(big.substr(0, 64));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 250000] = char(bytes[at + 250000] ^ 1);
  WriteFile(v.image, bytes);
  EXPECT_EQ(fw::VerifyDataZip(nullptr, 0, "E:", false, zip, false, &check), 0);
  EXPECT_EQ(check.failedFile, "EFI/BOOT/BOOTX64.efi");
  // Below a folder of the volume nothing was extracted: the first file is missing there.
  EXPECT_EQ(fw::VerifyDataZip(nullptr, 0, "E:\\Backup", false, zip, false, &check), 0);
  EXPECT_EQ(check.failedFile, "EFI/BOOT/BOOTX64.efi");
}

INSTANTIATE_TEST_SUITE_P(FileSystems, VolumeExtract, ::testing::Values("FAT32", "exFAT"));

}  // namespace
