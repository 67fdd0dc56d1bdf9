// The one interface through which workers and the dispatcher talk to the user. The Qt front end
// marshals every call onto the UI thread (a message box blocks the calling worker until it is
// answered); the CLI prints and prompts; tests record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

struct FileFilter {
  std::string description;  // "Image Files (*.bin)"
  std::string pattern;      // "*.bin"
  // The filter the chooser starts with (the first one when none is marked).
  bool preselected = false;
};

class Ui {
 public:
  virtual ~Ui() = default;

  // Status line and progress bar; percent < 0 draws an empty bar and clears the taskbar progress.
  virtual void ShowStatus(const std::string& text, int percent) = 0;
  // A text the user must get to read (a refusal, a result): it stays in the status line for at
  // least kNoteMs; ShowStatus texts that come meanwhile move only the bar, and the newest of them
  // is shown after the note.
  virtual void ShowNote(const std::string& text, int percent) { ShowStatus(text, percent); }
  // A request to act in the window ("Select the USB Flash Drive, please"): the status line of the
  // desktop program; a command line, where nothing is selected by hand, shows nothing.
  virtual void ShowPrompt(const std::string& text) { ShowStatus(text, -1); }
  // True once the main window (or the CLI's status line) exists: ShowStatusFor does nothing before.
  virtual bool HasMainWindow() const { return true; }

  virtual MsgAnswer MessageBox(const std::string& title, const std::string& text,
                               MsgButtons buttons, MsgIcon icon) = 0;

  // Choosers return "" when the user cancels.
  virtual std::string OpenFileChooser(const std::string& title, const std::string& defaultPath,
                                      const std::vector<FileFilter>& filters) = 0;
  virtual std::string SaveFileChooser(const std::string& title, const std::string& defaultPath,
                                      const std::vector<FileFilter>& filters) = 0;
  virtual std::string FolderChooser(const std::string& title, const std::string& initialFolder) = 0;

  // Controls addressed by window number (0 main, 1 About, 2 Download Center, 3 Configuration)
  // and control number.
  virtual void SetControlText(int window, int control, const std::string& text) = 0;
  virtual std::string ControlText(int window, int control) = 0;
  virtual void SetControlEnabled(int window, int control, bool enabled) = 0;
  virtual void SetComboItems(int window, int control, const std::vector<std::string>& items,
                             int selected) = 0;
  // The text colour of a control, 0xRRGGBB (the front ends that draw no colours ignore it).
  virtual void SetControlColor(int /*window*/, int /*control*/, uint32_t /*rgb*/) {}

  // The disk inventory changed: redraw the drive tree from the inventory's rows.
  virtual void DriveListChanged() {}
};

// The answer that destroys nothing, for a box nobody can answer (Esc, the close box, no user):
// OK for a box that has only OK, No for Yes/No, Cancel otherwise.
MsgAnswer SafeAnswer(MsgButtons buttons);

// The process's Ui; a silent one until a front end installs its own.
Ui& TheUi();
void SetUi(Ui* ui);

// How long a note stays readable: the time the program gives its status texts.
inline constexpr int kNoteMs = 2000;

// Shorthands for the jobs.
void ShowStatus(const std::string& text, int percent);
void ShowPrompt(const std::string& text);
void ShowNote(const std::string& text, int percent);
// When the main window exists and the text is not empty: ShowStatus(text, 0), then pause
// `milliseconds` on the calling thread (through the clock).
void ShowStatusFor(const std::string& text, int milliseconds);
MsgAnswer MessageBox(const std::string& title, const std::string& text,
                     MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None);

}  // namespace fw
