#include "platform/block_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fw {
namespace {

class FdDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/fw_blockdev_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    path_ = name;
    std::vector<char> zeros(64 * 512, 0);
    ASSERT_EQ(write(fd, zeros.data(), zeros.size()), static_cast<ssize_t>(zeros.size()));
    close(fd);
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(FdDeviceTest, SectorsRoundTripAndStayInsideTheDevice) {
  auto dev = FdDevice::Open(path_, true, 512);
  ASSERT_TRUE(dev);
  EXPECT_EQ(dev->SectorCount(), 64u);
  std::vector<unsigned char> out(2 * 512), in(2 * 512);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7);
  ASSERT_TRUE(dev->WriteSectors(62, 2, out.data()));
  ASSERT_TRUE(dev->ReadSectors(62, 2, in.data()));
  EXPECT_EQ(in, out);
  // One sector past the end moves nothing.
  EXPECT_FALSE(dev->WriteSectors(63, 2, out.data()));
  EXPECT_EQ(dev->SizeBytes(), 64u * 512);
}

TEST_F(FdDeviceTest, WindowIsOffsetAndBounded) {
  auto dev = FdDevice::Open(path_, true, 512);
  ASSERT_TRUE(dev);
  WindowDevice window(*dev, 8 * 512, 4 * 512);
  std::vector<unsigned char> mark(512, 0xA5), back(512, 0);
  ASSERT_TRUE(window.WriteSectors(0, 1, mark.data()));
  ASSERT_TRUE(dev->ReadSectors(8, 1, back.data()));
  EXPECT_EQ(back, mark);
  EXPECT_EQ(window.SectorCount(), 4u);
  EXPECT_FALSE(window.WriteSectors(3, 2, std::vector<unsigned char>(1024).data()));
  EXPECT_EQ(window.WriteAt(UINT64_MAX - 10, mark.data(), 512), -1);
  // Nothing after the window was touched.
  ASSERT_TRUE(dev->ReadSectors(12, 1, back.data()));
  EXPECT_EQ(back, std::vector<unsigned char>(512, 0));
}

}  // namespace
}  // namespace fw
