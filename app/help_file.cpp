#include "app/help_file.h"

#include <filesystem>

namespace fw {

std::vector<std::string> HelpFileCandidates(const std::string& programFolder) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(programFolder.empty() ? "./" : programFolder);
  std::vector<std::string> out;
  for (const fs::path& relative : {fs::path("../share/doc/flashwright"), fs::path("../docs")})
    out.push_back((folder / relative / kHelpFileName).lexically_normal().string());
  return out;
}

std::string FindHelpFile(const std::string& programFolder) {
  std::error_code ec;
  for (const std::string& path : HelpFileCandidates(programFolder))
    if (std::filesystem::is_regular_file(path, ec)) return path;
  return "";
}

}  // namespace fw
