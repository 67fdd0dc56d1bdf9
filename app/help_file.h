// Where the program's HTML manual lives. An installed program finds it in
// <prefix>/share/doc/flashwright/ beside <prefix>/bin; a program run from its build folder finds
// the copy that the build puts into <build>/docs/.
#pragma once

#include <string>
#include <vector>

namespace fw {

// The manual's file name, in every place it is looked for.
inline constexpr const char* kHelpFileName = "manual.html";

// The places looked at, in order, for a program in `programFolder` (ending in "/"); each path is
// lexically normal (no "..").
std::vector<std::string> HelpFileCandidates(const std::string& programFolder);

// The first candidate that exists as a file, "" when there is none.
std::string FindHelpFile(const std::string& programFolder);

}  // namespace fw
