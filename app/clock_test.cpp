#include "app/clock.h"

#include <gtest/gtest.h>

#include "app/ui.h"

namespace fw {
namespace {

TEST(Clock, PausesCanBeSwitchedOff) {
  SetPausesEnabled(false);
  const int64_t t0 = TheClock().NowMs();
  Pause(5000);
  EXPECT_LT(TheClock().NowMs() - t0, 1000);
  SetPausesEnabled(true);
  const int64_t t1 = TheClock().NowMs();
  Pause(30);
  EXPECT_GE(TheClock().NowMs() - t1, 29);
}

TEST(Ui, SilentUiNeverAgreesToAnything) {
  EXPECT_EQ(MessageBox("t", "x", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::No);
  EXPECT_EQ(MessageBox("t", "x", MsgButtons::OkCancel, MsgIcon::Warning), MsgAnswer::Cancel);
}

}  // namespace
}  // namespace fw
