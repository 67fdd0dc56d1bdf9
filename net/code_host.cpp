#include "net/code_host.h"

#include <cstdlib>

namespace fw {

std::string CodeHost() {
  const char* value = std::getenv(kCodeHostVariable);
  std::string host = value != nullptr && *value != '\0' ? value : kDefaultCodeHost;
  while (!host.empty() && host.back() == '/') host.pop_back();
  return host;
}

std::string CloverProjectUrl() { return CodeHost() + kCloverProjectPath; }
std::string CloverCommitsUrl() { return CloverProjectUrl() + "/commits/master"; }
std::string CloverReleasesUrl() { return CloverProjectUrl() + "/releases/"; }

std::string CloverExpandedAssetsUrl(const std::string& tag) {
  return CloverProjectUrl() + "/releases/expanded_assets/" + tag;
}

std::string CloverReleaseArchiveName(const std::string& rev) {
  return "Clover-" + rev + "-X64.iso.7z";
}

std::string CloverReleaseArchiveUrl(const std::string& rev) {
  return CloverProjectUrl() + "/releases/download/" + rev + "/" + CloverReleaseArchiveName(rev);
}

}  // namespace fw
