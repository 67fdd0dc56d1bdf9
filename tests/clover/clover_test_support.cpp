#include "tests/clover/clover_test_support.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>

#include "app/clock.h"
#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "app/work_folder.h"
#include "datasets/clover_local_distr.h"
#include "datasets/dataset_services.h"
#include "datasets/test_support.h"
#include "net/http_get.h"

namespace fwtest {

void CloverTest::SetUp() {
  root_ =
      fs::temp_directory_path() / ("fw-clover-" + std::to_string(std::random_device{}()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  repo_ = root_ / "repo";
  dest_ = root_ / "dest";
  fs::create_directories(repo_);
  fs::create_directories(dest_);
  fs::create_directories(root_ / "tmp");
  const char* tmp = std::getenv("TMPDIR");
  hadTmp_ = tmp != nullptr;
  if (tmp) savedTmp_ = tmp;
  ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
  fw::InstallSystemDataSetServices();
  fw::SetPausesEnabled(false);
  fw::Settings() = fw::SettingsRecord{};
  fw::Settings().CloverLocalRepository = repo_.string() + "/";
  fw::Settings().ResumeMaxAttemptsNumber = 5;
  fw::CloverDLRev() = "0";
  fw::TheCloverChoice() = fw::CloverChoice{};
  fw::ZorTempWorkDir().clear();
  flgNetThreadRunning = 0;
  CancelMainThread = 0;
  FormatStatus = 0;
}

void CloverTest::TearDown() {
  flgNetThreadRunning = 0;
  CancelMainThread = 0;
  fw::TheDataSetServices() = fw::DataSetServices{};
  if (hadTmp_) {
    ::setenv("TMPDIR", savedTmp_.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  std::error_code ec;
  fs::remove_all(root_, ec);
}

std::vector<std::string> ZipEntries(const fs::path& zip) {
  std::vector<std::string> names;
  archive* a = archive_read_new();
  archive_read_support_format_zip(a);
  if (archive_read_open_filename(a, zip.c_str(), 65536) == ARCHIVE_OK) {
    archive_entry* e;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
      std::string name = archive_entry_pathname(e);
      if (archive_entry_filetype(e) == AE_IFDIR && name.back() != '/') name += '/';
      names.push_back(name);
    }
  }
  archive_read_free(a);
  std::sort(names.begin(), names.end());
  return names;
}

void WriteDataSetZip(const fs::path& path, const std::string& rev) {
  std::vector<ZipItem> items = {{"EFI/CLOVER/config.plist", "<plist/>"}};
  if (!rev.empty()) items.push_back({"boot", "loader\r\nClover revision: " + rev + "\r\n"});
  WriteFile(path, MakeZip(items));
}

}  // namespace fwtest
