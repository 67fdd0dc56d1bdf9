// What the dispatcher and the jobs need from a front end beyond Ui: opening and closing windows,
// option/check/list state, the drive tree's selection and opening URLs. The Qt front end
// implements it on the UI thread (calls from workers are marshalled there); tests record.
// Programmatic changes made through this interface never come back as UiEvents.
#pragma once

#include <string>
#include <vector>

#include "app/models/ui_event.h"

namespace fw {

class WindowHost {
 public:
  virtual ~WindowHost() = default;

  // Builds window 1, 2 or 3 from its model (placing it as that window is placed) and shows it.
  virtual void OpenWindow(int window) = 0;
  virtual void CloseWindow(int window) = 0;
  virtual bool IsWindowOpen(int window) = 0;
  virtual void SetWindowEnabled(int window, bool enabled) = 0;
  virtual void ActivateWindow(int window) = 0;

  // Options and check boxes.
  virtual void SetChecked(int window, int control, bool checked) = 0;
  virtual bool IsChecked(int window, int control) = 0;
  // Drop-down lists: selected index (-1 none) and items.
  virtual void SelectComboItem(int window, int control, int index) = 0;
  virtual int ComboSelection(int window, int control) = 0;
  virtual std::vector<std::string> ComboItems(int window, int control) = 0;
  // Measures the items in the window's font and applies ComboDropWidth.
  virtual void SetComboDropWidth(int window, int control) = 0;

  virtual void SetMenuItemEnabled(int item, bool enabled) = 0;

  // Drive tree: selected row (-1 none) in the order of Jobs::DriveTreeRows.
  virtual int SelectedDriveRow() = 0;
  virtual void SelectDriveRow(int row) = 0;

  // Opens a URL (or a file:// URL) with the desktop's handler; false when that failed.
  virtual bool OpenUrl(const std::string& url) = 0;

  // Queues an event for the dispatcher from any thread (the device monitor posts
  // UiEventKind::Refresh after a device change); it is handled on the UI thread.
  virtual void PostEvent(const UiEvent& event) = 0;

  // A one-line text prompt; "" when cancelled.
  virtual std::string InputText(const std::string& title, const std::string& prompt,
                                const std::string& defaultText) = 0;
};

// The process's window host; one that does nothing until a front end installs its own.
WindowHost& TheWindows();
void SetWindows(WindowHost* host);

// Shorthand used by the jobs that fill lists (Download Center, local Clover data sets).
void SetComboDropWidth(int window, int control);

}  // namespace fw
