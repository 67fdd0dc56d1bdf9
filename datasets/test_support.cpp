#include "datasets/test_support.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "app/clock.h"
#include "app/globals.h"

namespace fwtest {

Scratch::Scratch() {
  std::random_device rd;
  root = fs::temp_directory_path() / ("fwds-" + std::to_string(rd()));
  fs::create_directories(root);
  fw::SetUi(&ui);
  fw::SetPausesEnabled(false);
  FormatStatus = 0;
  fw::DataSetServices& s = fw::TheDataSetServices();
  s.workFolder = [this] { return workFolder; };
  s.createTempWorkDir = [this] {
    work = root / "ZORTemp1234";
    fs::create_directories(work);
    workFolder = work.string() + "/";
    return 1;
  };
  s.createTempFileName = [](const std::string& folder) -> std::string {
    if (folder.empty()) return "";
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().filename().string().rfind("TEMP", 0) == 0) fs::remove(e.path());
    static int n = 1000;
    return folder + "TEMP" + std::to_string(++n % 9000 + 1000);
  };
  s.tempFolder = [this] { return (root / "systemp").string(); };
  fs::create_directories(root / "systemp");
  s.openVolume = nullptr;
}

Scratch::~Scratch() {
  fw::SetUi(nullptr);
  FormatStatus = 0;
  fw::TheDataSetServices() = fw::DataSetServices{};
  std::error_code ec;
  fs::remove_all(root, ec);
}

std::vector<std::string> Scratch::FilesUnder(const fs::path& folder) const {
  return fwtest::FilesUnder(folder);
}

std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec))
    out.push_back(fs::relative(it->path(), folder).generic_string() +
                  (it->is_directory() ? "/" : ""));
  std::sort(out.begin(), out.end());
  return out;
}

std::string MakeZip(const std::vector<ZipItem>& items, bool store) {
  std::string out;
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  if (store) archive_write_set_option(a, "zip", "compression", "store");
  archive_write_open(
      a, &out, nullptr,
      [](archive*, void* client, const void* buffer, size_t length) -> la_ssize_t {
        static_cast<std::string*>(client)->append(static_cast<const char*>(buffer), length);
        return static_cast<la_ssize_t>(length);
      },
      nullptr);
  for (const ZipItem& item : items) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, item.name.c_str());
    if (!item.symlinkTarget.empty()) {
      archive_entry_set_filetype(e, AE_IFLNK);
      archive_entry_set_symlink(e, item.symlinkTarget.c_str());
      archive_entry_set_perm(e, 0777);
    } else if (item.folder) {
      archive_entry_set_filetype(e, AE_IFDIR);
      archive_entry_set_perm(e, 0755);
    } else {
      archive_entry_set_filetype(e, AE_IFREG);
      archive_entry_set_perm(e, 0644);
      archive_entry_set_size(e, static_cast<la_int64_t>(item.data.size()));
    }
    archive_write_header(a, e);
    if (!item.data.empty()) archive_write_data(a, item.data.data(), item.data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
  return out;
}

std::string ZipWithBadCrc() {
  std::string payload;
  for (int i = 0; i < 100; ++i) payload += "BADCRC-PAYLOAD-";
  std::string zip =
      MakeZip({{"good.txt", "fine"}, {"bad.bin", payload}, {"after.txt", "after"}}, true);
  zip[zip.find("BADCRC-PAYLOAD-")] = 'X';
  return zip;
}

void WriteFile(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace fwtest
