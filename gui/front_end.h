// The Qt 6 Widgets front end: draws the window models, turns widget signals into UiEvents for the
// dispatcher, and implements Ui and WindowHost. Every call from a worker thread is carried out on
// the UI thread, the caller waiting for it (a message box blocks the worker until answered).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/models/dispatcher.h"
#include "app/models/status_line.h"
#include "app/models/window_host.h"
#include "app/ui.h"

class QMainWindow;
class QMenu;
class QAction;
class QTreeWidget;
class QTimer;

namespace fw::qt {

// Fusion style and a small sans-serif font, so that the texts fit the fixed control sizes.
void SetUpApplicationLook();

class StatusCanvas;

// The launcher-entry progress of the desktop (the com.canonical.Unity.LauncherEntry "Update"
// signal that docks read); null when there is no session bus.
std::unique_ptr<TaskbarProgress> NewLauncherTaskbar();

class QtFrontEnd : public QObject, public Ui, public WindowHost {
 public:
  QtFrontEnd();
  ~QtFrontEnd() override;

  // Builds the main window at (WinX, WinY), re-centred when off the desktop, and installs itself
  // as the process's Ui and WindowHost.
  void OpenMainWindow();
  QWidget* Window(int window) const;
  QWidget* Control(int window, int control) const;
  QAction* MenuAction(int item) const;
  // Hands one event to the dispatcher; ends the event loop when it asks to quit.
  void Dispatch(const UiEvent& event);
  Dispatcher& TheDispatcher() { return dispatcher_; }
  // Tests keep their event loop running after a Quit.
  bool exitLoopOnQuit = true;
  // The program is ending: from now on message boxes get their safe answer (SafeAnswer) and
  // choosers and prompts return "" without showing anything, so that no worker waits for a user
  // who has gone.
  void EndQuestions();
  const std::string& StatusText() const;
  int StatusPercent() const;
  // Called on the UI thread, from the event loop, after each redraw of the drive tree.
  void SetAfterDriveTreeDrawn(std::function<void()> call) { afterTreeDrawn_ = std::move(call); }

  // Ui
  void ShowStatus(const std::string& text, int percent) override;
  void ShowNote(const std::string& text, int percent) override;
  bool HasMainWindow() const override;
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons buttons,
                       MsgIcon icon) override;
  std::string OpenFileChooser(const std::string& title, const std::string& defaultPath,
                              const std::vector<FileFilter>& filters) override;
  std::string SaveFileChooser(const std::string& title, const std::string& defaultPath,
                              const std::vector<FileFilter>& filters) override;
  std::string FolderChooser(const std::string& title, const std::string& initialFolder) override;
  void SetControlText(int window, int control, const std::string& text) override;
  std::string ControlText(int window, int control) override;
  void SetControlEnabled(int window, int control, bool enabled) override;
  void SetControlColor(int window, int control, uint32_t rgb) override;
  void SetComboItems(int window, int control, const std::vector<std::string>& items,
                     int selected) override;
  void DriveListChanged() override;

  // WindowHost
  void OpenWindow(int window) override;
  void CloseWindow(int window) override;
  bool IsWindowOpen(int window) override;
  void SetWindowEnabled(int window, bool enabled) override;
  void ActivateWindow(int window) override;
  void SetChecked(int window, int control, bool checked) override;
  bool IsChecked(int window, int control) override;
  void SelectComboItem(int window, int control, int index) override;
  int ComboSelection(int window, int control) override;
  std::vector<std::string> ComboItems(int window, int control) override;
  void SetComboDropWidth(int window, int control) override;
  void SetMenuItemEnabled(int item, bool enabled) override;
  int SelectedDriveRow() override;
  void SelectDriveRow(int row) override;
  bool OpenUrl(const std::string& url) override;
  void PostEvent(const UiEvent& event) override;
  std::string InputText(const std::string& title, const std::string& prompt,
                        const std::string& defaultText) override;

 private:
  struct Built {
    QPointer<QWidget> window;
    std::map<int, QPointer<QWidget>> controls;
  };
  void Build(int window, QWidget* host);
  void RebuildTree();
  // The status line on the UI thread: the text (held back while a note is up) and the bar.
  void SetStatus(const std::string& text, int percent);
  QWidget* DialogParent() const;

  Dispatcher dispatcher_;
  std::map<int, Built> windows_;
  QMainWindow* main_ = nullptr;
  StatusCanvas* status_ = nullptr;
  QMenu* latestClover_ = nullptr;
  std::map<int, QAction*> actions_;
  std::unique_ptr<TaskbarProgress> taskbar_;
  bool questionsEnded_ = false;
  QTimer* noteTimer_ = nullptr;          // runs while a note is up
  std::optional<std::string> heldText_;  // the newest status text that came meanwhile
  std::function<void()> afterTreeDrawn_;
};

}  // namespace fw::qt
