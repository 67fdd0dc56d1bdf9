#include "platform/block_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/io_buffer.h"

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

TEST_F(FdDeviceTest, StreamTransfersMoveEveryByteDirectOrNot) {
  auto dev = FdDevice::Open(path_, true, 512);
  ASSERT_TRUE(dev);
  IoBuffer buffer(64 * 512);
  ASSERT_TRUE(buffer.data());
  for (size_t i = 0; i < 64 * 512; ++i) buffer.data()[i] = static_cast<char>(i * 13 + i / 512);
  // An aligned run, then one that starts on an odd sector (only a 512-byte direct granularity
  // takes it) and one from an unaligned buffer: each lands where it was asked to.
  ASSERT_EQ(dev->StreamWriteAt(0, buffer.data(), 8 * 512), 8 * 512);
  ASSERT_EQ(dev->StreamWriteAt(9 * 512, buffer.data() + 8 * 512, 3 * 512), 3 * 512);
  ASSERT_EQ(dev->StreamWriteAt(20 * 512, buffer.data() + 1, 1000), 1000);
  std::vector<char> back(64 * 512);
  ASSERT_EQ(dev->ReadAt(0, back.data(), back.size()), static_cast<int64_t>(back.size()));
  EXPECT_EQ(0, std::memcmp(back.data(), buffer.data(), 8 * 512));
  EXPECT_EQ(std::vector<char>(back.begin() + 8 * 512, back.begin() + 9 * 512),
            std::vector<char>(512, 0));
  EXPECT_EQ(0, std::memcmp(back.data() + 9 * 512, buffer.data() + 8 * 512, 3 * 512));
  EXPECT_EQ(0, std::memcmp(back.data() + 20 * 512, buffer.data() + 1, 1000));

  IoBuffer in(16 * 512);
  ASSERT_EQ(dev->StreamReadAt(0, in.data(), 16 * 512), 16 * 512);
  EXPECT_EQ(0, std::memcmp(in.data(), back.data(), 16 * 512));
  ASSERT_EQ(dev->StreamReadAt(20 * 512 + 8, in.data(), 700), 700);
  EXPECT_EQ(0, std::memcmp(in.data(), buffer.data() + 9, 700));
  EXPECT_TRUE(dev->DropCached(0, 64 * 512));
  // Past the end moves nothing, direct or not.
  EXPECT_EQ(dev->StreamWriteAt(60 * 512, buffer.data(), 8 * 512), -1);
  EXPECT_EQ(dev->LastError(), EINVAL);
  EXPECT_EQ(dev->StreamReadAt(64 * 512, in.data(), 512), -1);
  // Through a window the offsets are the window's.
  WindowDevice window(*dev, 32 * 512, 8 * 512);
  ASSERT_EQ(window.StreamWriteAt(0, buffer.data(), 8 * 512), 8 * 512);
  EXPECT_EQ(window.StreamWriteAt(512, buffer.data(), 8 * 512), -1);
  ASSERT_EQ(dev->ReadAt(32 * 512, back.data(), 8 * 512), 8 * 512);
  EXPECT_EQ(0, std::memcmp(back.data(), buffer.data(), 8 * 512));
}

TEST(IoBuffer, PageAlignedAndHugePageAlignedWhenLarge) {
  IoBuffer small(1000);
  ASSERT_TRUE(small.data());
  EXPECT_EQ(small.size(), 4096u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(small.data()) % 4096, 0u);
  IoBuffer large(16 * 1024 * 1024);
  ASSERT_TRUE(large.data());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(large.data()) % (2 * 1024 * 1024), 0u);
  large.data()[large.size() - 1] = 1;  // the whole size is usable
  IoBuffer moved(std::move(large));
  EXPECT_EQ(large.data(), nullptr);
  EXPECT_EQ(moved.data()[moved.size() - 1], 1);
}

}  // namespace
}  // namespace fw
