#include "disk/device_events.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace fw
