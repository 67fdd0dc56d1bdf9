#include "app/models/status_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/models/window_model.h"

namespace fw {
namespace {

TEST(StatusLayoutTest, BarWidthTextPositionAndTaskbarState) {
  // The main window's canvas is 470 × 21: the bar runs over 464 pixels.
  StatusLayout s = LayoutStatus(470, 21, 50, 100, 13);
  EXPECT_EQ(s.bar, (Rect{3, 3, 232, 15}));
  EXPECT_EQ(s.whiteOutline, (Rect{1, 1, 468, 20}));
  EXPECT_EQ(s.borderOutline, (Rect{0, 0, 470, 20}));
  EXPECT_EQ(s.textX, (464 - 100) / 2 + 3);
  EXPECT_EQ(s.textY, (15 - 13) / 2 + 2);
  EXPECT_EQ(s.taskbarState, kTaskbarNormal);
  EXPECT_EQ(s.taskbarValue, 50);

  s = LayoutStatus(470, 21, 33, 0, 0);
  EXPECT_EQ(s.bar.width, 33 * 464 / 100);  // integer division

  s = LayoutStatus(470, 21, -5, 0, 0);
  EXPECT_EQ(s.bar.width, 0);
  EXPECT_EQ(s.taskbarState, kTaskbarNoProgress);
  EXPECT_EQ(s.taskbarValue, 0);

  s = LayoutStatus(470, 21, 0, 0, 0);
  EXPECT_EQ(s.taskbarState, kTaskbarNoProgress);

  s = LayoutStatus(470, 21, 150, 0, 0);
  EXPECT_EQ(s.bar.width, 464);
  EXPECT_EQ(s.taskbarState, kTaskbarNormal);
  EXPECT_EQ(s.taskbarValue, 100);

  // A text wider than the canvas starts left of it rather than wrapping.
  EXPECT_LT(LayoutStatus(470, 21, 0, 600, 13).textX, 0);
}

TEST(StatusLayoutTest, BackgroundAvoidsPureWhiteAndBlack) {
  const Rgb face{240, 240, 240};
  EXPECT_EQ(StatusBackground({255, 255, 255}, face), face);
  EXPECT_EQ(StatusBackground({0, 0, 0}, face), face);
  EXPECT_EQ(StatusBackground({250, 250, 250}, face), (Rgb{250, 250, 250}));
}

class RecordingTaskbar : public TaskbarProgress {
 public:
  std::vector<std::pair<int, int64_t>> published;

 protected:
  void Publish(int state, int64_t value, int64_t maximum) override {
    EXPECT_EQ(maximum, 100);
    published.push_back({state, value});
  }
};

TEST(TaskbarTest, AcceptsOnlyKnownStatesAndClampsValues) {
  RecordingTaskbar t;
  t.SetState(3);
  t.SetState(16);
  t.SetState(-1);
  EXPECT_TRUE(t.published.empty());
  EXPECT_EQ(t.State(), kTaskbarNoProgress);
  for (int s : {kTaskbarIndeterminate, kTaskbarNormal, kTaskbarError, kTaskbarPaused}) {
    t.SetState(s);
    EXPECT_EQ(t.State(), s);
  }
  t.SetValue(250);
  EXPECT_EQ(t.Value(), 100);
  t.SetValue(-7);
  EXPECT_EQ(t.Value(), 0);

  RecordingTaskbar s;
  ApplyStatusToTaskbar(s, 150);
  EXPECT_EQ(s.State(), kTaskbarNormal);
  EXPECT_EQ(s.Value(), 100);
  ApplyStatusToTaskbar(s, -5);
  EXPECT_EQ(s.State(), kTaskbarNoProgress);
  EXPECT_EQ(s.Value(), 0);
}

TEST(ComboWidthTest, ScrollBarMarginOnlyOverThirtyItems) {
  std::vector<int> widths(30, 50);
  widths[7] = 120;
  EXPECT_EQ(ComboDropWidth(widths, 2, 17), 120 + 4 + 3);
  widths.push_back(10);
  EXPECT_EQ(ComboDropWidth(widths, 2, 17), 120 + 4 + 3 + 17);
  EXPECT_EQ(ComboDropWidth({}, 2, 17), 7);
}

TEST(PlacementTest, OffDesktopWindowsAreCentred) {
  EXPECT_FALSE(CorrectWinPosition(1920, 1080, 400, 400, 480, 265).moved);
  EXPECT_FALSE(CorrectWinPosition(1920, 1080, 1440, 815, 480, 265).moved);  // touches the edges
  Placement p = CorrectWinPosition(1920, 1080, 1441, 400, 480, 265);
  EXPECT_TRUE(p.moved);
  EXPECT_EQ(p.x, 960 - 240);
  EXPECT_EQ(p.y, 540 - 132);  // truncating divisions
  EXPECT_TRUE(CorrectWinPosition(1920, 1080, 400, 900, 480, 265).moved);
  EXPECT_TRUE(CorrectWinPosition(1920, 1080, 400, -30, 480, 265).moved);
  EXPECT_TRUE(CorrectWinPosition(1920, 1080, -500, 400, 480, 265).moved);
}

TEST(WindowModelTest, ControlsStayInsideTheirWindowsAndNumbersAreUnique) {
  for (int window = 0; window < 4; ++window) {
    const WindowModel m = WindowModelFor(window);
    SCOPED_TRACE(m.title);
    EXPECT_EQ(m.number, window);
    std::vector<int> seen;
    for (const ControlModel& c : m.controls) {
      EXPECT_GE(c.x, 0) << c.number;
      EXPECT_LE(c.x + c.width, m.width) << c.number;
      EXPECT_LE(c.y + c.height, m.height + 20) << c.number;  // About's how-to frame runs long
      for (int n : seen) EXPECT_NE(n, c.number);
      seen.push_back(c.number);
    }
  }
  EXPECT_EQ(MainWindowTitle(), "Flashwright v2.1.029 Beta by Mivo 23.09.2022");
  EXPECT_EQ(ConfigWindowTitle(), "Configuration 23.09.2022");
  EXPECT_EQ(LatestCloverMenuTitle("Check It!"), " Latest Clover: Check It!");
  EXPECT_EQ(LatestCloverMenuTitle("5151"), " Latest Clover: r5151");
}

}  // namespace
}  // namespace fw
