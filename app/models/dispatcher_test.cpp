#include "app/models/dispatcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/models/fake_front_end_test.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "net/code_host.h"

namespace fw {
namespace {

using testing::FakeFrontEnd;

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    format_op_in_progress = 0;
    CancelMainThread = 0;
    FormatStatus = 0;
    // Every job records its start.
    Jobs& j = TheJobs();
    j.StartFormat = [this](int a) { calls.push_back("format " + std::to_string(a)); };
    j.StartBackUp = [this](int a) { calls.push_back("backup " + std::to_string(a)); };
    j.StartRecover = [this](int a) { calls.push_back("recover " + std::to_string(a)); };
    j.StartExtractHFSFromDMG = [this](int a) { calls.push_back("extract " + std::to_string(a)); };
    j.InstallHFSDrivers = [this] { calls.push_back("install"); };
    j.UnInstallHFSDrivers = [this] { calls.push_back("uninstall"); };
    j.UpdateAllDrives = [this] { calls.push_back("update"); };
    j.RemoveSelectedDrive = [this] { calls.push_back("eject"); };
    j.OpenDownloadCenter = [this] { calls.push_back("dlcenter"); };
    j.SetCurrentDisk = [this](int row) { calls.push_back("select " + std::to_string(row)); };
  }
  void TearDown() override {
    TheJobs() = Jobs{};
    format_op_in_progress = 0;
    CancelMainThread = 0;
    FormatStatus = 0;
  }

  void Control(int n, int window = kMainWindow) { d.Handle({window, UiEventKind::Control, n}); }
  void MenuItem(int n) { d.Handle({kMainWindow, UiEventKind::Menu, n}); }

  FakeFrontEnd ui;
  Dispatcher d;
  std::vector<std::string> calls;
};

// Every row of the command table that starts something, idle and busy.
TEST_F(DispatcherTest, CommandsStartTheirJobsOnlyWhenIdle) {
  struct Row {
    UiEventKind kind;
    int number;
    std::vector<std::string> idle;
  };
  const std::vector<Row> rows = {
      {UiEventKind::Control, main_ctl::kBackup, {"backup 1"}},
      {UiEventKind::Control, main_ctl::kRestore, {"recover 1"}},
      {UiEventKind::Control, main_ctl::kEject, {"eject", "update"}},
      {UiEventKind::Control, main_ctl::kDlCenter, {"dlcenter"}},
      {UiEventKind::Menu, menu_item::kInstallHfs, {"install"}},
      {UiEventKind::Menu, menu_item::kUnInstallHfs, {"uninstall"}},
      {UiEventKind::Menu, menu_item::kExtractHfs, {"extract 0"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.number);
    calls.clear();
    format_op_in_progress = 1;
    d.Handle({kMainWindow, row.kind, row.number});
    EXPECT_TRUE(calls.empty());
    format_op_in_progress = 0;
    d.Handle({kMainWindow, row.kind, row.number});
    EXPECT_EQ(calls, row.idle);
  }
  EXPECT_FALSE(d.QuitRequested());
  EXPECT_EQ(CancelMainThread.load(), 0);
}

TEST_F(DispatcherTest, FormatArgumentFollowsBootRecordsAndDataSet) {
  struct Case {
    const char* boot;
    const char* dataSet;
    int argument;
  };
  const Case cases[] = {
      {"Clover", "DL", 1},     {"Clover", "Local", 1},           {"Clover", "Not_Install", 0},
      {"Not_Format", "DL", 1}, {"Not_Format", "Not_Install", 0}, {"FreeDos", "Not_Install", 1},
      {"Windows", "DL", 0},    {"Windows", "Not_Install", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.boot) + "/" + c.dataSet);
    calls.clear();
    Settings().Boot_records = c.boot;
    Settings().InstallDataSet = c.dataSet;
    Control(main_ctl::kFormat);
    EXPECT_EQ(calls, std::vector<std::string>{"format " + std::to_string(c.argument)});
  }
}

TEST_F(DispatcherTest, FormatDuringAJobCancelsInsteadOfStartingASecond) {
  format_op_in_progress = 1;
  Control(main_ctl::kFormat);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(FormatStatus.load(), 1);
  EXPECT_EQ(CancelMainThread.load(), 1);
}

TEST_F(DispatcherTest, DlCenterCancelsOnlyWhileItReadsCancelDl) {
  format_op_in_progress = 1;
  ui.SetControlText(kMainWindow, main_ctl::kDlCenter, "DL Center");
  Control(main_ctl::kDlCenter);
  EXPECT_EQ(CancelMainThread.load(), 0);
  ui.SetControlText(kMainWindow, main_ctl::kDlCenter, "Cancel DL");
  Control(main_ctl::kDlCenter);
  EXPECT_EQ(CancelMainThread.load(), 1);
  EXPECT_EQ(FormatStatus.load(), 0);
  EXPECT_TRUE(calls.empty());
}

TEST_F(DispatcherTest, BackupAndRestoreButtonsCancelOnlyTheirOwnJob) {
  format_op_in_progress = 1;
  // Another job runs: the buttons keep their idle texts and do nothing.
  ui.SetControlText(kMainWindow, main_ctl::kBackup, "Backup");
  ui.SetControlText(kMainWindow, main_ctl::kRestore, "Restore");
  Control(main_ctl::kBackup);
  Control(main_ctl::kRestore);
  EXPECT_EQ(CancelMainThread.load(), 0);
  ui.SetControlText(kMainWindow, main_ctl::kBackup, "Backup Cancel");
  Control(main_ctl::kBackup);
  EXPECT_EQ(CancelMainThread.load(), 1);
  CancelMainThread = 0;
  ui.SetControlText(kMainWindow, main_ctl::kRestore, "Restore Cancel");
  Control(main_ctl::kRestore);
  EXPECT_EQ(CancelMainThread.load(), 1);
  EXPECT_EQ(FormatStatus.load(), 0);
  EXPECT_TRUE(calls.empty());
}

TEST_F(DispatcherTest, ExitQuitAndCloseAreRefusedWhileBusy) {
  format_op_in_progress = 1;
  Control(main_ctl::kExit);
  MenuItem(menu_item::kQuit);
  d.Handle({kMainWindow, UiEventKind::Close, 0});
  EXPECT_FALSE(d.QuitRequested());
  // The close box says why it did nothing.
  EXPECT_NE(ui.statusText.find("job is running"), std::string::npos);

  format_op_in_progress = 0;
  Dispatcher exitPressed, quitChosen, closed;
  exitPressed.Handle({kMainWindow, UiEventKind::Control, main_ctl::kExit});
  quitChosen.Handle({kMainWindow, UiEventKind::Menu, menu_item::kQuit});
  closed.Handle({kMainWindow, UiEventKind::Close, 0});
  EXPECT_TRUE(exitPressed.QuitRequested());
  EXPECT_TRUE(quitChosen.QuitRequested());
  EXPECT_TRUE(closed.QuitRequested());
}

TEST_F(DispatcherTest, RefreshRebuildsTheTreeFromTheInventory) {
  // The inventory keeps the selected disk; the tree is redrawn from it, with its selection.
  ui.driveRow = 2;
  Control(main_ctl::kRefresh);
  EXPECT_EQ(calls, std::vector<std::string>{"update"});
  EXPECT_EQ(ui.treeRedraws, 1);

  calls.clear();
  format_op_in_progress = 1;
  Control(main_ctl::kRefresh);
  EXPECT_TRUE(calls.empty());
  // A device change refreshes even during a job: the tree must show what is there.
  d.Handle({kMainWindow, UiEventKind::Refresh, 0});
  EXPECT_EQ(calls, std::vector<std::string>{"update"});
}

TEST_F(DispatcherTest, MissingJobSaysSoInTheStatusLine) {
  TheJobs().StartBackUp = nullptr;
  Control(main_ctl::kBackup);
  EXPECT_EQ(ui.statusText, "Backup is not available in this build");
  EXPECT_EQ(ui.statusPercent, 0);
}

TEST_F(DispatcherTest, HelpOpensTheManualOrSaysWhichFileIsMissing) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("fw_help_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "bin");
  const std::string saved = Program().folder;
  Program().folder = (dir / "bin").string() + "/";
  const std::string installed = (dir / "share/doc/flashwright/manual.html").string();

  MenuItem(menu_item::kHelp);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_EQ(ui.boxes[0].text, "Not found help file: " + installed);
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Error);
  EXPECT_TRUE(ui.urls.empty());

  // A build folder's copy, then the installed one, which wins.
  std::filesystem::create_directories(dir / "docs");
  std::ofstream(dir / "docs/manual.html") << "help";
  MenuItem(menu_item::kHelp);
  ASSERT_EQ(ui.urls.size(), 1u);
  EXPECT_EQ(ui.urls[0], "file://" + (dir / "docs/manual.html").string());
  std::filesystem::create_directories(dir / "share/doc/flashwright");
  std::ofstream(installed) << "help";
  MenuItem(menu_item::kHelp);
  ASSERT_EQ(ui.urls.size(), 2u);
  EXPECT_EQ(ui.urls[1], "file://" + installed);
  EXPECT_EQ(ui.boxes.size(), 1u);

  // The desktop has no handler for it: the manual is there, so the box says what is missing.
  ui.openUrlResult = false;
  MenuItem(menu_item::kHelp);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text,
            "Cannot open help file: " + installed + " (no program opens HTML files)");

  Program().folder = saved;
  std::filesystem::remove_all(dir);
}

TEST_F(DispatcherTest, HyperlinksOpenTheirTargetsByWindow) {
  const struct {
    int window, control;
    std::string url;
  } links[] = {
      {kMainWindow, main_ctl::kMakerLink, links::kMakerHome},
      {kConfigWindow, cfg_ctl::kUpdateNews, CloverCommitsUrl()},
      {kAboutWindow, about_ctl::kCloverLink, CloverProjectUrl()},
      {kAboutWindow, about_ctl::kWikiLink, links::kCloverWiki},
      {kAboutWindow, about_ctl::kForumLink, links::kCloverForum},
      {kAboutWindow, about_ctl::kDonateLink, links::kDonate},
  };
  for (const auto& l : links) d.Handle({l.window, UiEventKind::MouseDown, l.control});
  ASSERT_EQ(ui.urls.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(ui.urls[i], links[i].url);
  // The same control number in another window is not a link.
  d.Handle({kMainWindow, UiEventKind::MouseDown, about_ctl::kCloverLink});
  EXPECT_EQ(ui.urls.size(), 6u);
  EXPECT_NE(CloverCommitsUrl().find("/CloverHackyColor/CloverBootloader/commits/master"),
            std::string::npos);
}

TEST_F(DispatcherTest, AboutWindowOpensClosesAndKeepsMainEnabled) {
  MenuItem(menu_item::kAbout);
  EXPECT_TRUE(ui.open[kAboutWindow]);
  MenuItem(menu_item::kAbout);  // a second choice brings it forward instead of a second copy
  EXPECT_EQ(ui.opened[kAboutWindow], 1);
  EXPECT_FALSE(ui.windowEnabled.count(kMainWindow) && !ui.windowEnabled[kMainWindow]);
  Control(about_ctl::kOk, kAboutWindow);
  EXPECT_FALSE(ui.open[kAboutWindow]);
  EXPECT_EQ(ui.active, kMainWindow);
  // About is not busy-tested; Configuration is.
  format_op_in_progress = 1;
  MenuItem(menu_item::kAbout);
  MenuItem(menu_item::kConfiguration);
  EXPECT_TRUE(ui.open[kAboutWindow]);
  EXPECT_FALSE(ui.open[kConfigWindow]);
}

TEST_F(DispatcherTest, DownloadCenterCloseBoxIsIgnoredAndItsControlsGoToTheJob) {
  std::vector<int> seen;
  TheJobs().DownloadCenterEvent = [&](const UiEvent& e) { seen.push_back(e.number); };
  ui.open[kDownloadCenterWindow] = true;
  d.Handle({kDownloadCenterWindow, UiEventKind::Close, 0});
  EXPECT_TRUE(ui.open[kDownloadCenterWindow]);
  Control(dlc_ctl::kUpdate, kDownloadCenterWindow);
  EXPECT_EQ(seen, std::vector<int>{dlc_ctl::kUpdate});
}

TEST_F(DispatcherTest, NewDiskImageAsksForASizeUntilItIsValid) {
  std::vector<std::pair<std::string, int64_t>> made;
  TheJobs().CreateDiskImage = [&](const std::string& p, int64_t b) {
    made.push_back({p, b});
    return 1;
  };
  ui.answers = {"/tmp/new.img"};
  ui.inputs = {"lots", "64M"};
  MenuItem(menu_item::kNewImage);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].first, "/tmp/new.img");
  EXPECT_EQ(made[0].second, int64_t{64} << 20);
  EXPECT_EQ(ui.boxes.size(), 1u);  // one warning for "lots"

  // Cancelling the file chooser or the prompt creates nothing.
  ui.answers = {""};
  MenuItem(menu_item::kNewImage);
  ui.answers = {"/tmp/x.img"};
  ui.inputs = {};
  MenuItem(menu_item::kNewImage);
  EXPECT_EQ(made.size(), 1u);
}

TEST_F(DispatcherTest, AttachDiskImageRefreshesOnSuccessOnly) {
  int result = 0;
  TheJobs().AttachDiskImage = [&](const std::string&) { return result; };
  ui.answers = {"/tmp/a.img"};
  MenuItem(menu_item::kAttachImage);
  EXPECT_TRUE(calls.empty());
  result = 1;
  ui.answers = {"/tmp/a.img"};
  MenuItem(menu_item::kAttachImage);
  EXPECT_EQ(calls, std::vector<std::string>{"update"});
  calls.clear();
  format_op_in_progress = 1;
  ui.answers = {"/tmp/a.img"};
  MenuItem(menu_item::kAttachImage);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(ui.answers.size(), 1u);  // no chooser while busy
}

TEST(ImageSizeTest, ParsesUnitsAndRejectsNonsense) {
  EXPECT_EQ(ParseNewImageSize("8G"), int64_t{8} << 30);
  EXPECT_EQ(ParseNewImageSize(" 512 MiB"), int64_t{512} << 20);
  EXPECT_EQ(ParseNewImageSize("1048577"), 1048576 + 512);  // rounded up to a whole sector
  EXPECT_EQ(ParseNewImageSize("16T"), int64_t{16} << 40);
  EXPECT_EQ(ParseNewImageSize("17T"), -1);
  EXPECT_EQ(ParseNewImageSize("99999999999999999999G"), -1);  // no overflow
  EXPECT_EQ(ParseNewImageSize("1K"), -1);                     // under 1 MiB
  EXPECT_EQ(ParseNewImageSize(""), -1);
  EXPECT_EQ(ParseNewImageSize("-8G"), -1);
  EXPECT_EQ(ParseNewImageSize("8X"), -1);
  EXPECT_EQ(LeadingNumber("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(LeadingNumber("  42abc"), 42);
  EXPECT_EQ(LeadingNumber("x1"), 0);
}

}  // namespace
}  // namespace fw
