// Extraction onto FAT32 and exFAT image volumes through the built-in engine, read back with
// mtools and checked with fsck.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "datasets/data_zip.h"
#include "datasets/packed_items.h"
#include "datasets/test_support.h"
#include "platform/block_device.h"

namespace {

using namespace fwtest;

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

struct ImageVolume {
  std::string image;
  // Opens the image as the volume of every drive letter; the devices live as long as the
  // returned volume does.
  void Attach() {
    fw::TheDataSetServices().openVolume = [this](const std::string&) {
      struct Holder {
        std::unique_ptr<fw::FdDevice> device;
        std::unique_ptr<fw::VolumeFiles> files;
        ~Holder() { files.reset(); }
      };
      auto h = std::make_shared<Holder>();
      h->device = fw::FdDevice::Open(image, true, 512);
      if (!h->device) return std::shared_ptr<fw::VolumeFiles>();
      h->files = fw::OpenVolumeFiles(*h->device);
      if (!h->files) return std::shared_ptr<fw::VolumeFiles>();
      fw::VolumeFiles* f = h->files.get();
      return std::shared_ptr<fw::VolumeFiles>(h, f);
    };
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
  ImageVolume v;
  v.image = s.Path("vol.img").string();
  ASSERT_EQ(Shell("truncate -s 64M " + v.image), 0);
  ASSERT_EQ(Shell(exfat ? "mkfs.exfat " + v.image : "mkfs.fat -F 32 " + v.image), 0);
  v.Attach();

  const std::string big = RandomText(700000);
  WriteFile(s.Path("d.zip"), MakeZip({{"EFI/", "", true},
                                      {"EFI/CLOVER/config.plist", "<plist version=\"1.0\"/>"},
                                      {"EFI/BOOT/BOOTX64.efi", big},
                                      {"Long file name with spaces.txt", "hello"},
                                      {"../outside", "x"},
                                      {"huge", std::string(80 << 20, '\0')},
                                      {"boot", "Clover revision: 5119\n"}}));
  ASSERT_EQ(fw::ExtractDataZip(nullptr, 0, "E:", false, s.Path("d.zip").string(), true, false), 1);
  EXPECT_EQ(s.ui.statuses[7].first, "Extracted (7/7) files to E:\\");

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
  ImageVolume v;
  v.image = s.Path("vol.img").string();
  ASSERT_EQ(Shell("truncate -s 40M " + v.image), 0);
  ASSERT_EQ(Shell(GetParam() == "exFAT" ? "mkfs.exfat " + v.image : "mkfs.fat -F 32 " + v.image),
            0);
  v.Attach();
  ASSERT_EQ(fw::ExtractDataZip(PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength),
                               "F:", true, "", true, false),
            1);
  auto files = fw::TheDataSetServices().openVolume("F:");
  ASSERT_TRUE(files);
  EXPECT_TRUE(files->Exists("KERNEL.SYS"));
}

INSTANTIATE_TEST_SUITE_P(FileSystems, VolumeExtract, ::testing::Values("FAT32", "exFAT"));

}  // namespace
