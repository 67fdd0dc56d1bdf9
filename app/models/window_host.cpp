#include "app/models/window_host.h"

#include <atomic>

namespace fw {
namespace {

class NoWindows final : public WindowHost {
 public:
  void OpenWindow(int) override {}
  void CloseWindow(int) override {}
  bool IsWindowOpen(int) override { return false; }
  void SetWindowEnabled(int, bool) override {}
  void ActivateWindow(int) override {}
  void SetChecked(int, int, bool) override {}
  bool IsChecked(int, int) override { return false; }
  void SelectComboItem(int, int, int) override {}
  int ComboSelection(int, int) override { return -1; }
  std::vector<std::string> ComboItems(int, int) override { return {}; }
  void SetComboDropWidth(int, int) override {}
  void SetMenuItemEnabled(int, bool) override {}
  int SelectedDriveRow() override { return -1; }
  void SelectDriveRow(int) override {}
  bool OpenUrl(const std::string&) override { return false; }
  void PostEvent(const UiEvent&) override {}
  std::string InputText(const std::string&, const std::string&, const std::string&) override {
    return "";
  }
};

NoWindows gNone;
std::atomic<WindowHost*> gHost{&gNone};

}  // namespace

WindowHost& TheWindows() { return *gHost.load(); }
void SetWindows(WindowHost* host) { gHost = host ? host : &gNone; }
void SetComboDropWidth(int window, int control) { TheWindows().SetComboDropWidth(window, control); }

}  // namespace fw
