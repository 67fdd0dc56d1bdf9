// For tests: a Ui whose choosers return "" and whose controls do nothing, so that a test's own Ui
// only writes what it records or answers (the status line, message boxes).
#pragma once

#include <string>
#include <vector>

#include "app/ui.h"

namespace fw {

class QuietUi : public Ui {
 public:
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

}  // namespace fw
