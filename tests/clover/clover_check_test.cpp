// The revision check and the release download against a code-hosting site on 127.0.0.1, through
// the real libcurl transport.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/clock.h"
#include "app/clover_wiring.h"
#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/models/ui_event.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/work_folder.h"
#include "datasets/clover_local_distr.h"
#include "net/clover_release_download.h"
#include "net/clover_rev_check.h"
#include "net/code_host.h"
#include "net/http_get.h"
#include "tests/clover/clover_fixture.h"
#include "tests/clover/clover_test_support.h"

namespace fwtest {
namespace {

using namespace fw::cfg_ctl;
using Revs = std::vector<int>;
using Texts = std::vector<std::string>;
constexpr int W = fw::kConfigWindow;

class CloverCheckTest : public CloverTest {
 protected:
  void SetUp() override {
    CloverTest::SetUp();
    site_.Activate();
  }
  void OpenConfigWindow() {
    ui_.OpenWindow(W);
    ui_.SetChecked(W, kSourceDl, true);
  }
  FakeCodeHost site_;
};

TEST_F(CloverCheckTest, TodaysPageIsReadThroughItsExpandedAssets) {
  // Six releases linked, newest first; 5160 and 5157 carry no package; 5156 lies beyond the
  // fragments a check fetches.
  site_.SetTodaysPage({"5161", "5160", "5159", "5158", "5157", "5156"},
                      {"5161", "5159", "5158", "5156"});
  OpenConfigWindow();
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kWebOk);
  EXPECT_EQ(fw::KnownCloverRevisions(), (Revs{5161, 5159, 5158}));
  EXPECT_EQ(fw::Settings().CloverLastRev, "5161");
  EXPECT_EQ(fw::CloverDLRev(), "5161");
  EXPECT_TRUE(std::regex_match(fw::Settings().CloverLastRevCheckDate,
                               std::regex(R"(\d\d\.\d\d\.\d\d \d\d:\d\d)")));
  EXPECT_EQ(site_.RequestsFor("/releases/"), 1);
  EXPECT_EQ(site_.RequestsFor("/expanded_assets/5157"), 1);
  EXPECT_EQ(site_.RequestsFor("/expanded_assets/5156"), 0);
  for (const Request& r : site_.SiteRequests())
    EXPECT_EQ(r.Header("user-agent"), "InternetRecovery/1.0") << r.target;
  // What the user sees.
  EXPECT_TRUE(ui_.Saw("Found Latest Clover r5161"));
  EXPECT_EQ(ui_.Text(fw::kMainWindow, fw::main_ctl::kLatestCloverTitle), " Latest Clover: r5161");
  EXPECT_EQ(ui_.Combo(W, kRevisionList), (Texts{"5161", "5159", "5158"}));
  EXPECT_EQ(ui_.Selected(W, kRevisionList), "5161");
  EXPECT_TRUE(ui_.Enabled(W, kRevisionList));
  EXPECT_EQ(ui_.Text(W, kCheckNow), "r5161");
  EXPECT_EQ(ui_.Text(W, kCheckDate), fw::Settings().CloverLastRevCheckDate);
  EXPECT_EQ((ui_.color[{W, kCheckDate}]), 0x0000FFu);
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(CloverCheckTest, OlderPageWithNamesInlineNeedsNoFragments) {
  site_.SetInlinePage({"999", "1000", "1000", "998", "999"});
  ui_.OpenWindow(W);
  ui_.SetChecked(W, kSourceLocal, true);
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kWebOk);
  EXPECT_EQ(fw::KnownCloverRevisions(), (Revs{1000, 999, 998}));
  EXPECT_EQ(fw::Settings().CloverLastRev, "1000");
  EXPECT_EQ(site_.RequestsFor("/releases/"), 1);
  EXPECT_EQ(site_.SiteRequests().size(), 1u);
  EXPECT_FALSE(ui_.Enabled(W, kRevisionList));  // the list waits for "DL" to be chosen
}

TEST_F(CloverCheckTest, NoPackageAnywhereShowsTheErrorBox) {
  site_.SetTodaysPage({"5161", "5160"}, {});
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kCloverRevNotFound);
  EXPECT_EQ(fw::Settings().CloverLastRev, "0");
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.BoxTexts()[0], std::string("Error: ") + fw::kCloverRevNotFoundText);
  EXPECT_EQ(ui_.boxes[0].icon, fw::MsgIcon::Warning);
  EXPECT_EQ(fw::LastCloverRevCheckResult(), fw::kCloverRevNotFound);
  // A page without fragments ends the same way.
  site_.SetPage("<html>nothing to see</html>");
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kCloverRevNotFound);
  EXPECT_EQ(ui_.boxes.size(), 2u);
}

TEST_F(CloverCheckTest, MissingPageEmptiesTheRevisionList) {
  site_.SetInlinePage({"5151"});
  ASSERT_EQ(fw::CheckCloverLastRevThread(0), fw::kWebOk);
  OpenConfigWindow();
  site_.SetPage("");  // 404
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kWebHttpStatus);
  EXPECT_EQ(fw::Settings().CloverLastRev, "0");
  EXPECT_TRUE(fw::KnownCloverRevisions().empty());
  EXPECT_TRUE(ui_.Saw("HTTP status code = 404"));
  EXPECT_TRUE(ui_.Combo(W, kRevisionList).empty());
  EXPECT_FALSE(ui_.Enabled(W, kRevisionList));
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(CloverCheckTest, BrokenConnectionsEndInTheirOwnTextNotTheBox) {
  // Fragments whose connection breaks end the check with that failure.
  site_.SetTodaysPage({"5161", "5160"}, {"5161"});
  site_.SetFragmentsHangUp(true);
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kWebSendFailed);
  EXPECT_EQ(site_.RequestsFor("/expanded_assets/5161"), 1);
  EXPECT_EQ(site_.RequestsFor("/expanded_assets/5160"), 0);  // the next would break the same way
  EXPECT_TRUE(ui_.SawWithMore("Error sending the HTTP request to the server: "));
  // A site that cannot be reached at all.
  ::setenv("FLASHWRIGHT_CODE_HOST", "http://127.0.0.1:1", 1);
  EXPECT_EQ(fw::CheckCloverLastRevThread(0), fw::kWebSendFailed);
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(fw::Settings().CloverLastRev, "0");
}

TEST_F(CloverCheckTest, CheckWaitsForNoOtherNetworkWorker) {
  site_.SetInlinePage({"5151"});
  flgNetThreadRunning = 1;  // a download of the Download Center, say
  fw::CheckCloverLastRev();
  fw::JoinCloverRevCheck();
  EXPECT_TRUE(site_.SiteRequests().empty());
  flgNetThreadRunning = 0;
  fw::CheckCloverLastRev();
  fw::JoinCloverRevCheck();
  EXPECT_EQ(fw::LastCloverRevCheckResult(), fw::kWebOk);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
  EXPECT_EQ(fw::Settings().CloverLastRev, "5151");
}

TEST_F(CloverCheckTest, CheckOnTheJobThreadWaitsForTheTransferRecord) {
  site_.SetInlinePage({"5151"});
  flgNetThreadRunning = 1;
  std::thread other([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fw::EndNetTransfer();
  });
  EXPECT_EQ(fw::RunCloverRevCheck(10000), fw::kWebOk);
  other.join();
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
  // A record that stays taken ends the wait without a request.
  flgNetThreadRunning = 1;
  EXPECT_EQ(fw::RunCloverRevCheck(200), 0);
  EXPECT_EQ(site_.RequestsFor("/releases/"), 1);
}

TEST_F(CloverCheckTest, ReleaseDownloadResumesThroughTheReleaseAddress) {
  // The release address redirects to a signed one-time address on another host; the connection
  // breaks halfway. The resumed attempt asks the release address again (with the range), which
  // gives a fresh signed address: the expired one is never asked again.
  std::string archive(3 * 1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 7 + (i >> 13));
  site_.SetArchive("5151", archive, 1500000);
  ASSERT_EQ(fw::CreateTempWorkDir(), 1);
  fw::CloverDLRev() = "5151";
  ASSERT_EQ(fw::StartGetCloverRevThread(), fw::CloverDownloadStart::kStarted);
  ASSERT_TRUE(fw::WaitGetCloverRevThread(60000));
  const fw::CloverDownload got = fw::LastCloverDownload();
  ASSERT_EQ(got.code, fw::kWebOk);
  EXPECT_EQ(got.file, fw::ZorTempWorkDir() + "Clover-5151-X64.iso.7z");
  EXPECT_TRUE(Slurp(got.file) == archive);
  EXPECT_EQ(site_.RequestsFor("/releases/download/5151/Clover-5151-X64.iso.7z"), 2);
  const std::vector<Request> site = site_.SiteRequests();
  EXPECT_EQ(site.back().Header("range"), "bytes=1500000-" + std::to_string(archive.size() - 1));
  const std::vector<Request> signedReqs = site_.SignedRequests();
  ASSERT_EQ(signedReqs.size(), 2u);
  EXPECT_EQ(signedReqs[0].target, "/signed/1/Clover-5151-X64.iso.7z");
  EXPECT_EQ(signedReqs[1].target, "/signed/2/Clover-5151-X64.iso.7z");
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

TEST_F(CloverCheckTest, StartUpScansTheRepositoryAndChecksWhenAsked) {
  site_.SetInlinePage({"5151"});
  WriteDataSetZip(repo_ / "Clover-5070-X64.zip", "5070");
  fw::WireCloverJobs();
  fw::Settings().CheckLatestCloverAtStartup = 1;
  fw::StartUpAfterMainWindow();
  fw::JoinCloverLocalDistrWorker();
  fw::JoinCloverRevCheck();
  EXPECT_EQ(fw::TheCloverChoice().CloverLocalSelectedRev, "5070");
  EXPECT_EQ(ui_.Text(fw::kMainWindow, fw::main_ctl::kLatestCloverTitle), " Latest Clover: r5151");
  // Without the check at start, a stored revision joins the known ones and nothing is fetched.
  fw::Settings().CheckLatestCloverAtStartup = 0;
  fw::Settings().CloverLastRev = "5100";
  fw::StartUpAfterMainWindow();
  fw::JoinCloverLocalDistrWorker();
  EXPECT_EQ(fw::KnownCloverRevisions(), (Revs{5151, 5100}));
  EXPECT_EQ(site_.RequestsFor("/releases/"), 1);
  fw::Hooks() = fw::StartupHooks{};
  fw::TheJobs() = fw::Jobs{};
}

TEST_F(CloverCheckTest, CodeHostComesFromTheEnvironment) {
  ::setenv("FLASHWRIGHT_CODE_HOST", "http://mirror.example:8080/", 1);
  EXPECT_EQ(fw::CloverReleasesUrl(),
            "http://mirror.example:8080/CloverHackyColor/CloverBootloader/releases/");
  EXPECT_EQ(fw::CloverReleaseArchiveUrl("5151"),
            "http://mirror.example:8080/CloverHackyColor/CloverBootloader/releases/download/5151/"
            "Clover-5151-X64.iso.7z");
  ::unsetenv("FLASHWRIGHT_CODE_HOST");
  EXPECT_EQ(fw::CloverCommitsUrl(),
            "https://github.com/CloverHackyColor/CloverBootloader/commits/master");
  EXPECT_EQ(fw::CloverProjectUrl(), "https://github.com/CloverHackyColor/CloverBootloader");
}

}  // namespace
}  // namespace fwtest
