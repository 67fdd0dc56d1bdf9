#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/models/dispatcher.h"
#include "app/models/fake_front_end_test.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"

namespace fw {
namespace {

using namespace cfg_ctl;
using testing::FakeFrontEnd;
constexpr int W = kConfigWindow;

class ConfigWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    CloverDLRev() = "0";
    TheJobs().SaveSetting = [this] { ++saves; };
  }
  void TearDown() override { TheJobs() = Jobs{}; }

  void Open() { d.Handle({kMainWindow, UiEventKind::Menu, menu_item::kConfiguration}); }
  void Use(int control) { d.Handle({W, UiEventKind::Control, control}); }
  void Choose(int list, int index) {
    ui.SelectComboItem(W, list, index);
    Use(list);
  }
  void Type(int field, const std::string& text) {
    ui.SetControlText(W, field, text);
    Use(field);
  }
  void Check(int box, bool on) {
    ui.SetChecked(W, box, on);
    Use(box);
  }

  FakeFrontEnd ui;
  Dispatcher d;
  int saves = 0;
};

TEST_F(ConfigWindowTest, OpeningShowsTheSettings) {
  SettingsRecord& s = Settings();
  s.InstallDataSet = "Local";
  s.Boot_records = "Windows";
  s.FileSystem = "exFAT";
  s.StartLBASector = "4096";
  s.VolumeLabel = "MYLABEL";
  s.MultiPartitions = 0;
  s.BootPartitionSize = 300;
  s.EnableFixedDisks = 1;
  s.CheckLatestCloverAtStartup = 1;
  s.CloverLastRev = "5150";
  s.CloverLastRevCheckDate = "01.12.2026";
  int refreshArg = 0;
  TheJobs().RefreshCloverLocalDistrList = [&](int a) { refreshArg = a; };
  Open();
  EXPECT_TRUE(ui.open[W]);
  EXPECT_FALSE(ui.windowEnabled[kMainWindow]);
  EXPECT_TRUE(ui.IsChecked(W, kSourceLocal));
  EXPECT_FALSE(ui.Enabled(W, kRevisionList));
  EXPECT_TRUE(ui.Enabled(W, kLocalDistrList));
  EXPECT_TRUE(ui.IsChecked(W, kBootWindows));
  EXPECT_EQ(ui.Selected(W, kFileSystemList), "exFAT");
  EXPECT_EQ(ui.Selected(W, kClusterList), "Default");
  EXPECT_EQ(ui.Selected(W, kAlignList), "4096");
  EXPECT_EQ(ui.ControlText(W, kVolumeLabel), "MYLABEL");
  EXPECT_EQ(ui.ControlText(W, kPartitionSize), "300");
  EXPECT_EQ(ui.ControlText(W, kCheckDate), "01.12.2026");
  EXPECT_FALSE(ui.IsChecked(W, kMultiPartitions));
  EXPECT_FALSE(ui.Enabled(W, kPartitionSize));
  EXPECT_TRUE(ui.Enabled(W, kFileSystemList));
  EXPECT_TRUE(ui.IsChecked(W, kFixedDisks));
  EXPECT_TRUE(ui.IsChecked(W, kCheckAtStartup));
  EXPECT_FALSE(ui.IsChecked(W, kMakeDistr));
  EXPECT_EQ(refreshArg, -65535);
  ASSERT_FALSE(ui.dropWidthSet.empty());
  EXPECT_EQ(ui.dropWidthSet.back(), (FakeFrontEnd::Key{W, kLocalDistrList}));
}

TEST_F(ConfigWindowTest, UnknownTextsFallBackToTheDefaults) {
  Settings().FileSystem = "ReiserFS";
  Settings().StartLBASector = "777";
  Settings().CloverLastRev = "Check It!";
  Settings().CloverLastRevCheckDate = "01.01.2020";
  Open();
  EXPECT_EQ(ui.Selected(W, kFileSystemList), "FAT32-LBA");
  EXPECT_EQ(ui.Selected(W, kAlignList), "63");
  EXPECT_EQ(ui.ControlText(W, kCheckDate), "Check It!");
  EXPECT_TRUE(ui.IsChecked(W, kSourceDl));  // the default data-set source
  EXPECT_TRUE(ui.IsChecked(W, kBootClover));
}

TEST_F(ConfigWindowTest, NotFormatDisablesEveryFormatOptionOnOpen) {
  Settings().Boot_records = "Not_Format";
  Settings().MultiPartitions = 1;
  Open();
  for (int c : {kVolumeLabel, kFileSystemList, kClusterList, kAlignList, kMultiPartitions,
                kPartitionSize}) {
    EXPECT_FALSE(ui.Enabled(W, c)) << c;
  }
  // Choosing a boot record brings them back, field 77 only with its check box.
  Use(kBootFreeDos);
  EXPECT_EQ(Settings().Boot_records, "FreeDos");
  for (int c : {kVolumeLabel, kFileSystemList, kClusterList, kAlignList, kMultiPartitions,
                kPartitionSize}) {
    EXPECT_TRUE(ui.Enabled(W, c)) << c;
  }
  Check(kMultiPartitions, false);
  EXPECT_EQ(Settings().MultiPartitions, 0);
  EXPECT_FALSE(ui.Enabled(W, kPartitionSize));
  Use(kBootClover);
  EXPECT_FALSE(ui.Enabled(W, kPartitionSize));
  Use(kBootNone);
  EXPECT_EQ(Settings().Boot_records, "Not_Format");
  EXPECT_FALSE(ui.Enabled(W, kMultiPartitions));
}

TEST_F(ConfigWindowTest, DataSetSourceRulesFollowTheListsContents) {
  int localCount = 0;
  std::vector<int> revisions;
  TheJobs().LocalDistrCount = [&] { return localCount; };
  TheJobs().KnownCloverRevisions = [&] { return revisions; };
  Open();
  EXPECT_FALSE(ui.Enabled(W, kRevisionList));  // "DL" but no revision known yet
  Use(kSourceLocal);
  EXPECT_EQ(Settings().InstallDataSet, "Local");
  EXPECT_FALSE(ui.Enabled(W, kLocalDistrList));
  EXPECT_FALSE(ui.Enabled(W, kLocalDistrRev));
  localCount = 2;
  Use(kSourceLocal);
  EXPECT_TRUE(ui.Enabled(W, kLocalDistrList));
  EXPECT_TRUE(ui.Enabled(W, kLocalDistrRev));
  EXPECT_FALSE(ui.Enabled(W, kRevisionList));
  revisions = {5151, 5150};
  Use(kSourceDl);
  EXPECT_EQ(Settings().InstallDataSet, "DL");
  EXPECT_TRUE(ui.Enabled(W, kRevisionList));
  EXPECT_FALSE(ui.Enabled(W, kLocalDistrList));
  Use(kSourceNone);
  EXPECT_EQ(Settings().InstallDataSet, "Not_Install");
  EXPECT_FALSE(ui.Enabled(W, kRevisionList));
  EXPECT_FALSE(ui.Enabled(W, kLocalDistrList));
}

TEST_F(ConfigWindowTest, RevisionListIsFilledAndItsChoiceRemembered) {
  TheJobs().KnownCloverRevisions = [] { return std::vector<int>{5151, 5150}; };
  Open();
  EXPECT_EQ((ui.combo[{W, kRevisionList}]), (std::vector<std::string>{"5151", "5150"}));
  EXPECT_EQ(ui.Selected(W, kRevisionList), "5151");
  EXPECT_TRUE(ui.Enabled(W, kRevisionList));
  EXPECT_EQ(CloverDLRev(), "0");
  Choose(kRevisionList, 1);
  EXPECT_EQ(CloverDLRev(), "5150");
}

TEST_F(ConfigWindowTest, CaptionItemsSnapBackToAValue) {
  Open();
  Choose(kFileSystemList, 3);
  EXPECT_EQ(Settings().FileSystem, "NTFS");
  Choose(kFileSystemList, 0);
  EXPECT_EQ(ui.Selected(W, kFileSystemList), "FAT32-LBA");
  EXPECT_EQ(Settings().FileSystem, "FAT32-LBA");

  Choose(kClusterList, 0);
  EXPECT_EQ(ui.Selected(W, kClusterList), "Default");
  EXPECT_EQ(Settings().ClusterSize, "0");

  Choose(kAlignList, 2);
  EXPECT_EQ(Settings().StartLBASector, "2048");
  Choose(kAlignList, 0);
  EXPECT_EQ(ui.Selected(W, kAlignList), "63");
  // The caption text never becomes the alignment.
  EXPECT_EQ(Settings().StartLBASector, "63");
}

TEST_F(ConfigWindowTest, PartitionSizeOutsideItsRangeBecomes64) {
  Open();
  const struct {
    const char* typed;
    int64_t stored;
  } cases[] = {{"20", 64},      {"32", 32}, {"200000", 200000}, {"2000000", 2000000},
               {"2000001", 64}, {"", 64},   {"31", 64},         {"99999999999999999999999", 64}};
  for (const auto& c : cases) {
    Type(kPartitionSize, c.typed);
    EXPECT_EQ(Settings().BootPartitionSize, c.stored) << c.typed;
  }
}

TEST_F(ConfigWindowTest, FieldsAndCheckBoxesChangeTheSettings) {
  int updates = 0;
  TheJobs().UpdateAllDrives = [&] { ++updates; };
  Open();
  Type(kVolumeLabel, "CLOVERBOOTDISK");
  EXPECT_EQ(Settings().VolumeLabel, "CLOVERBOOTD");  // at most 11 characters
  Check(kCheckAtStartup, true);
  EXPECT_EQ(Settings().CheckLatestCloverAtStartup, 1);
  Check(kMakeDistr, true);
  EXPECT_EQ(Settings().SaveLatestCloverAfterDL, 1);
  Check(kMakeDistr, false);
  EXPECT_EQ(Settings().SaveLatestCloverAfterDL, 0);
  Check(kFixedDisks, true);
  EXPECT_EQ(Settings().EnableFixedDisks, 1);
  EXPECT_EQ(updates, 1);  // fixed disks appear or vanish at once
  Check(kMultiPartitions, true);
  EXPECT_EQ(Settings().MultiPartitions, 1);
  EXPECT_TRUE(ui.Enabled(W, kPartitionSize));
}

TEST_F(ConfigWindowTest, FolderChoosersTakeOnlyExistingFolders) {
  int refreshes = 0;
  TheJobs().StartRefreshCloverLocalDistrList = [&](int a) {
    EXPECT_EQ(a, -65535);
    ++refreshes;
  };
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  Settings().CloverLocalRepository = "/old/";
  Open();
  ui.answers = {"/no/such/folder"};
  Use(kCloverRepo);
  EXPECT_EQ(Settings().CloverLocalRepository, "/old/");
  EXPECT_EQ(ui.folderStart, "/old/");
  ui.answers = {""};
  Use(kCloverRepo);
  EXPECT_EQ(refreshes, 0);
  ui.answers = {dir.string()};
  Use(kCloverRepo);
  EXPECT_EQ(Settings().CloverLocalRepository, dir.string() + "/");
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(ui.chooserTitles.back(), "Select Clover Local Repository Path:");

  ui.answers = {dir.string()};
  Use(kImageRepo);
  EXPECT_EQ(Settings().ZORImageLocalRepo, dir.string() + "/");
  EXPECT_EQ(ui.chooserTitles.back(), "Select ZORImage files Local Repository Path:");
}

TEST_F(ConfigWindowTest, OkAndCloseBoxSaveAndReenableTheMainWindow) {
  Open();
  Use(kOk);
  EXPECT_FALSE(ui.open[W]);
  EXPECT_TRUE(ui.windowEnabled[kMainWindow]);
  EXPECT_EQ(ui.active, kMainWindow);
  EXPECT_EQ(saves, 1);
  Open();
  d.Handle({W, UiEventKind::Close, 0});
  EXPECT_FALSE(ui.open[W]);
  EXPECT_TRUE(ui.windowEnabled[kMainWindow]);
  EXPECT_EQ(saves, 2);
  EXPECT_FALSE(d.QuitRequested());
}

}  // namespace
}  // namespace fw
