// The CLI's Ui. Steps of a job are lines of their own; progress is one line rewritten in place on
// a terminal, and a line per few percent in a pipe. Message boxes are printed and asked as [y/N]:
// answered by --yes, by the user at a terminal, or with No at once when there is none to ask.
#pragma once

#include <cstdio>
#include <string>

#include "app/ui.h"
#include "platform/terminal.h"

namespace fw {

class ConsoleUi : public Ui {
 public:
  // `in`/`out` default to stdin/stdout; `interactive` decides whether questions are asked.
  ConsoleUi(bool yes, std::FILE* in, std::FILE* out, bool terminal);
  ~ConsoleUi() override;

  void ShowStatus(const std::string& text, int percent) override;
  // The window's prompts ("Select the USB Flash Drive, please") have no place on a command line.
  void ShowPrompt(const std::string&) override {}
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons buttons,
                       MsgIcon icon) override;
  std::string OpenFileChooser(const std::string&, const std::string& defaultPath,
                              const std::vector<FileFilter>&) override;
  std::string SaveFileChooser(const std::string&, const std::string& defaultPath,
                              const std::vector<FileFilter>&) override;
  std::string FolderChooser(const std::string&, const std::string& initialFolder) override;
  void SetControlText(int, int, const std::string&) override {}
  std::string ControlText(int, int) override { return ""; }
  void SetControlEnabled(int, int, bool) override {}
  void SetComboItems(int, int, const std::vector<std::string>&, int) override {}

  // Ends a pending progress line (before other output).
  void EndLine();

 private:
  void ShowProgress(const std::string& text, int percent);

  bool yes_;
  std::FILE* in_;
  std::FILE* out_;
  bool terminal_;
  bool lineOpen_ = false;    // a progress line waits for its end
  std::string lastText_;     // the last status text
  int lastPercent_ = -1;     // the last progress printed in a pipe; -1 after a step
  std::string lastPrinted_;  // and its text
};

}  // namespace fw
