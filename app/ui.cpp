#include "app/ui.h"

#include <atomic>

#include "app/clock.h"

namespace fw {
namespace {

// Used before a front end starts and by tools that have none: answers every question with the
// safe choice (Cancel / No) so nothing destructive happens without a real user.
class SilentUi final : public Ui {
 public:
  void ShowStatus(const std::string&, int) override {}
  bool HasMainWindow() const override { return false; }
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons buttons,
                       MsgIcon) override {
    return SafeAnswer(buttons);
  }
  std::string OpenFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return "";
  }
  std::string SaveFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return "";
  }
  std::string FolderChooser(const std::string&, const std::string&) override { return ""; }
  void SetControlText(int, int, const std::string&) override {}
  std::string ControlText(int, int) override { return ""; }
  void SetControlEnabled(int, int, bool) override {}
  void SetComboItems(int, int, const std::vector<std::string>&, int) override {}
};

SilentUi gSilent;
std::atomic<Ui*> gUi{&gSilent};

}  // namespace

MsgAnswer SafeAnswer(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok:
      return MsgAnswer::Ok;
    case MsgButtons::YesNo:
      return MsgAnswer::No;
    default:
      return MsgAnswer::Cancel;
  }
}

Ui& TheUi() { return *gUi.load(); }
void SetUi(Ui* ui) { gUi = ui ? ui : &gSilent; }

void ShowStatus(const std::string& text, int percent) { TheUi().ShowStatus(text, percent); }
void ShowNote(const std::string& text, int percent) { TheUi().ShowNote(text, percent); }
void ShowPrompt(const std::string& text) { TheUi().ShowPrompt(text); }

void ShowStatusFor(const std::string& text, int milliseconds) {
  Ui& ui = TheUi();
  if (!ui.HasMainWindow() || text.empty()) return;
  ui.ShowStatus(text, 0);
  Pause(milliseconds);
}

MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons buttons,
                     MsgIcon icon) {
  return TheUi().MessageBox(title, text, buttons, icon);
}

}  // namespace fw
