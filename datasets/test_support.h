// Helpers of the data-set tests: a scratch folder, recording Ui, services over that folder, and
// zips written with libarchive or by hand.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/quiet_ui_test_support.h"
#include "app/ui.h"
#include "datasets/dataset_services.h"

namespace fwtest {

namespace fs = std::filesystem;

class RecordingUi : public fw::QuietUi {
 public:
  std::vector<std::pair<std::string, int>> statuses;
  std::vector<std::string> boxes;  // title + ": " + text
  void ShowStatus(const std::string& text, int percent) override {
    statuses.emplace_back(text, percent);
  }
  fw::MsgAnswer MessageBox(const std::string& title, const std::string& text, fw::MsgButtons,
                           fw::MsgIcon) override {
    boxes.push_back(title + ": " + text);
    return fw::MsgAnswer::Ok;
  }
};

// A fresh scratch folder with a recording Ui and services whose work folder lies inside it.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  fs::path root;
  fs::path work;           // the work folder once made
  std::string workFolder;  // "" until made
  RecordingUi ui;
  fs::path Path(const std::string& rel) const { return root / rel; }
  std::vector<std::string> FilesUnder(const fs::path& folder) const;  // relative, sorted
};

// Files and folders under `folder` ("dir/" for folders), relative and sorted.
std::vector<std::string> FilesUnder(const fs::path& folder);

struct ZipItem {
  std::string name;
  std::string data;
  bool folder = false;
  std::string symlinkTarget;  // non-empty: a symbolic-link entry
};
// A zip made by libarchive (deflated entries unless `store`).
std::string MakeZip(const std::vector<ZipItem>& items, bool store = false);
// Stored entries "good.txt" ("fine"), "bad.bin" (whose bytes no longer match its CRC) and
// "after.txt" ("after").
std::string ZipWithBadCrc();
void WriteFile(const fs::path& path, const std::string& contents);
// What a shell command writes on its standard output.
std::string Output(const std::string& command);
std::string ReadFile(const fs::path& path);

}  // namespace fwtest
