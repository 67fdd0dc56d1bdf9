#include "disk/device_events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "app/globals.h"
#include "disk/system_fakes_test_support.h"

namespace fw {
namespace {

struct Posts {
  std::vector<int64_t> at;
  SteppingClock* clock = nullptr;
  DeviceChangeSettler Settler() {
    return DeviceChangeSettler([this] { at.push_back(clock ? clock->now : -1); });
  }
};

TEST(DeviceChangeSettler, ABurstGivesOneRefreshOneSecondAfterItsFirstNotification) {
  SteppingClock clock;
  Posts posts{{}, &clock};
  DeviceChangeSettler settler = posts.Settler();
  const int64_t first = clock.now;
  for (int i = 0; i < 5; ++i) {  // five notifications within 300 ms
    settler.DeviceChanged(clock.now);
    EXPECT_FALSE(settler.TimerDue(clock.now));
    clock.now += 60;
  }
  EXPECT_EQ(settler.MsUntilTimer(clock.now), first + 1000 - clock.now);
  clock.now = first + 999;
  EXPECT_FALSE(settler.TimerDue(clock.now));
  clock.now = first + 1000;
  EXPECT_TRUE(settler.TimerDue(clock.now));
  EXPECT_EQ(posts.at, std::vector<int64_t>{first + 1000});
  EXPECT_EQ(settler.MsUntilTimer(clock.now), -1);
  EXPECT_FALSE(settler.TimerDue(clock.now + 5000));
}

TEST(DeviceChangeSettler, NotificationsWithinASecondOfTheFiringAreDropped) {
  SteppingClock clock;
  Posts posts{{}, &clock};
  DeviceChangeSettler settler = posts.Settler();
  settler.DeviceChanged(0);
  settler.TimerDue(1000);
  settler.DeviceChanged(1500);  // within 1000 ms of the firing: dropped
  EXPECT_EQ(settler.MsUntilTimer(1500), -1);
  settler.DeviceChanged(2001);
  EXPECT_EQ(settler.MsUntilTimer(2001), 1000);
  EXPECT_TRUE(settler.TimerDue(3001));
  EXPECT_EQ(posts.at.size(), 2u);
}

TEST(DeviceChangeSettler, NoRefreshForNotificationsDuringAJobButAnArmedTimerStillFires) {
  Posts posts;
  DeviceChangeSettler settler = posts.Settler();
  format_op_in_progress = 1;
  settler.DeviceChanged(0);
  EXPECT_EQ(settler.MsUntilTimer(0), -1);
  format_op_in_progress = 0;
  settler.DeviceChanged(10);
  format_op_in_progress = 1;  // a job starts while the timer runs
  EXPECT_TRUE(settler.TimerDue(1010));
  format_op_in_progress = 0;
  EXPECT_EQ(posts.at.size(), 1u);
}

// A monitor that hands out scripted bursts: each Wait takes the next entry (a count of events
// after a delay), moving the stepping clock on by the delay or by the whole time-out.
class ScriptedMonitor final : public DeviceMonitor {
 public:
  struct Step {
    int64_t afterMs;
    int events;
  };
  ScriptedMonitor(SteppingClock& clock, std::deque<Step> script)
      : clock_(clock), script_(std::move(script)) {}
  std::string Source() const override { return "script"; }
  int Wait(int timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (woken_) return 0;
    if (script_.empty() || (timeoutMs >= 0 && script_.front().afterMs > timeoutMs)) {
      if (timeoutMs >= 0) {
        clock_.now += timeoutMs;
        if (!script_.empty()) script_.front().afterMs -= timeoutMs;
        return 0;
      }
      done_ = true;
      done.notify_all();
      wake_.wait(lock, [this] { return woken_; });
      return 0;
    }
    clock_.now += script_.front().afterMs;
    const int events = script_.front().events;
    script_.pop_front();
    return events;
  }
  void Wake() override {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    wake_.notify_all();
  }
  // Waits until the script is used up and the watcher waits without a time limit.
  void WaitUntilIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    done.wait(lock, [this] { return done_; });
  }

 private:
  SteppingClock& clock_;
  std::deque<Step> script_;
  std::mutex mutex_;
  std::condition_variable wake_, done;
  bool woken_ = false, done_ = false;
};

TEST(DriveArrivalWatcher, FeedsTheSettlerAndStopsOnRequest) {
  SteppingClock clock;
  SetClockForTesting(&clock);
  std::vector<int64_t> posts;
  const int64_t start = clock.now;
  // Five notifications 50 ms apart, a quiet two seconds, then one more.
  auto monitor = std::make_unique<ScriptedMonitor>(
      clock,
      std::deque<ScriptedMonitor::Step>{{0, 2}, {50, 1}, {50, 1}, {50, 1}, {50, 1}, {2000, 1}});
  ScriptedMonitor* script = monitor.get();
  DriveArrivalWatcher watcher(std::move(monitor), [&] { posts.push_back(clock.now); });
  watcher.Start();
  script->WaitUntilIdle();
  watcher.Stop();
  SetClockForTesting(nullptr);
  // One refresh a second after the burst's first notification; the late one gives its own.
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[0], start + 1000);
  EXPECT_EQ(posts[1], start + 2200 + 1000);  // the late notification came at 200 + 2000
}

}  // namespace
}  // namespace fw
