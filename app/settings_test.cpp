#include "app/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/globals.h"
#include "app/log.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

std::string Ini(const std::string& data) { return "[Data Settings]\r\n" + data + "\r\n"; }

SettingsRecord Parse(const std::string& text) {
  SettingsRecord s;
  ParseSettingsText(text, s);
  return s;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fwset" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "prog");
    saved_ = Program();
    Program().folder = (dir_ / "prog").string() + "/";
    Program().baseName = "flashwright";
  }
  void TearDown() override {
    Program() = saved_;
    SetSettingsPath("");
    fs::remove_all(dir_);
  }
  fs::path dir_;
  ProgramPaths saved_;
};

TEST_F(SettingsTest, FlagsAndRangesFallBackToTheirDefaults) {
  EXPECT_EQ(Parse(Ini("LogEnable = 2")).LogEnable, 0);
  EXPECT_EQ(Parse(Ini("LogEnable = -1")).LogEnable, 0);
  EXPECT_EQ(Parse(Ini("QuickFormat = 5")).QuickFormat, 1);
  EXPECT_EQ(Parse(Ini("QuickFormat = 0")).QuickFormat, 0);
  EXPECT_EQ(Parse(Ini("BootPartitionSize = 31")).BootPartitionSize, 200);
  EXPECT_EQ(Parse(Ini("BootPartitionSize = 2000001")).BootPartitionSize, 200);
  EXPECT_EQ(Parse(Ini("BootPartitionSize = 32")).BootPartitionSize, 32);
  EXPECT_EQ(Parse(Ini("BootPartitionSize = 2000000")).BootPartitionSize, 2000000);
  EXPECT_EQ(
      Parse("[Download Settings]\r\nResumeMaxAttemptsNumber = -1\r\n").ResumeMaxAttemptsNumber,
      9999);
  EXPECT_EQ(
      Parse("[Download Settings]\r\nResumeMaxAttemptsNumber = 10000\r\n").ResumeMaxAttemptsNumber,
      9999);
  EXPECT_EQ(Parse("[Download Settings]\r\nResumeMaxAttemptsNumber = 5\r\n").ResumeMaxAttemptsNumber,
            5);
  EXPECT_EQ(Parse(Ini("ClusterSize = 4096")).ClusterSize, "0");
  EXPECT_EQ(Parse(Ini("StartLBASector = 2048")).StartLBASector, "2048");
  EXPECT_EQ(Parse(Ini("StartLBASector = 1000")).StartLBASector, "63");
  EXPECT_EQ(Parse(Ini("FileSystem = exFAT")).FileSystem, "exFAT");
  EXPECT_EQ(Parse(Ini("FileSystem = ext4")).FileSystem, "FAT32-LBA");
  EXPECT_EQ(Parse(Ini("Boot_records = FreeDos")).Boot_records, "FreeDos");
  EXPECT_EQ(Parse(Ini("Boot_records = grub")).Boot_records, "Clover");
  EXPECT_EQ(Parse(Ini("InstallDataSet = Local")).InstallDataSet, "Local");
  EXPECT_EQ(Parse(Ini("InstallDataSet = x")).InstallDataSet, "DL");
}

TEST_F(SettingsTest, CloverRevisionAndItsCheckDate) {
  SettingsRecord low = Parse(Ini("CloverLastRev = 905\r\nCloverLastRevCheckDate = 01.02.22 10:20"));
  EXPECT_EQ(low.CloverLastRev, "Check It!");
  EXPECT_EQ(low.CloverLastRevCheckDate, "00.00.00 00:00");
  SettingsRecord ok = Parse(Ini("CloverLastRev = 906\r\nCloverLastRevCheckDate = 01.02.22 10:20"));
  EXPECT_EQ(ok.CloverLastRev, "906");
  EXPECT_EQ(ok.CloverLastRevCheckDate, "01.02.22 10:20");
  SettingsRecord bad = Parse(Ini("CloverLastRev = 5151\r\nCloverLastRevCheckDate = yesterday"));
  EXPECT_EQ(bad.CloverLastRev, "Check It!");
  EXPECT_EQ(bad.CloverLastRevCheckDate, "00.00.00 00:00");
}

TEST_F(SettingsTest, ReaderIsCaseInsensitiveAndTrimsBlanks) {
  SettingsRecord s = Parse(
      "\xEF\xBB\xBF\n  [data settings]\n\tquickformat\t =\t 0 \n; LogEnable = 1\n"
      "VOLUMELABEL=  MY DISK\nEnableFixedDisks = 1xyz\nWinX = 7\n");
  EXPECT_EQ(s.QuickFormat, 0);
  EXPECT_EQ(s.LogEnable, 0);
  EXPECT_EQ(s.VolumeLabel, "MY DISK");
  EXPECT_EQ(s.EnableFixedDisks, 1);  // leading number of the text
  EXPECT_EQ(s.WinX, 400);            // WinX belongs to another group
}

TEST_F(SettingsTest, HostileInputLoadsWithDefaults) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131) & 0xFF);
  SettingsRecord b = Parse(binary);
  EXPECT_EQ(b.Boot_records, "Clover");
  SettingsRecord huge =
      Parse(Ini("VolumeLabel" + std::string(3 << 20, 'x') + "\r\nQuickFormat = 0"));
  EXPECT_EQ(huge.QuickFormat, 0);
  SettingsRecord big = Parse(
      "[Window Settings]\r\nWinX = 99999999999999999999999\r\n"
      "WinY = -9223372036854775808\r\n[Data Settings]\r\n"
      "BootPartitionSize = 18446744073709551616500\r\n"
      "QuickFormat = 0\r\nQuickFormat = 1\r\nnovalue\r\n");
  EXPECT_EQ(big.WinX, 400);
  EXPECT_EQ(big.WinY, INT64_MIN);
  EXPECT_EQ(big.BootPartitionSize, 200);
  EXPECT_EQ(big.QuickFormat, 0);  // the first of two equal keys counts
}

TEST_F(SettingsTest, ListsComeFromTheirGroupsInFileOrder) {
  SettingsRecord s = Parse(
      "[Download Data Settings]\r\nb = http://h/b\r\na = http://h/a\r\n"
      "[Sucatalog User Defined URL list]\r\ncat = http://h/c\r\n");
  ASSERT_EQ(s.DownloadData.size(), 2u);
  EXPECT_EQ(s.DownloadData[0], (std::pair<std::string, std::string>("b", "http://h/b")));
  ASSERT_EQ(s.UserSucatalogUrls.size(), 1u);
  EXPECT_EQ(s.SummarySucatalogUrls.size(), 1u);
  EXPECT_TRUE(Parse(Ini("")).DownloadData.empty());
}

TEST_F(SettingsTest, SaveThenLoadRoundTripsByteForByte) {
  const std::string path = (dir_ / "prog" / "flashwright.ini").string();
  SetSettingsPath(path);
  fs::create_directories(dir_ / "repo");
  {
    std::ofstream out(path, std::ios::binary);
    out << Ini("CloverLocalRepository = .\\\r\nZORImageLocalRepo = " + (dir_ / "repo").string() +
               "/\r\nCloverLastRev = 5151\r\nCloverLastRevCheckDate = 3.4.22 5:06\r\n"
               "LogEnable = 0\r\nVolumeLabel = CLOVER") +
               "[Download Data Settings]\r\nRec = http://h/x.dmg\r\n";
  }
  LoadSetting();
  EXPECT_EQ(Settings().CloverLocalRepository, Program().folder);
  SaveSetting();
  std::ifstream in(path, std::ios::binary);
  std::stringstream first;
  first << in.rdbuf();
  const std::string text = first.str();
  EXPECT_EQ(text.compare(0, 5, "\xEF\xBB\xBF\r\n"), 0);
  EXPECT_NE(text.find("\r\nCloverLocalRepository = .\\\r\n"), std::string::npos);
  EXPECT_NE(text.find("ZORImageLocalRepo = " + (dir_ / "repo").string() + "/\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("CloverLastRevCheckDate = 03.04.22 05:06\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nRec = http://h/x.dmg\r\n"), std::string::npos);
  EXPECT_NE(text.find("; " + std::string(78, '-') + "\r\n[Tools Data Settings]"),
            std::string::npos);
  EXPECT_EQ(text.find("\r\n\r\n", 2), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
  LoadSetting();
  EXPECT_EQ(SettingsFileText(), text);
}

TEST_F(SettingsTest, SaveIntoAFolderThatCannotHoldFilesIsSkipped) {
  // A regular file stands in the place of the folder: nothing can be created there, even by root.
  std::ofstream(dir_ / "notafolder") << "keep";
  SetSettingsPath((dir_ / "notafolder" / "flashwright.ini").string());
  SaveSetting();
  EXPECT_EQ(fs::file_size(dir_ / "notafolder"), 4u);
  EXPECT_FALSE(WriteIniLines((dir_ / "notafolder" / "x.ini").string(), {"a"}));
  // A save that does succeed leaves no sibling file behind.
  SetSettingsPath((dir_ / "prog" / "flashwright.ini").string());
  SaveSetting();
  EXPECT_TRUE(fs::exists(dir_ / "prog" / "flashwright.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "prog" / "flashwright.ini.new"));
}

TEST_F(SettingsTest, LoadAndSaveLogTheValuesAfterTheirRules) {
  const std::string path = (dir_ / "prog" / "flashwright.ini").string();
  std::ofstream(path, std::ios::binary)
      << Ini("LogEnable = 1\r\nQuickFormat = 7\r\nBootPartitionSize = 64") +
             "[Sucatalog User Defined URL list]\r\nmine = http://h/c\r\n"
             "[Download Settings]\r\nResumeMaxAttemptsNumber = 12\r\n"
             "[Download Data Settings]\r\nRec = http://h/x.dmg\r\n";
  SetSettingsPath(path);
  const std::string log = (dir_ / "log.txt").string();
  ASSERT_TRUE(OpenLog(log));
  LoadSetting();
  SaveSetting();
  CloseLog();
  std::ifstream in(log, std::ios::binary);
  std::vector<std::string> messages;
  for (std::string line; std::getline(in, line);) {
    for (const char* proc : {"(LoadSetting) LoadSetting: ", "(SaveSetting) SaveSetting: "}) {
      size_t at = line.find(proc);
      if (at != std::string::npos) messages.push_back(line.substr(at + 1));
    }
  }
  const std::string folder = Program().folder;
  const std::vector<std::string> expected = {
      "LoadSetting) LoadSetting: LogEnable=1\r",
      "LoadSetting) LoadSetting: CheckLatestCloverAtStartup=0\r",
      "LoadSetting) LoadSetting: SaveLatestCloverAfterDL=0\r",
      "LoadSetting) LoadSetting: CloverLocalRepository$=" + folder + "\r",
      "LoadSetting) LoadSetting: ZORImageLocalRepo$=" + folder + "\r",
      "LoadSetting) LoadSetting: QuickFormat=1\r",
      "LoadSetting) LoadSetting: MultiPartitions=1\r",
      "LoadSetting) LoadSetting: BootPartitionSize=64\r",
      "LoadSetting) LoadSetting: EnableFixedDisks=0\r",
      "LoadSetting) LoadSetting: SearchOnlyNewestRevRecoveryHD=1\r",
      "LoadSetting) LoadSetting: UseInternalSucatalogUrlList=1\r",
      "LoadSetting) LoadSetting: ShowSucatalogSummaryURLList=0\r",
      "LoadSetting) LoadSetting: mine: http://h/c\r",
      "LoadSetting) LoadSetting: iResumeMaxAttemptsNumber=12\r",
      "LoadSetting) LoadSetting: Rec: http://h/x.dmg\r",
      "SaveSetting) SaveSetting: mine: http://h/c\r",
      "SaveSetting) SaveSetting: Rec http://h/x.dmg\r",
  };
  EXPECT_EQ(messages, expected);
}

TEST_F(SettingsTest, MissingFoldersBecomeTheProgramFolder) {
  SettingsRecord s = Parse(Ini("CloverLocalRepository = /no/such/folder/"));
  EXPECT_EQ(s.CloverLocalRepository, Program().folder);
  EXPECT_EQ(Parse("").ZORImageLocalRepo, Program().folder);
}

TEST_F(SettingsTest, LocationIsBesideTheProgramOrInTheConfigFolder) {
  EXPECT_EQ(DefaultSettingsPath(), Program().folder + "flashwright.ini");
  // A folder we cannot write to (here: one that does not exist) sends the file to the config
  // folder, which is created.
  Program().folder = (dir_ / "missing").string() + "/";
  Program().baseName = "tool";
  setenv("XDG_CONFIG_HOME", (dir_ / "cfg").c_str(), 1);
  EXPECT_EQ(DefaultSettingsPath(), (dir_ / "cfg").string() + "/flashwright/tool.ini");
  EXPECT_TRUE(fs::is_directory(dir_ / "cfg" / "flashwright"));
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsTest, AnInstalledProgramKeepsSettingsAndRepositoriesInTheConfigFolder) {
  setenv("XDG_CONFIG_HOME", (dir_ / "cfg").c_str(), 1);
  const std::string config = (dir_ / "cfg").string() + "/flashwright/";
  // Writable for root, and still not a place for the settings or for downloads and images.
  for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/opt/flashwright/bin/"}) {
    Program().folder = folder;
    EXPECT_EQ(DefaultSettingsPath(), config + "flashwright.ini") << folder;
    const SettingsRecord s = Parse(Ini("CloverLocalRepository = .\\"));
    EXPECT_EQ(s.CloverLocalRepository, config) << folder;
    EXPECT_EQ(s.ZORImageLocalRepo, config) << folder;
  }
  // A copy unpacked or built anywhere else keeps the rule, even below a folder named usr.
  fs::create_directories(dir_ / "usr" / "bin");
  Program().folder = (dir_ / "usr" / "bin").string() + "/";
  EXPECT_EQ(DefaultSettingsPath(), Program().folder + "flashwright.ini");
  EXPECT_EQ(Parse("").ZORImageLocalRepo, Program().folder);
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsTest, RepositoriesOfAProgramInAReadOnlyFolderGoToTheConfigFolder) {
  setenv("XDG_CONFIG_HOME", (dir_ / "cfg").c_str(), 1);
  Program().folder = (dir_ / "missing").string() + "/";
  const std::string config = (dir_ / "cfg").string() + "/flashwright/";
  EXPECT_EQ(Parse("").CloverLocalRepository, config);
  EXPECT_EQ(Parse(Ini("ZORImageLocalRepo = /no/such/folder/")).ZORImageLocalRepo, config);
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace fw
