#include "tests/clover/clover_fixture.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

namespace fwtest {
namespace {

constexpr const char* kBootImage = "usr/standalone/i386/cdboot";
constexpr const char* kBootCatalog = "usr/standalone/i386/boot.cat";
constexpr const char* kProject = "/CloverHackyColor/CloverBootloader/";

std::string Boot6(const CloverIsoOptions& o) {
  std::string data = o.boot6.empty() ? "Clover legacy loader (test)\r\n" : o.boot6;
  const std::string line = "Clover revision: " + o.rev;
  if (data.find(line) == std::string::npos) data += "\r\n" + line + "\r\n";
  return data;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::vector<IsoFile> CloverIsoFiles(const CloverIsoOptions& o) {
  std::vector<IsoFile> files = {
      {kBootImage, std::string(2048, '\xEB')},
      {"EFI/BOOT/BOOTX64.efi", "MZ boot x64 " + o.rev},
      {"EFI/CLOVER/CLOVERX64.efi", "MZ clover x64 " + o.rev},
      {"EFI/CLOVER/config.plist", "<?xml version=\"1.0\"?><plist><dict/></plist>\n"},
      {"usr/standalone/i386/x64/boot7", "Clover boot7 loader\r\n"},
  };
  if (o.withBoot6) files.push_back({"usr/standalone/i386/x64/boot6", Boot6(o)});
  files.insert(files.end(), o.extra.begin(), o.extra.end());
  return files;
}

std::vector<std::string> CloverDataSetTree(const CloverIsoOptions& o) {
  std::set<std::string> tree;
  auto addWithFolders = [&](const std::string& path) {
    tree.insert(path);
    for (size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1))
      tree.insert(path.substr(0, slash) + "/");
  };
  for (const IsoFile& f : CloverIsoFiles(o)) addWithFolders(f.name);
  addWithFolders(kBootCatalog);
  addWithFolders("boot7");
  if (o.withBoot6) {
    addWithFolders("boot6");
    addWithFolders("boot");
  }
  return {tree.begin(), tree.end()};
}

bool WriteCloverIso(const fs::path& iso, const CloverIsoOptions& o) {
  archive* a = archive_write_new();
  archive_write_set_format_iso9660(a);
  archive_write_set_format_option(a, "iso9660", "boot", kBootImage);
  archive_write_set_format_option(a, "iso9660", "boot-catalog", kBootCatalog);
  archive_write_set_format_option(a, "iso9660", "boot-type", "no-emulation");
  archive_write_set_format_option(a, "iso9660", "volume-id", "CLOVER");
  bool ok = archive_write_open_filename(a, iso.c_str()) == ARCHIVE_OK;
  for (const IsoFile& f : CloverIsoFiles(o)) {
    if (!ok) break;
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, f.name.c_str());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_entry_set_size(e, static_cast<la_int64_t>(f.data.size()));
    ok = archive_write_header(a, e) == ARCHIVE_OK &&
         archive_write_data(a, f.data.data(), f.data.size()) ==
             static_cast<la_ssize_t>(f.data.size());
    archive_entry_free(e);
  }
  if (archive_write_close(a) != ARCHIVE_OK) ok = false;
  if (!ok) std::fprintf(stderr, "ISO: %s\n", archive_error_string(a));
  archive_write_free(a);
  return ok;
}

fs::path MakeCloverReleaseArchive(const fs::path& where, const CloverIsoOptions& o) {
  const fs::path folder = fs::absolute(where);
  const std::string base = "Clover-" + o.rev + "-X64";
  const fs::path stage = folder / (".stage-" + base);
  fs::create_directories(stage);
  const fs::path iso = stage / (base + ".iso");
  const fs::path archive = folder / (base + ".iso.7z");
  fs::remove(archive);
  if (!WriteCloverIso(iso, o)) return {};
  const std::string command = "cd '" + stage.string() + "' && 7zz a -bd -mx1 '" + archive.string() +
                              "' '" + iso.filename().string() + "' >/dev/null";
  const int rc = std::system(command.c_str());
  fs::remove_all(stage);
  return rc == 0 ? archive : fs::path();
}

std::string Noise(size_t bytes, uint64_t seed) {
  std::string s(bytes, '\0');
  uint64_t x = seed | 1;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = static_cast<char>(x);
  }
  return s;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ServeStatus(int fd, int status, const std::string& extraHeaders) {
  const std::string out = "HTTP/1.1 " + std::to_string(status) +
                          " Status\r\nConnection: close\r\nContent-Length: 0\r\n" + extraHeaders +
                          "\r\n";
  TestServer::SendAll(fd, out.data(), out.size());
}

void ServeBody(int fd, const Request& req, const std::string& body, int64_t dropAfter,
               const std::string& contentType) {
  const int64_t size = static_cast<int64_t>(body.size());
  int64_t first = 0;
  int64_t last = size - 1;
  std::string head = "HTTP/1.1 200 OK\r\n";
  const std::string range = req.Header("range");
  if (range.rfind("bytes=", 0) == 0) {
    first = std::strtoll(range.c_str() + 6, nullptr, 10);
    const size_t dash = range.find('-');
    if (dash + 1 < range.size())
      last = std::min<int64_t>(last, std::strtoll(range.c_str() + dash + 1, nullptr, 10));
    if (first > last) {
      ServeStatus(fd, 416);
      return;
    }
    head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(last) + "/" + std::to_string(size) + "\r\n";
  }
  head += "Connection: close\r\nContent-Type: " + contentType +
          "\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\n\r\n";
  if (!TestServer::SendAll(fd, head.data(), head.size())) return;
  int64_t n = last - first + 1;
  if (dropAfter >= 0) n = std::min(n, dropAfter);
  TestServer::SendAll(fd, body.data() + first, static_cast<size_t>(std::max<int64_t>(n, 0)));
}

FakeCodeHost::FakeCodeHost()
    : signed_([this](int fd, const Request& req, int) { HandleSigned(fd, req); }),
      site_([this](int fd, const Request& req, int) { HandleSite(fd, req); }) {}

FakeCodeHost::~FakeCodeHost() {
  site_.Stop();
  signed_.Stop();
  if (!activated_) return;
  if (hadHost_) {
    ::setenv("FLASHWRIGHT_CODE_HOST", savedHost_.c_str(), 1);
  } else {
    ::unsetenv("FLASHWRIGHT_CODE_HOST");
  }
}

void FakeCodeHost::Activate() {
  if (!activated_) {
    const char* old = std::getenv("FLASHWRIGHT_CODE_HOST");
    hadHost_ = old != nullptr;
    if (old) savedHost_ = old;
    activated_ = true;
  }
  ::setenv("FLASHWRIGHT_CODE_HOST", Host().c_str(), 1);
}

std::string FakeCodeHost::Host() const {
  return "http://127.0.0.1:" + std::to_string(site_.port());
}

void FakeCodeHost::Set(std::string* field, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  *field = value;
}

void FakeCodeHost::SetFragment(const std::string& tag, const std::string& html) {
  std::lock_guard<std::mutex> lock(mutex_);
  fragments_[tag] = html;
}

void FakeCodeHost::SetTodaysPage(const std::vector<std::string>& tags,
                                 const std::vector<std::string>& revisions) {
  std::string page = "<html><body><div class=\"releases\">\n";
  for (const std::string& tag : tags) {
    page += "<section><h2>Clover " + tag + "</h2>\n<include-fragment loading=\"lazy\" src=\"" +
            Host() + kProject + "releases/expanded_assets/" + tag +
            "\"></include-fragment></section>\n";
    std::string fragment = "<ul>\n";
    if (std::find(revisions.begin(), revisions.end(), tag) != revisions.end()) {
      for (const std::string& asset : {"Clover_r" + tag + ".pkg", "Clover-" + tag + "-X64.iso.7z"})
        fragment += "<li><a href=\"" + std::string(kProject) + "releases/download/" + tag + "/" +
                    asset + "\">" + asset + "</a></li>\n";
    }
    fragment += "<li><a href=\"" + std::string(kProject) + "archive/refs/tags/" + tag +
                ".zip\">Source code (zip)</a></li>\n</ul>\n";
    SetFragment(tag, fragment);
  }
  SetPage(page + "</div></body></html>\n");
}

void FakeCodeHost::SetInlinePage(const std::vector<std::string>& revisions) {
  std::string page = "<html><body>\n";
  for (const std::string& rev : revisions)
    page += "<a href=\"" + std::string(kProject) + "releases/download/" + rev + "/Clover_r" + rev +
            ".pkg\" rel=\"nofollow\">Clover_r" + rev + ".pkg</a>\n";
  SetPage(page + "</body></html>\n");
}

void FakeCodeHost::SetArchive(const std::string& rev, std::string bytes, int64_t dropFirstAfter) {
  std::lock_guard<std::mutex> lock(mutex_);
  archives_["Clover-" + rev + "-X64.iso.7z"] = std::move(bytes);
  dropFirstAfter_ = dropFirstAfter;
}

int FakeCodeHost::RequestsFor(const std::string& pathEnd) {
  int n = 0;
  for (const Request& r : site_.Requests()) n += EndsWith(r.target, pathEnd) ? 1 : 0;
  return n;
}

void FakeCodeHost::HandleSite(int fd, const Request& req) {
  const std::string& t = req.target;
  std::unique_lock<std::mutex> lock(mutex_);
  if (t == std::string(kProject) + "releases/") {
    const std::string page = page_;
    lock.unlock();
    if (page.empty()) return ServeStatus(fd, 404);
    return ServeBody(fd, req, page, -1, "text/html; charset=utf-8");
  }
  const std::string fragmentPrefix = std::string(kProject) + "releases/expanded_assets/";
  if (t.rfind(fragmentPrefix, 0) == 0) {
    if (hangUpFragments_) return;
    auto it = fragments_.find(t.substr(fragmentPrefix.size()));
    if (it == fragments_.end()) {
      lock.unlock();
      return ServeStatus(fd, 404);
    }
    const std::string fragment = it->second;
    lock.unlock();
    return ServeBody(fd, req, fragment, -1, "text/html; charset=utf-8");
  }
  const std::string downloadPrefix = std::string(kProject) + "releases/download/";
  const size_t slash = t.rfind('/');
  if (t.rfind(downloadPrefix, 0) == 0 && archives_.count(t.substr(slash + 1))) {
    const int token = nextToken_++;
    lock.unlock();
    return ServeStatus(fd, 302,
                       "Location: http://localhost:" + std::to_string(signed_.port()) + "/signed/" +
                           std::to_string(token) + "/" + t.substr(slash + 1) + "\r\n");
  }
  lock.unlock();
  ServeStatus(fd, 404);
}

void FakeCodeHost::HandleSigned(int fd, const Request& req) {
  // /signed/<token>/<name>
  const std::string& t = req.target;
  const size_t a = t.find('/', 1);
  const size_t b = a == std::string::npos ? a : t.find('/', a + 1);
  if (t.rfind("/signed/", 0) != 0 || b == std::string::npos) return ServeStatus(fd, 404);
  const int token = std::atoi(t.substr(a + 1, b - a - 1).c_str());
  std::unique_lock<std::mutex> lock(mutex_);
  auto it = archives_.find(t.substr(b + 1));
  if (it == archives_.end()) {
    lock.unlock();
    return ServeStatus(fd, 404);
  }
  if (tokenUsed_[token]) {  // a signed address serves once: it has expired
    lock.unlock();
    return ServeStatus(fd, 403);
  }
  tokenUsed_[token] = true;
  const std::string bytes = it->second;
  const int64_t drop = token == 1 ? dropFirstAfter_ : -1;
  lock.unlock();
  const int drip = dripMs_;
  if (drip > 0) {
    // Slow: the answer trickles out in 64 KiB pieces.
    const int64_t stop = drop >= 0 ? drop : static_cast<int64_t>(bytes.size());
    std::string head =
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(bytes.size()) +
        "\r\n\r\n";
    if (!TestServer::SendAll(fd, head.data(), head.size())) return;
    for (int64_t pos = 0; pos < stop && !signed_.stopping(); pos += 65536) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(65536, stop - pos));
      if (!TestServer::SendAll(fd, bytes.data() + pos, n)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(drip));
    }
    return;
  }
  ServeBody(fd, req, bytes, drop);
}

}  // namespace fwtest
