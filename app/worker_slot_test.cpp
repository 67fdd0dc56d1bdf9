#include "app/worker_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/clock.h"
#include "app/workers.h"

namespace fw {
namespace {

// Every look at this clock is ten seconds later.
class JumpingClock final : public Clock {
 public:
  void Pause(int64_t) override {}
  int64_t NowMs() const override { return now_ += 10000; }

 private:
  mutable std::atomic<int64_t> now_{0};
};

TEST(WorkerSlot, OneWorkerAtATimeAndTheWaitEndsAtTheClocksLimit) {
  WorkerSlot slot;
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  auto body = [&] {
    ++runs;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  ASSERT_TRUE(slot.Start(body));
  EXPECT_FALSE(slot.Start(body));
  EXPECT_TRUE(slot.Running());
  JumpingClock clock;
  SetClockForTesting(&clock);
  EXPECT_FALSE(slot.WaitFor(30000));  // three looks, not thirty seconds
  SetClockForTesting(nullptr);
  release = true;
  EXPECT_TRUE(slot.WaitFor(60000));
  EXPECT_FALSE(slot.Running());
  ASSERT_TRUE(slot.Start([&] { ++runs; }));
  slot.Join();
  EXPECT_EQ(runs.load(), 2);
  JoinWorkers();  // the threads belong to the process's workers
}

}  // namespace
}  // namespace fw
