// Shared pieces of the HFS image suites: a Ui that records and answers, a scratch folder with its
// own settings file, and a web server on 127.0.0.1 that serves fixed documents by path.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/quiet_ui_test_support.h"
#include "tests/net/test_server.h"

namespace fwtest {

namespace fs = std::filesystem;

class HfsUi : public fw::QuietUi {
 public:
  std::vector<std::string> statuses;
  std::vector<std::string> boxes;  // title + ": " + text
  std::vector<std::string> chooserTitles;
  std::vector<std::string> controlTexts;  // "window/control=text"
  std::vector<std::string> comboItems;
  int comboSelected = -2;
  std::string openAnswer, folderAnswer;
  std::string folderStart;
  std::vector<fw::FileFilter> filters;

  void ShowStatus(const std::string& text, int) override { Add(statuses, text); }
  fw::MsgAnswer MessageBox(const std::string& title, const std::string& text, fw::MsgButtons,
                           fw::MsgIcon) override {
    Add(boxes, title + ": " + text);
    return fw::MsgAnswer::Ok;
  }
  std::string OpenFileChooser(const std::string& title, const std::string&,
                              const std::vector<fw::FileFilter>& f) override {
    Add(chooserTitles, title);
    filters = f;
    return openAnswer;
  }
  std::string FolderChooser(const std::string& title, const std::string& start) override {
    Add(chooserTitles, title);
    folderStart = start;
    return folderAnswer;
  }
  void SetControlText(int window, int control, const std::string& text) override {
    Add(controlTexts, std::to_string(window) + "/" + std::to_string(control) + "=" + text);
  }
  void SetComboItems(int, int, const std::vector<std::string>& items, int selected) override {
    std::lock_guard<std::mutex> lock(mutex_);
    comboItems = items;
    comboSelected = selected;
  }
  bool Saw(const std::string& status) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& s : statuses)
      if (s == status) return true;
    return false;
  }

 private:
  void Add(std::vector<std::string>& to, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    to.push_back(text);
  }
  std::mutex mutex_;
};

struct Resource {
  std::string body;
  std::string extraHeaders;  // "Name: value\r\n" lines
  int status = 200;
};

// Serves the documents put into it; any other path is a 404. Honours single byte ranges.
class DocumentServer {
 public:
  DocumentServer() : server_([this](int fd, const Request& req, int) { Serve(fd, req); }) {}
  void Put(const std::string& path, Resource r) {
    std::lock_guard<std::mutex> lock(mutex_);
    docs_[path] = std::move(r);
  }
  std::string Url(const std::string& path) const { return server_.Url(path); }
  std::string Root() const { return server_.Url(""); }
  std::vector<std::string> Paths() {
    std::vector<std::string> paths;
    for (const Request& r : server_.Requests()) paths.push_back(r.target);
    return paths;
  }

 private:
  void Serve(int fd, const Request& req) {
    Resource r;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = docs_.find(req.target);
      r = it == docs_.end() ? Resource{"", "", 404} : it->second;
    }
    std::string body = r.body;
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + (r.status == 200 ? " OK" : " Nope");
    const std::string range = req.Header("range");
    if (r.status == 200 && range.rfind("bytes=", 0) == 0) {
      const size_t from = std::stoul(range.substr(6));
      body = from < body.size() ? body.substr(from) : "";
      head = "HTTP/1.1 206 Partial\r\nContent-Range: bytes " + std::to_string(from) + "-" +
             std::to_string(r.body.size() - 1) + "/" + std::to_string(r.body.size());
    }
    const std::string out = head + "\r\nConnection: close\r\n" + r.extraHeaders +
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    TestServer::SendAll(fd, out.data(), out.size());
  }
  std::mutex mutex_;
  std::map<std::string, Resource> docs_;
  TestServer server_;
};

std::string ReadAll(const fs::path& path);
void WriteAll(const fs::path& path, const std::string& data);

// A scratch folder (removed at the end) with the settings file of the run inside it, the images
// repository, pauses off and the recording Ui installed.
class HfsScratch {
 public:
  HfsScratch();
  ~HfsScratch();
  fs::path root;
  fs::path repo;  // ZORImageLocalRepo
  HfsUi ui;
};

}  // namespace fwtest

namespace fwtest {

// A Recovery HD update package: a XAR holding RecoveryHDMeta.dmg, whose HFS+ volume holds
// BaseSystem.dmg, whose Apple_HFS partition is `hfs`. `apfs` makes that partition an APFS one.
std::string RecoveryHDPackage(const std::string& hfs, bool apfs = false);
// The installer products' RecoveryHDMetaDmg.pkg: the middle DMG itself behind a XAR header.
std::string RecoveryHDMetaDmgPackage(const std::string& hfs);

}  // namespace fwtest
