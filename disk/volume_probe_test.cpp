// Labels read from volumes that the system's own formatters made, on image files.
#include "disk/volume_probe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class VolumeProbeImage : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (fs::temp_directory_path() /
             ("fw-probe-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img"))
                .string();
    fs::remove(path_);
  }
  void TearDown() override { fs::remove(path_); }

  // A sparse image of `mib` MiB formatted by `command` ("{}" stands for the image).
  bool Make(int mib, std::string command) {
    { std::ofstream f(path_, std::ios::binary); }
    fs::resize_file(path_, static_cast<uintmax_t>(mib) << 20);
    command.replace(command.find("{}"), 2, "'" + path_ + "'");
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  static bool Have(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
  }
  VolumeFacts Probe() {
    auto dev = FdDevice::Open(path_, false, 512);
    EXPECT_NE(dev, nullptr);
    return dev ? ProbeVolume(*dev) : VolumeFacts{};
  }
  void Corrupt(uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  }

  std::string path_;
};

TEST_F(VolumeProbeImage, NtfsLabels) {
  if (!Have("mkntfs")) GTEST_SKIP() << "mkntfs (package ntfs-3g) is not installed";
  ASSERT_TRUE(Make(16, "mkntfs -F -f -q -L 'WIN DATA' {}"));
  VolumeFacts f = Probe();
  EXPECT_EQ(f.FileSystem, "NTFS");
  EXPECT_EQ(f.VolumeName, "WIN DATA");

  // Non-ASCII labels come back as UTF-8, characters beyond the BMP included.
  ASSERT_TRUE(
      Make(16, "mkntfs -F -f -q -c 4096 -L 'Daten\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80' {}"));
  f = Probe();
  EXPECT_EQ(f.VolumeName, "Daten\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80");

  ASSERT_TRUE(Make(16, "mkntfs -F -f -q {}"));
  f = Probe();
  EXPECT_EQ(f.FileSystem, "NTFS");
  EXPECT_EQ(f.VolumeName, "");

  // An MFT pointer past the end of the volume: the file system is still known, the label is not.
  ASSERT_TRUE(Make(16, "mkntfs -F -f -q -L LABEL {}"));
  Corrupt(48, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0});
  f = Probe();
  EXPECT_EQ(f.FileSystem, "NTFS");
  EXPECT_EQ(f.VolumeName, "");
}

TEST_F(VolumeProbeImage, UdfLabels) {
  if (!Have("mkudffs")) GTEST_SKIP() << "mkudffs (package udftools) is not installed";
  for (const char* blocks : {"512", "2048", "4096"}) {
    SCOPED_TRACE(blocks);
    ASSERT_TRUE(Make(16, std::string("mkudffs -b ") + blocks + " --label=UDFDISK {}"));
    const VolumeFacts f = Probe();
    EXPECT_EQ(f.FileSystem, "UDF");
    EXPECT_EQ(f.VolumeName, "UDFDISK");
  }
  // Characters outside Latin-1 make the formatter store the label as UTF-16.
  ASSERT_TRUE(Make(16, "mkudffs -b 2048 --label='Disk \xe2\x82\xac' {}"));
  EXPECT_EQ(Probe().VolumeName, "Disk \xe2\x82\xac");
}

}  // namespace
}  // namespace fw
