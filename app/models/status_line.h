// Drawing arithmetic of the status line, the taskbar progress rules, the drop-down width rule and
// the main window's placement: pure functions, so that every front end draws the same thing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kStatusOuterLine{255, 255, 255};
inline constexpr Rgb kStatusBorder{213, 223, 229};
inline constexpr Rgb kStatusBar{102, 204, 255};
inline constexpr Rgb kHyperlinkGrey{128, 128, 128};
inline constexpr Rgb kHyperlinkHover{0, 0, 255};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// Taskbar progress states.
inline constexpr int kTaskbarNoProgress = 0, kTaskbarIndeterminate = 1, kTaskbarNormal = 2,
                     kTaskbarError = 4, kTaskbarPaused = 8;

struct StatusLayout {
  int percent = 0;  // clamped to 0..100
  int taskbarState = kTaskbarNoProgress;
  int taskbarValue = 0;
  Rect whiteOutline;   // rounded, radius 3
  Rect borderOutline;  // rounded, radius 3
  Rect bar;            // filled, radius 2; width 0 draws nothing
  int textX = 0, textY = 0;
};

// Where everything goes on a status canvas of w × h for `percent` and a text of the given size.
StatusLayout LayoutStatus(int w, int h, int percent, int textWidth, int textHeight);

// The window colour, unless it is pure white or pure black: then the button-face colour.
Rgb StatusBackground(Rgb windowColour, Rgb buttonFace);

// The last percentage drawn, so that a note in the status line can keep the running bar.
int LastStatusPercent();
void NoteStatusPercent(int percent);

// The taskbar progress object: accepts only the documented states and clamps its value to
// 0..100; Publish tells the desktop.
class TaskbarProgress {
 public:
  virtual ~TaskbarProgress() = default;
  void SetState(int state);
  void SetValue(int64_t value);
  int State() const { return state_; }
  int64_t Value() const { return value_; }
  static constexpr int64_t kMinimum = 0, kMaximum = 100;

 protected:
  virtual void Publish(int state, int64_t value, int64_t maximum) = 0;

 private:
  int state_ = kTaskbarNoProgress;
  int64_t value_ = 0;
};

// Applies the taskbar part of ShowStatus(…, percent) (value first, then state).
void ApplyStatusToTaskbar(TaskbarProgress& taskbar, int percent);

// Drop-down width: widest item + 2 × 3-D edge + 3, plus a scroll bar when there are over 30 items.
int ComboDropWidth(const std::vector<int>& itemWidths, int edgeWidth, int scrollBarWidth);

struct Placement {
  int x = 0, y = 0;
  bool moved = false;
};
// Re-centres a window of w × h at (x, y) on a desktop of deskW × deskH when any part of it lies
// off that desktop; logs what it found and did.
Placement CorrectWinPosition(int deskW, int deskH, int x, int y, int w, int h);

}  // namespace fw
