// The event loop's command table: one UiEvent in, calls to the job table, Ui and WindowHost out.
// Runs on the UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "app/models/ui_event.h"

namespace fw {

class Dispatcher {
 public:
  void Handle(const UiEvent& event);
  // True once Exit, Quit or the main window's close box ended the program.
  bool QuitRequested() const { return quit_; }

 private:
  void MainControl(int control);
  void Menu(int item);
  void MouseDown(int window, int control);
  void Close(int window);
  void AttachImage();
  void NewImage();

  bool quit_ = false;
};

// The window rules of the Configuration window: what opening it sets up, and its control events.
void OpenConfigWindow();
void ConfigControl(int control);
void CloseConfigWindow();

// Opens the About window (or brings it forward).
void OpenAboutWindow();

// UpdateAllDrives, then the tree is redrawn from the inventory.
void RefreshDriveTree();

// Logs and shows in the status line that a job of the table is missing from this build.
void NotAvailable(const std::string& what);

// "8G", "512M", "64 MiB", "1000000000": the size of a new disk image in bytes, rounded up to
// whole 512-byte sectors; -1 for text that is no size or under 1 MiB or over 16 TiB.
int64_t ParseNewImageSize(const std::string& text);

// The whole numeric value at the start of `text` (leading blanks skipped), saturating instead of
// overflowing; 0 when there is none.
int64_t LeadingNumber(const std::string& text);

}  // namespace fw
