#include "app/workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/globals.h"

namespace fw {
namespace {

TEST(Workers, EndWorkersStopsARunningJobAndJoinsEveryWorker) {
  CancelMainThread = 0;
  FormatStatus = 0;
  std::atomic<int> finished{0};
  StartWorker([&] { ++finished; });
  // A copy loop that only ends on the cancel request.
  StartWorker([&] {
    while (CancelMainThread == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++finished;
  });
  EndWorkers([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  EXPECT_EQ(finished.load(), 2);
  EXPECT_EQ(RunningWorkerCount(), 0);
  EXPECT_EQ(FormatStatus.load(), 1);
  CancelMainThread = 0;
  FormatStatus = 0;

  // Nothing running: the flags are left alone.
  StartWorker([&] { ++finished; });
  JoinWorkers();
  EndWorkers();
  EXPECT_EQ(finished.load(), 3);
  EXPECT_EQ(CancelMainThread.load(), 0);
}

}  // namespace
}  // namespace fw
