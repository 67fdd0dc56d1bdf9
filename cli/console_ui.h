// The CLI's Ui: a one-line progress display on a terminal (plain lines when stdout is not one),
// message boxes printed and answered by --yes, by the user at a terminal, or with Cancel.
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
  bool yes_;
  std::FILE* in_;
  std::FILE* out_;
  bool terminal_;
  bool lineOpen_ = false;
  std::string lastPlain_;
};

}  // namespace fw
