// Drive arrival and safe removal against this machine's kernel: loop devices over image files
// that the tests create (root; skipped otherwise). The device monitor is restricted to the test's
// own loop devices, so other programs' devices do not reach it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "app/globals.h"
#include "app/scratch_folder_test_support.h"
#include "disk/device_events.h"
#include "disk/safe_removal.h"
#include "platform/linux/udev_monitor.h"
#include "tests/disk_loop/disk_fixture.h"

namespace fw::disktest {
namespace {

using Ms = std::chrono::milliseconds;

int64_t NowMs() {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class LoopSystem : public DiskFixture {
 protected:
  void SetUp() override {
    DiskFixture::SetUp();
    // The settle timer runs on real time.
    SetClockForTesting(nullptr);
  }
  void TearDown() override {
    watcher.reset();
    format_op_in_progress = 0;
    DiskFixture::TearDown();
  }

  // Five loop devices over files of the scratch folder; empty when they cannot be attached.
  std::vector<std::string> AttachFive() {
    std::vector<std::string> loops;
    for (int i = 0; i < 5; ++i) {
      const std::string loop = AttachLoop(MakeFile("disk" + std::to_string(i) + ".img", MiB), 512);
      if (loop.empty()) return {};
      loops.push_back(loop);
    }
    return loops;
  }
  // Watches the kernel's (or udevd's) events of `loops` only.
  void Watch(const std::vector<std::string>& loops) {
    std::vector<std::string> names;
    for (const std::string& l : loops) names.push_back(NameOf(l));
    std::string error;
    auto monitor = OpenUdevMonitor(DeviceEventSource("/"), names, &error);
    ASSERT_NE(monitor, nullptr) << error;
    watcher = std::make_unique<DriveArrivalWatcher>(std::move(monitor), [this] {
      std::lock_guard<std::mutex> lock(mutex);
      posts.push_back(NowMs());
    });
    watcher->Start();
  }
  // Detaches the five at once, in this process: a burst of losetup runs can take longer than the
  // settle time on a busy machine and would then rightly give a second refresh. The devices are
  // this fixture's own (AttachFive made them), checked before the burst starts.
  void DetachBurst(const std::vector<std::string>& loops, int64_t* firstDone) {
    std::vector<int> fds;
    for (const std::string& loop : loops) {
      ASSERT_NE(Shell("losetup -n -O BACK-FILE " + loop).find(dir_.string() + "/"),
                std::string::npos);
      fds.push_back(::open(loop.c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_GE(fds.back(), 0) << loop;
    }
    for (int fd : fds) {
      EXPECT_EQ(::ioctl(fd, LOOP_CLR_FD, 0), 0);
      ::close(fd);
      if (*firstDone == 0) *firstDone = NowMs();
    }
  }
  std::vector<int64_t> Posts() {
    std::lock_guard<std::mutex> lock(mutex);
    return posts;
  }
  size_t Count(const std::string& text) {
    const std::string log = LogText();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  std::unique_ptr<DriveArrivalWatcher> watcher;
  std::mutex mutex;
  std::vector<int64_t> posts;
};

TEST_F(LoopSystem, ABurstOfFiveGivesOneRefreshAboutASecondAfterTheFirst) {
  const std::vector<std::string> loops = AttachFive();
  FW_REQUIRE_LOOP(loops.empty() ? std::string() : loops[0]);
  Watch(loops);
  const int64_t start = NowMs();
  int64_t firstDone = 0;  // the first notification came between start and here
  DetachBurst(loops, &firstDone);
  const int64_t burst = NowMs() - start;
  std::this_thread::sleep_for(Ms(2500));
  const std::vector<int64_t> got = Posts();
  ASSERT_EQ(got.size(), 1u) << "burst took " << burst << " ms";
  EXPECT_GE(got[0] - start, 1000);
  // A little slack for the watcher's thread to be scheduled on a busy machine.
  EXPECT_LE(got[0] - firstDone, 1000 + 700) << "first detach took " << firstDone - start << " ms";
  EXPECT_EQ(Count("==>> GetDeviceEvent: #DBT_DEVNODES_CHANGED: SetTimer_ 1000"), 1u);
  EXPECT_EQ(Count("==>> GetDeviceEvent: PostEvent(#UM_UPDATE_ALL_DRIVES)"), 1u);
}

TEST_F(LoopSystem, ABurstDuringAJobGivesNoRefresh) {
  const std::vector<std::string> loops = AttachFive();
  FW_REQUIRE_LOOP(loops.empty() ? std::string() : loops[0]);
  Watch(loops);
  format_op_in_progress = 1;
  for (const std::string& loop : loops) DetachLoop(loop);
  std::this_thread::sleep_for(Ms(1800));
  EXPECT_TRUE(Posts().empty());
  EXPECT_EQ(Count("GetDeviceEvent"), 0u);
}

TEST_F(LoopSystem, AnEjectedLoopDeviceIsDetachedAndLeavesTheTree) {
  const fs::path file = MakeFile("stick.img", 64 * MiB);
  std::vector<uint8_t> mbr(512, 0);
  PutSlot(mbr, 0, 0x80, 0x0C, 2048, 2048 * 16);
  PutSlot(mbr, 1, 0, 0x0C, 2048 * 18, 2048 * 16);
  WriteBytes(file, 0, mbr);
  const std::string loop = AttachLoop(file, 512);
  FW_REQUIRE_LOOP(loop);
  const int32_t n = ListLoops({loop}, file);
  ASSERT_GE(n, 0);
  ASSERT_FALSE(AssignDriveLetter(n, 0).empty());
  ASSERT_EQ(SetCurrentDisk(n, 1), 1);  // the second partition's row stands for the whole disk

  EXPECT_EQ(RemoveDriveByLetter(), 1);
  EXPECT_EQ(Shell("losetup -a").find(file.string()), std::string::npos);
  EXPECT_TRUE(LogHas("DeviceId= " + loop));
  EXPECT_TRUE(LogHas("Tries #1"));
  EXPECT_TRUE(LogHas("Success"));
  // Another program may take the freed device at once: the tree is looked at by file name.
  UpdateAllDrives();
  for (const DriveListRow& row : DriveListRows())
    EXPECT_EQ(row.text.find("stick.img"), std::string::npos) << row.text;
}

TEST(DeviceEventSource, UdevWhereUdevdRunsElseTheKernel) {
  ScratchFolder scratch("fw-udevroot");
  const fs::path& root = scratch.path();
  EXPECT_EQ(DeviceEventSource(root.string()), "kernel");
  fs::create_directories(root / "run/udev");
  std::ofstream(root / "run/udev/control") << "";
  EXPECT_EQ(DeviceEventSource(root.string()), "udev");
}

}  // namespace
}  // namespace fw::disktest
