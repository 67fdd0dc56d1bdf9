// flashwright-cli's macOS image commands, run as the user runs them: extract-hfs on DMG files made
// here, recovery-list --update against catalogs served on 127.0.0.1 (FLASHWRIGHT_CATALOG_HOST),
// and recovery-get in a later process that still checks the catalog's size through the cache.
#include <gtest/gtest.h>

#include <cstdlib>

#include "net/catalog_test_support.h"
#include "net/file_digest.h"
#include "platform/process.h"
#include "tests/hfs/hfs_test_support.h"
#include "tests/hfs/udif_writer.h"

namespace fwtest {
namespace {

struct CliRun {
  int status = -1;
  std::string output;
};

class HfsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           (std::string("fw_hfs_cli_") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
    fs::create_directories(dir_ / "tmp");
    ::setenv("FLASHWRIGHT_CATALOG_HOST", web_.Root().c_str(), 1);
    // Every run clears the earlier work folders of its temporary folder: the CLI runs get one of
    // their own, away from other programs' runs.
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("FLASHWRIGHT_CATALOG_HOST");
    ::unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }
  CliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(),
                {FW_CLI_PATH, "--settings", (dir_ / "fw.ini").string(), "--no-pauses"});
    fw::ProcessOptions options;
    options.workingDir = dir_.string();
    const fw::ProcessResult r = fw::RunProcess(args, options);
    return {r.exitCode, r.output};
  }
  fs::path dir_;
  DocumentServer web_;
};

TEST_F(HfsCliTest, ExtractHfsWritesTheImagesAndSaysWhere) {
  const std::string hfs = HfsPartitionBytes(1500, 3);
  WriteAll(dir_ / "x.dmg", MakeHfsDmg(hfs));
  CliRun run = Cli({"extract-hfs", "x.dmg", "--output", (dir_ / "out").string()});
  ASSERT_EQ(run.status, 0) << run.output;
  const fs::path image = dir_ / "out" / "4.hfs";
  EXPECT_NE(run.output.find(image.string() + "\n"), std::string::npos) << run.output;
  EXPECT_EQ(ReadAll(image), hfs);

  WriteAll(dir_ / "apfs.dmg", MakeApfsDmg(hfs));
  run = Cli({"extract-hfs", "apfs.dmg", "--output", (dir_ / "out").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Can't open \"apfs.dmg\"\r\nas DMG archive."), std::string::npos)
      << run.output;
  EXPECT_EQ(Cli({"extract-hfs", "x.dmg"}).status, 2);
  EXPECT_EQ(Cli({"extract-hfs", "missing.dmg", "--output", "out"}).status, 1);
}

TEST_F(HfsCliTest, RecoveryListThenGetInAnotherRun) {
  const std::string hfs = HfsPartitionBytes(1200, 8);
  const std::string package = RecoveryHDPackage(hfs);
  web_.Put("/pkg/031-1-A/RecoveryHDUpdate.pkg", {package});
  web_.Put("/pkg/031-2-A/RecoveryHDUpdate.pkg", {package});
  web_.Put("/pkg/031-1-A/RecoveryHDUpdate.pkm", {PkmXml("com.apple.pkg.RecoveryHDUpdate.18G103")});
  web_.Put("/pkg/031-2-A/RecoveryHDUpdate.pkm", {PkmXml("com.apple.pkg.RecoveryHDUpdate.17G66")});
  fw::Digest sha1(fw::DigestKind::Sha1);
  sha1.Update(package.data(), package.size());
  const std::string digest = sha1.FinalHex();
  std::string path = "/content/catalogs/others/index";
  for (int v = 13; v >= 9; --v) path += "-10." + std::to_string(v);
  web_.Put(path + "-mountainlion-lion-snowleopard-leopard.merged-1.sucatalog",
           {CatalogXml({{"031-1",
                         "2019-10-01T10:00:00Z",
                         "",
                         {{web_.Url("/pkg/031-1-A/RecoveryHDUpdate.pkg"),
                           std::to_string(package.size()), digest, ""}}},
                        // The catalog says this one is longer than what the server sends.
                        {"031-2",
                         "2018-09-01T10:00:00Z",
                         "",
                         {{web_.Url("/pkg/031-2-A/RecoveryHDUpdate.pkg"),
                           std::to_string(package.size() + 10), "", ""}}}})});

  CliRun run = Cli({"recovery-list", "--update"});
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string high = "(17G66) High Sierra 2018-09-01 ";
  const std::string mojave = "(18G103) Mojave 2019-10-01 ";
  EXPECT_NE(run.output.find("1. " + high), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("2. " + mojave), std::string::npos) << run.output;
  run = Cli({"recovery-list"});  // from the settings file
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("2. " + mojave), std::string::npos) << run.output;

  run = Cli({"recovery-get", "2", "--output", (dir_ / "out").string()});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Summary Information:"), std::string::npos) << run.output;
  EXPECT_EQ(ReadAll(dir_ / "out" / "4.hfs"), hfs);

  run = Cli({"recovery-get", "1", "--output", (dir_ / "out").string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("Error writing to the file "), std::string::npos) << run.output;
  EXPECT_EQ(Cli({"recovery-get", "3"}).status, 1);
  // 2^32 + 2 is no entry, though it wraps to 2 in an int.
  run = Cli({"recovery-get", "4294967298", "--output", (dir_ / "out").string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("no Recovery HD entry 4294967298"), std::string::npos) << run.output;
  EXPECT_EQ(Cli({"recovery-get"}).status, 2);
}

}  // namespace
}  // namespace fwtest
