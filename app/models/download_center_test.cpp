// The window's rules on a fake front end, where the sanitizer build runs them: Clear beside a
// running search, and a DL whose entry is refused before any transfer. The rest of the window is
// tested through the real widgets (tests/gui/download_center_gui_test.cpp).
#include "app/models/download_center.h"

#include <gtest/gtest.h>

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
    format_op_in_progress = 0;
  }

  void Press(int control) {
    dispatcher.Handle({W, UiEventKind::Control, control});
    JoinWorkers();
  }

  FakeFrontEnd front;
  Dispatcher dispatcher;
  std::vector<std::string> rows = {"(17G) High Sierra", "(18A) Mojave"};
  std::vector<std::string> calls;
};

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

TEST_F(DownloadCenterTest, DlOfARefusedPackageClosesTheWindowAndGivesEverythingBack) {
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

}  // namespace
}  // namespace fw
