// What the front end hands to the dispatcher: one event of one window, by fixed numbers.
#pragma once

namespace fw {

// Window numbers.
inline constexpr int kMainWindow = 0;
inline constexpr int kAboutWindow = 1;
inline constexpr int kDownloadCenterWindow = 2;
inline constexpr int kConfigWindow = 3;

enum class UiEventKind {
  Control,    // a control was used (button pressed, option or list choice made, field edited)
  Menu,       // a menu item was chosen; number = item number
  MouseDown,  // left button went down over a hyperlink; number = its control number
  Close,      // the window's close box
  Refresh,    // the disk inventory changed (device arrival or removal)
};

struct UiEvent {
  int window = kMainWindow;
  UiEventKind kind = UiEventKind::Control;
  int number = 0;
};

}  // namespace fw
