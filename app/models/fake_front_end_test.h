// A recording front end for the model tests: remembers every control's text, enable state,
// check state and list contents, and answers choosers and prompts from queues.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/ui.h"

namespace fw::testing {

class FakeFrontEnd : public Ui, public WindowHost {
 public:
  using Key = std::pair<int, int>;

  FakeFrontEnd() {
    SetUi(this);
    SetWindows(this);
  }
  ~FakeFrontEnd() override {
    SetUi(nullptr);
    SetWindows(nullptr);
  }

  // Ui
  void ShowStatus(const std::string& text, int percent) override {
    statusText = text;
    statusPercent = percent;
  }
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons,
                       MsgIcon icon) override {
    boxes.push_back({title, text, icon});
    return MsgAnswer::Ok;
  }
  std::string OpenFileChooser(const std::string& title, const std::string&,
                              const std::vector<FileFilter>&) override {
    return Next(chooserTitles, title);
  }
  std::string SaveFileChooser(const std::string& title, const std::string&,
                              const std::vector<FileFilter>&) override {
    return Next(chooserTitles, title);
  }
  std::string FolderChooser(const std::string& title, const std::string& initial) override {
    folderStart = initial;
    return Next(chooserTitles, title);
  }
  void SetControlText(int w, int c, const std::string& t) override { text[{w, c}] = t; }
  std::string ControlText(int w, int c) override { return text[{w, c}]; }
  void SetControlEnabled(int w, int c, bool e) override { enabled[{w, c}] = e; }
  void SetComboItems(int w, int c, const std::vector<std::string>& items, int sel) override {
    combo[{w, c}] = items;
    selection[{w, c}] = sel;
  }
  void SetControlColor(int w, int c, uint32_t rgb) override { color[{w, c}] = rgb; }
  void DriveListChanged() override { ++treeRedraws; }

  // WindowHost
  void OpenWindow(int w) override {
    open[w] = true;
    ++opened[w];
    // Lists start with the model's items, as a real front end builds them.
    for (const ControlModel& c : WindowModelFor(w).controls) {
      if (c.kind == ControlKind::DropDown) combo[{w, c.number}] = c.items;
    }
  }
  void CloseWindow(int w) override { open[w] = false; }
  bool IsWindowOpen(int w) override { return open[w]; }
  void SetWindowEnabled(int w, bool e) override { windowEnabled[w] = e; }
  void ActivateWindow(int w) override { active = w; }
  void SetChecked(int w, int c, bool on) override {
    // Options of one group exclude each other, as radio buttons do.
    const WindowModel model = WindowModelFor(w);
    const ControlModel* m = model.Find(c);
    if (on && m && m->kind == ControlKind::Option) {
      for (const ControlModel& o : model.controls) {
        if (o.kind == ControlKind::Option && o.group == m->group) checked[{w, o.number}] = false;
      }
    }
    checked[{w, c}] = on;
  }
  bool IsChecked(int w, int c) override { return checked[{w, c}]; }
  void SelectComboItem(int w, int c, int i) override { selection[{w, c}] = i; }
  int ComboSelection(int w, int c) override {
    auto it = selection.find({w, c});
    return it == selection.end() ? -1 : it->second;
  }
  std::vector<std::string> ComboItems(int w, int c) override { return combo[{w, c}]; }
  void SetComboDropWidth(int w, int c) override { dropWidthSet.push_back({w, c}); }
  void SetMenuItemEnabled(int item, bool e) override { menuEnabled[item] = e; }
  int SelectedDriveRow() override { return driveRow; }
  void SelectDriveRow(int row) override { driveRow = row; }
  bool OpenUrl(const std::string& url) override {
    urls.push_back(url);
    return openUrlResult;
  }
  void PostEvent(const UiEvent& e) override { posted.push_back(e); }
  std::string InputText(const std::string& title, const std::string&, const std::string&) override {
    return Next(chooserTitles, title, &inputs);
  }

  bool Enabled(int w, int c) {
    auto it = enabled.find({w, c});
    return it == enabled.end() ? true : it->second;
  }
  std::string Selected(int w, int c) {
    const int i = ComboSelection(w, c);
    const auto& items = combo[{w, c}];
    return i >= 0 && i < static_cast<int>(items.size()) ? items[i] : "";
  }

  struct Box {
    std::string title, text;
    MsgIcon icon;
  };
  std::string statusText;
  int statusPercent = -1000;
  std::vector<Box> boxes;
  std::deque<std::string> answers;  // file/folder chooser answers, in order
  std::deque<std::string> inputs;   // text prompt answers
  std::vector<std::string> chooserTitles;
  std::string folderStart;
  std::map<Key, std::string> text;
  std::map<Key, bool> enabled, checked;
  std::map<Key, std::vector<std::string>> combo;
  std::map<Key, int> selection;
  std::map<Key, uint32_t> color;
  std::map<int, bool> open, windowEnabled, menuEnabled;
  std::map<int, int> opened;
  std::vector<Key> dropWidthSet;
  std::vector<std::string> urls;
  std::vector<UiEvent> posted;
  bool openUrlResult = true;
  int active = -1;
  int driveRow = -1;
  int treeRedraws = 0;

 private:
  std::string Next(std::vector<std::string>& titles, const std::string& title,
                   std::deque<std::string>* queue = nullptr) {
    titles.push_back(title);
    std::deque<std::string>& q = queue ? *queue : answers;
    if (q.empty()) return "";
    std::string a = q.front();
    q.pop_front();
    return a;
  }
};

}  // namespace fw::testing
