// Test fixture: XAR archives (the ".pkg" installer packages) written with libarchive's XAR writer.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fwtest {

// path -> contents (a path may name folders, "RecoveryHDUpdate.pkg/RecoveryHDMeta.dmg").
std::string MakeXar(const std::vector<std::pair<std::string, std::string>>& files);

}  // namespace fwtest
