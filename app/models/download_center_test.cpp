#include "app/models/download_center.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/models/dispatcher.h"
#include "app/models/fake_front_end_test.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/workers.h"
#include "net/additional_dl.h"
#include "net/additional_dl_get.h"
#include "net/http_get.h"

namespace fw {
namespace {

using namespace dlc_ctl;
using testing::FakeFrontEnd;
constexpr int W = kDownloadCenterWindow;

class DownloadCenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPausesEnabled(false);
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    Settings().CloverLocalRepository = "/nonexistent-repo/";
    SetAdditionalDL(
        ParseAdditionalDLList("[Good]\nURL=http://h/g.zip\nSize=2048\nDescription=fine\n"
                              "[Evil]\nURL=http://h/e.zip\nCatalog=../../etc\n",
                              1));
    format_op_in_progress = 0;
    CancelMainThread = 0;
    RegisterDownloadCenter();
    Jobs& j = TheJobs();
    j.RecoveryHDRows = [this] { return rows; };
    j.StartCheckRecoveryHD = [this] {
      calls.push_back("check flg=" + std::to_string(flgNetThreadRunning.load()));
      return true;
    };
    j.StartDLAndExtractHFSImageFromRecoveryHD = [this](int row) {
      calls.push_back("dl " + std::to_string(row) + " status=" + front.statusText);
      return true;
    };
    j.ClearRecoveryHDList = [this] {
      rows.clear();
      calls.push_back("clear");
    };
    j.UpdateAllDrives = [this] { calls.push_back("update drives"); };
  }
  void TearDown() override {
    JoinWorkers();
    TheJobs() = Jobs{};
    ClearAdditionalDL();
    EndNetTransfer();
    format_op_in_progress = 0;
    ::unsetenv("FLASHWRIGHT_SITE_HOST");
  }

  void Press(int control) {
    dispatcher.Handle({W, UiEventKind::Control, control});
    JoinWorkers();
  }
  bool Enabled(int control) { return front.Enabled(W, control); }

  FakeFrontEnd front;
  Dispatcher dispatcher;
  std::vector<std::string> rows = {"(17G) High Sierra", "(18A) Mojave"};
  std::vector<std::string> calls;
};

TEST_F(DownloadCenterTest, OpeningFillsBothListsAndChoosesTheRecoveryHdSide) {
  Open_Window_DownloadCenter();
  EXPECT_TRUE(front.open[W]);
  EXPECT_FALSE(front.windowEnabled[kMainWindow]);
  const std::vector<std::string> names = {"(17G) High Sierra", "(18A) Mojave"};
  EXPECT_EQ(front.combo[std::make_pair(W, kRecoveryList)], names);
  EXPECT_EQ(front.Selected(W, kRecoveryList), "(18A) Mojave");  // the last one
  EXPECT_TRUE(Enabled(kRecoveryList));
  const std::vector<std::string> packages = {" -- User Downloads: ", "Good 2.0 KB: fine", "Evil: "};
  EXPECT_EQ(front.combo[std::make_pair(W, kPackageList)], packages);
  EXPECT_EQ(front.Selected(W, kPackageList), " -- User Downloads: ");
  EXPECT_FALSE(Enabled(kPackageList));
  EXPECT_TRUE(front.IsChecked(W, kRecoveryOption));
  EXPECT_FALSE(front.IsChecked(W, kPackageOption));

  // With an empty Recovery HD list, list 31 has no selection.
  front.open[W] = false;
  rows.clear();
  Open_Window_DownloadCenter();
  EXPECT_TRUE(front.combo[std::make_pair(W, kRecoveryList)].empty());
  EXPECT_EQ(front.ComboSelection(W, kRecoveryList), -1);
}

TEST_F(DownloadCenterTest, TheOptionsSwitchWhichListAndClearCanBeUsed) {
  Open_Window_DownloadCenter();
  front.SetChecked(W, kPackageOption, true);
  Press(kPackageOption);
  EXPECT_TRUE(Enabled(kPackageList));
  EXPECT_FALSE(Enabled(kRecoveryList));
  EXPECT_FALSE(Enabled(kClear));
  front.SetChecked(W, kRecoveryOption, true);
  Press(kRecoveryOption);
  EXPECT_FALSE(Enabled(kPackageList));
  EXPECT_TRUE(Enabled(kRecoveryList));
  EXPECT_TRUE(Enabled(kClear));
}

TEST_F(DownloadCenterTest, ClearEmptiesTheRecoveryHdListUnlessASearchRuns) {
  Open_Window_DownloadCenter();
  format_op_in_progress = 1;  // the search holds it while it runs
  Press(kClear);
  EXPECT_EQ(front.statusText, kRecoveryListBusyText);
  EXPECT_EQ(front.combo[std::make_pair(W, kRecoveryList)].size(), 2u);
  format_op_in_progress = 0;
  Press(kClear);
  EXPECT_EQ(calls, std::vector<std::string>{"clear"});
  EXPECT_TRUE(front.combo[std::make_pair(W, kRecoveryList)].empty());
  EXPECT_EQ(front.ComboSelection(W, kRecoveryList), -1);
  EXPECT_TRUE(front.open[W]);
}

TEST_F(DownloadCenterTest, UpdateRunsTheSearchOfTheChosenSideOnTheRecordAndStaysOpen) {
  Open_Window_DownloadCenter();
  Press(kUpdate);
  EXPECT_EQ(calls, std::vector<std::string>{"check flg=0"});  // the search takes the record
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
  EXPECT_TRUE(front.open[W]);

  // The package side fetches the maker's list; nothing answers on port 1, so the old list stays.
  ::setenv("FLASHWRIGHT_SITE_HOST", "http://127.0.0.1:1", 1);
  front.SetChecked(W, kPackageOption, true);
  Press(kPackageOption);
  Press(kUpdate);
  EXPECT_EQ(front.statusText, "CheckAdditionalDownloadsThread ... Error: Get DlFileList");
  EXPECT_EQ(AdditionalDL().size(), 3u);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_TRUE(front.open[W]);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

TEST_F(DownloadCenterTest, UpdateAndDlAreRefusedBesideAnotherTransfer) {
  Open_Window_DownloadCenter();
  ASSERT_TRUE(TryStartNetTransfer());  // a revision check started at start-up, say
  Press(kUpdate);
  EXPECT_EQ(front.statusText, kTransferBusyText);
  EXPECT_TRUE(front.open[W]);
  Press(kDl);
  EXPECT_EQ(front.statusText, kTransferBusyText);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(front.open[W]);
  EXPECT_TRUE(front.windowEnabled[kMainWindow]);
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(flgNetThreadRunning.load(), 1);  // still the other transfer's
}

TEST_F(DownloadCenterTest, DlStartsTheRecoveryHdDownloadOfTheSelectionAndCloses) {
  Open_Window_DownloadCenter();
  front.SelectComboItem(W, kRecoveryList, 0);
  Press(kDl);
  EXPECT_EQ(calls, std::vector<std::string>{"dl 0 status=" + std::string(kDownloadStartedText)});
  EXPECT_FALSE(front.open[W]);
  EXPECT_TRUE(front.windowEnabled[kMainWindow]);

  // Nothing selected: nothing starts, the window closes all the same.
  calls.clear();
  Open_Window_DownloadCenter();
  front.SelectComboItem(W, kRecoveryList, -1);
  Press(kDl);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(front.open[W]);
  EXPECT_EQ(format_op_in_progress.load(), 0);
}

TEST_F(DownloadCenterTest, DlOfAPackageRunsTheListDownloadWithTheSelectedEntry) {
  Open_Window_DownloadCenter();
  front.SetChecked(W, kPackageOption, true);
  Press(kPackageOption);
  front.SelectComboItem(W, kPackageList, 2);  // "Evil", refused before any transfer
  Press(kDl);
  EXPECT_EQ(front.statusText,
            "Can't download Evil: its Catalog \"../../etc\" leads out of the Clover Local "
            "Repository");
  EXPECT_EQ(front.ControlText(kMainWindow, main_ctl::kDlCenter), "DL Center");
  EXPECT_EQ(calls, std::vector<std::string>{"update drives"});
  EXPECT_FALSE(front.open[W]);
  EXPECT_EQ(format_op_in_progress.load(), 0);
}

TEST_F(DownloadCenterTest, OnlyExitAndDlCloseTheWindow) {
  Open_Window_DownloadCenter();
  dispatcher.Handle({W, UiEventKind::Close, 0});
  EXPECT_TRUE(front.open[W]);
  Press(kExit);
  EXPECT_FALSE(front.open[W]);
  EXPECT_TRUE(front.windowEnabled[kMainWindow]);
}

TEST_F(DownloadCenterTest, AMissingRecoveryHdSearchIsSaidSo) {
  TheJobs().StartCheckRecoveryHD = nullptr;
  Open_Window_DownloadCenter();
  Press(kUpdate);
  EXPECT_EQ(front.statusText, "Recovery HD search is not available in this build");
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

}  // namespace
}  // namespace fw
