// Shared set-up of the download tests: pauses off, a Ui that records the status line, a fresh
// transfer record and a scratch folder; and a helper that runs the command-line program.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/quiet_ui_test_support.h"
#include "app/ui.h"
#include "net/http_get.h"
#include "tests/net/test_server.h"

namespace fwtest {

// Runs a shell command; its exit status, with what it wrote to stdout appended to *output.
inline int RunCapture(const std::string& command, std::string* output) {
  FILE* f = popen(command.c_str(), "r");
  if (!f) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) output->append(buf, n);
  const int status = pclose(f);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RecordingUi final : public fw::QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    statuses_.push_back(text);
  }
  fw::MsgAnswer MessageBox(const std::string&, const std::string&, fw::MsgButtons,
                           fw::MsgIcon) override {
    return fw::MsgAnswer::Ok;
  }

  std::vector<std::string> Statuses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
  }
  bool Saw(const std::string& text) {
    for (const auto& s : Statuses())
      if (s == text) return true;
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> statuses_;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::SetPausesEnabled(false);
    fw::SetUi(&ui_);
    CancelMainThread = 0;
    fw::SetHttpStallTimeoutMs(60000);
    dir_ = std::filesystem::temp_directory_path() /
           ("fw-net-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    fw::ClearHTTP(r_);
  }
  void TearDown() override {
    fw::SetUi(nullptr);
    CancelMainThread = 0;
    fw::SetHttpStallTimeoutMs(60000);
    std::filesystem::remove_all(dir_);
  }

  std::string Target(const std::string& name = "out.bin") const { return (dir_ / name).string(); }

  void ToFile(const std::string& url, int maxAttempts = 10, int bufferSize = 0) {
    r_.URL = url;
    r_.iDestination = fw::kHttpToFile;
    r_.FullFileName = Target();
    r_.iResumeMaxAttemptsNumber = maxAttempts;
    r_.BufferSize = bufferSize;
  }

  // True when the file holds exactly the first `size` pattern bytes.
  static bool HoldsPattern(const std::string& path, int64_t size) {
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) != static_cast<uintmax_t>(size) || ec) return false;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> got(1 << 20), want(1 << 20);
    for (int64_t pos = 0; pos < size;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(size - pos, 1 << 20));
      in.read(got.data(), static_cast<std::streamsize>(n));
      FillPattern(want.data(), pos, n);
      if (!in || std::memcmp(got.data(), want.data(), n) != 0) return false;
      pos += static_cast<int64_t>(n);
    }
    return true;
  }

  RecordingUi ui_;
  std::filesystem::path dir_;
  fw::THTTP r_;
};

}  // namespace fwtest
