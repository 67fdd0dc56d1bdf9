// Shared set-up of the Clover tests: a private temporary folder (the work folder's "ZORTemp*"
// sweep stays inside it), the program's data-set services, pauses off, a recording front end,
// and fresh Clover state.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/models/fake_front_end_test.h"

namespace fwtest {

namespace fs = std::filesystem;

// The fake front end, with every status text kept (workers write them while the test waits).
class CloverFrontEnd : public fw::testing::FakeFrontEnd {
 public:
  void ShowStatus(const std::string& text, int percent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    FakeFrontEnd::ShowStatus(text, percent);
    statuses_.push_back(text);
  }
  bool Saw(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& s : statuses_)
      if (s == text) return true;
    return false;
  }
  // A status that begins with `start` and goes on (a failure with the transfer library's reason).
  bool SawWithMore(const std::string& start) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& s : statuses_)
      if (s.size() > start.size() && s.rfind(start, 0) == 0) return true;
    return false;
  }
  std::string Text(int window, int control) { return text[{window, control}]; }
  std::vector<std::string> Combo(int window, int control) { return combo[{window, control}]; }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> out;
    for (const auto& b : boxes) out.push_back(b.title + ": " + b.text);
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> statuses_;
};

class CloverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  fs::path root_;
  fs::path repo_;  // the local repository folder
  fs::path dest_;  // where data sets are extracted
  CloverFrontEnd ui_;

 private:
  std::string savedTmp_;
  bool hadTmp_ = false;
};

// Entry names of a zip ("dir/" for folders), sorted.
std::vector<std::string> ZipEntries(const fs::path& zip);
// A data-set zip whose root "boot" names `rev` (no "boot" when rev is empty).
void WriteDataSetZip(const fs::path& path, const std::string& rev);

}  // namespace fwtest
