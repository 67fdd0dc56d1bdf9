// Fixtures of the Clover tests, made at test time: release ISOs (libarchive's ISO 9660 writer
// with an El Torito boot image, so that 7-Zip shows a "[BOOT]" folder), release archives packed
// with `7zz a`, and a code-hosting site on 127.0.0.1 that serves release pages in today's shape
// (asset names only in expanded-assets fragments) or the older one (names inline), and release
// downloads that redirect to signed one-time addresses on a second server.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/net/test_server.h"

namespace fwtest {

namespace fs = std::filesystem;

struct IsoFile {
  std::string name;  // path inside the ISO
  std::string data;
};

struct CloverIsoOptions {
  std::string rev = "5119";
  // Contents of usr/standalone/i386/x64/boot6; empty: a text naming the revision. The line
  // "Clover revision: <rev>" is appended when the contents do not hold it.
  std::string boot6;
  bool withBoot6 = true;
  std::vector<IsoFile> extra;  // more files of the tree
};

// The files of a release ISO (El Torito image included), as the ISO holds them.
std::vector<IsoFile> CloverIsoFiles(const CloverIsoOptions& options);
// The data-set tree a release ISO gives: the ISO's files without the El Torito image's "[BOOT]"
// view, plus boot6 and boot7 at the root and "boot" (a copy of boot6). Sorted relative paths.
std::vector<std::string> CloverDataSetTree(const CloverIsoOptions& options);
// Writes the ISO; false with a message on stderr when libarchive refuses.
bool WriteCloverIso(const fs::path& iso, const CloverIsoOptions& options);
// "Clover-<rev>-X64.iso.7z" in `folder`: the ISO packed with `7zz a`. Returns its path ("" on
// failure).
fs::path MakeCloverReleaseArchive(const fs::path& folder, const CloverIsoOptions& options);

// `bytes` of noise that does not compress (the same for the same seed).
std::string Noise(size_t bytes, uint64_t seed = 0x9E3779B97F4A7C15ull);

// The whole file as bytes.
std::string Slurp(const fs::path& path);

// Answers `req` with `body` (200, or 206 for a Range request); after `dropAfter` body bytes
// (>= 0) the connection is closed.
void ServeBody(int fd, const Request& req, const std::string& body, int64_t dropAfter = -1,
               const std::string& contentType = "application/octet-stream");
void ServeStatus(int fd, int status, const std::string& extraHeaders = "");

// The code-hosting site. Paths under /CloverHackyColor/CloverBootloader/:
//   releases/                        the release page (404 unless a page is set)
//   releases/expanded_assets/<tag>   the fragment of <tag> (404 when none)
//   releases/download/<rev>/<name>   302 to http://localhost:<other port>/signed/<n>/<name>,
//                                    served once per <n>; later uses of <n> get 403
class FakeCodeHost {
 public:
  FakeCodeHost();
  ~FakeCodeHost();

  // Sets FLASHWRIGHT_CODE_HOST to this site (restored by the destructor).
  void Activate();
  std::string Host() const;  // "http://127.0.0.1:<port>"

  // A page in today's shape links one fragment per tag; each fragment names "Clover_r<tag>.pkg"
  // (and the release archive) when the tag is in `revisions`, else only other assets.
  void SetTodaysPage(const std::vector<std::string>& tags,
                     const std::vector<std::string>& revisions);
  // The older shape: every name in the page itself.
  void SetInlinePage(const std::vector<std::string>& revisions);
  void SetPage(const std::string& html) { Set(&page_, html); }
  void SetFragment(const std::string& tag, const std::string& html);
  // The release archive offered for download; the first `dropFirstAfter` bytes of the first
  // signed download are sent, then the connection breaks (-1: never).
  void SetArchive(const std::string& rev, std::string bytes, int64_t dropFirstAfter = -1);
  // Fragment requests are hung up on without an answer.
  void SetFragmentsHangUp(bool on) { hangUpFragments_ = on; }
  // Downloads answer after waiting this long per 64 KiB.
  void SetDownloadDripMs(int ms) { dripMs_ = ms; }

  std::vector<Request> SiteRequests() { return site_.Requests(); }
  std::vector<Request> SignedRequests() { return signed_.Requests(); }
  int RequestsFor(const std::string& pathEnd);  // site requests whose target ends so

 private:
  void Set(std::string* field, const std::string& value);
  void HandleSite(int fd, const Request& req);
  void HandleSigned(int fd, const Request& req);

  std::mutex mutex_;
  std::string page_;
  std::map<std::string, std::string> fragments_;
  std::map<std::string, std::string> archives_;  // file name -> bytes
  int64_t dropFirstAfter_ = -1;
  std::atomic<int> dripMs_{0};
  std::atomic<bool> hangUpFragments_{false};
  int nextToken_ = 1;
  std::map<int, bool> tokenUsed_;
  std::string savedHost_;
  bool hadHost_ = false;
  bool activated_ = false;
  TestServer signed_;
  TestServer site_;
};

}  // namespace fwtest
