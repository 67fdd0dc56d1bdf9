// The Clover project's addresses on its code-hosting site. The site (scheme and host, default
// https://github.com) comes from the environment variable FLASHWRIGHT_CODE_HOST when it is set,
// so that a user can use a mirror and tests can serve 127.0.0.1; the paths are the project's.
#pragma once

#include <string>

namespace fw {

inline constexpr const char* kCodeHostVariable = "FLASHWRIGHT_CODE_HOST";
inline constexpr const char* kDefaultCodeHost = "https://github.com";
// The project's path on the site.
inline constexpr const char* kCloverProjectPath = "/CloverHackyColor/CloverBootloader";

// "https://github.com", or the variable's value without trailing "/" (read at every call).
std::string CodeHost();

// CodeHost() + the project path + ...
std::string CloverProjectUrl();   // the project page
std::string CloverCommitsUrl();   // "/commits/master"
std::string CloverReleasesUrl();  // "/releases/" (the release page of the revision check)
// "/releases/expanded_assets/" + tag: the fragment that lists one release's assets.
std::string CloverExpandedAssetsUrl(const std::string& tag);
// "/releases/download/" + rev + "/Clover-" + rev + "-X64.iso.7z"
std::string CloverReleaseArchiveUrl(const std::string& rev);
// "Clover-" + rev + "-X64.iso.7z", the standard name of a release archive.
std::string CloverReleaseArchiveName(const std::string& rev);

}  // namespace fw
