#include "app/models/status_line.h"

#include <algorithm>
#include <atomic>

#include "app/log.h"

namespace fw {

StatusLayout LayoutStatus(int w, int h, int percent, int textWidth, int textHeight) {
  StatusLayout s;
  if (percent < 0 || percent == 0) {
    s.percent = 0;
    s.taskbarState = kTaskbarNoProgress;
    s.taskbarValue = 0;
  } else {
    s.percent = std::min(percent, 100);
    s.taskbarState = kTaskbarNormal;
    s.taskbarValue = s.percent;
  }
  s.whiteOutline = {1, 1, w - 2, h - 1};
  s.borderOutline = {0, 0, w, h - 1};
  const int innerW = w - 6;
  const int innerH = h - 6;
  s.bar = {3, 3, std::max(0, s.percent * innerW / 100), innerH};
  s.textX = (innerW - textWidth) / 2 + 3;
  s.textY = (innerH - textHeight) / 2 + 2;
  return s;
}

Rgb StatusBackground(Rgb windowColour, Rgb buttonFace) {
  if (windowColour == Rgb{255, 255, 255} || windowColour == Rgb{0, 0, 0}) return buttonFace;
  return windowColour;
}

namespace {
std::atomic<int> gLastPercent{0};
}

int LastStatusPercent() { return gLastPercent.load(); }
void NoteStatusPercent(int percent) { gLastPercent = std::clamp(percent, 0, 100); }

void TaskbarProgress::SetState(int state) {
  switch (state) {
    case kTaskbarNoProgress:
    case kTaskbarIndeterminate:
    case kTaskbarNormal:
    case kTaskbarError:
    case kTaskbarPaused:
      state_ = state;
      Publish(state_, value_, kMaximum);
      break;
    default:
      break;
  }
}

void TaskbarProgress::SetValue(int64_t value) {
  value_ = std::clamp(value, kMinimum, kMaximum);
  Publish(state_, value_, kMaximum);
}

void ApplyStatusToTaskbar(TaskbarProgress& taskbar, int percent) {
  const StatusLayout s = LayoutStatus(0, 0, percent, 0, 0);
  taskbar.SetValue(s.taskbarValue);
  taskbar.SetState(s.taskbarState);
}

int ComboDropWidth(const std::vector<int>& itemWidths, int edgeWidth, int scrollBarWidth) {
  int widest = 0;
  for (int width : itemWidths) widest = std::max(widest, width);
  int result = widest + 2 * edgeWidth + 3;
  if (itemWidths.size() > 30) result += scrollBarWidth;
  return result;
}

Placement CorrectWinPosition(int deskW, int deskH, int x, int y, int w, int h) {
  FW_LOG_MAIN("WinID = 0 DesktopWidth = " + std::to_string(deskW) +
              " DesktopHeight = " + std::to_string(deskH));
  Placement p{x, y, false};
  // Left and top count as well as right and bottom: a window whose title bar sits above the
  // desktop cannot be dragged back by the user.
  if (x + w > deskW || y + h > deskH || x < 0 || y < 0) {
    p.x = deskW / 2 - w / 2;
    p.y = deskH / 2 - h / 2;
    p.moved = true;
    FW_LOG_MAIN("Move Window WinID = 0 to WindowX = " + std::to_string(deskW / 2) +
                " WindowY = " + std::to_string(deskH / 2));
  }
  return p;
}

}  // namespace fw
