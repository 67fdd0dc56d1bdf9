#include "tests/hfs/hfs_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/clock.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/work_folder.h"

namespace fwtest {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

HfsScratch::HfsScratch() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root = fs::temp_directory_path() / (std::string("fw_hfs_") + info->name());
  fs::remove_all(root);
  repo = root / "repo";
  fs::create_directories(repo);
  ::setenv("TMPDIR", root.c_str(), 1);  // the work folder lands here too
  fw::SetSettingsPath((root / "flashwright.ini").string());
  fw::Settings() = fw::SettingsRecord{};
  fw::Settings().ZORImageLocalRepo = repo.string() + "/";
  fw::SetPausesEnabled(false);
  fw::SetUi(&ui);
}

HfsScratch::~HfsScratch() {
  fw::SetUi(nullptr);
  fw::RemoveTempWorkDir();
  fw::SetSettingsPath("");
  ::unsetenv("TMPDIR");
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace fwtest

#include "tests/hfs/hfsplus_writer.h"
#include "tests/hfs/udif_writer.h"
#include "tests/hfs/xar_writer.h"

namespace fwtest {
namespace {

std::string MetaVolume(const std::string& hfs, bool apfs) {
  const std::string base = apfs ? MakeApfsDmg(hfs) : MakeHfsDmg(hfs);
  return MakeHfsPlusVolume("Recovery HD",
                           {{"BaseSystem.chunklist", "chunks"}, {"BaseSystem.dmg", base}});
}

}  // namespace

std::string RecoveryHDPackage(const std::string& hfs, bool apfs) {
  return MakeXar({{"Distribution", "<installer-gui-script/>"},
                  {"RecoveryHDUpdate.pkg/Bom", "bom"},
                  {"RecoveryHDUpdate.pkg/RecoveryHDMeta.dmg", MakeHfsDmg(MetaVolume(hfs, apfs))}});
}

std::string RecoveryHDMetaDmgPackage(const std::string& hfs) {
  UdifOptions options;
  options.prefix = MakeXar({{"Bom", "bom"}});
  return MakeHfsDmg(MetaVolume(hfs, false), options);
}

}  // namespace fwtest
