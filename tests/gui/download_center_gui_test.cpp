// The Download Center through its real widgets, headless (QT_QPA_PLATFORM=offscreen): opened by
// the main window's "DL Center" button, its options, Clear, Update (the window stays), DL (the
// window closes and the chosen worker starts), Exit, "Cancel DL" on the main window while a file
// comes in slowly from a server on 127.0.0.1, and the window beside a Clover revision check that
// holds the transfer record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/clock.h"
#include "app/clover_wiring.h"
#include "app/globals.h"
#include "app/models/download_center.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/workers.h"
#include "datasets/mac_image_jobs.h"
#include "gui/front_end.h"
#include "net/additional_dl.h"
#include "net/additional_dl_get.h"
#include "net/http_get.h"
#include "offscreen_app.h"
#include "tests/gui/gui_test_support.h"
#include "tests/net/test_server.h"

namespace fw::qt {
namespace {

namespace fs = std::filesystem;
using namespace dlc_ctl;
constexpr int W = kDownloadCenterWindow;
constexpr const char* kReleasePage = "/CloverHackyColor/CloverBootloader/releases/";

QApplication* App() { return OffscreenApp("fw_gui_download_center_tests"); }

// Workers call the UI thread and wait for it: the event loop runs while they are joined.
void JoinWorkersServingEvents() {
  JoinWorkers([] {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  QCoreApplication::processEvents();
}

class DownloadCenterGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    watchdog_ = FailOnUnexpectedWindow();
    SetPausesEnabled(false);
    dir_ = fs::temp_directory_path() /
           ("fw-dlc-gui-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    Settings().CloverLocalRepository = dir_.string() + "/";
    // The Recovery HD side is the real one, on packages and a catalog that this server lacks.
    Settings().DownloadData = {{"(17G) High Sierra", server_.Url("/a/RecoveryHDUpdate.pkg")},
                               {"(18A) Mojave", server_.Url("/b/RecoveryHDUpdate.pkg")}};
    Settings().SummarySucatalogUrls = {
        {"10.15 regular", server_.Url("/content/catalogs/others/index-10.15.merged-1.sucatalog")}};
    SetAdditionalDL(ParseAdditionalDLList(
        "[Slow]\nURL=" + server_.Url("/slow/s.bin") + "\nDescription=slowly\n", 1));
    ::setenv("FLASHWRIGHT_SITE_HOST", server_.Url("").c_str(), 1);
    // The package job's work folder goes where no other program's is.
    const char* tmp = std::getenv("TMPDIR");
    oldTmp_ = tmp ? tmp : "";
    ::setenv("TMPDIR", dir_.c_str(), 1);
    format_op_in_progress = 0;
    CancelMainThread = 0;
    RegisterMacImageJobs();
    RegisterDownloadCenter();
    front_ = std::make_unique<QtFrontEnd>();
    front_->exitLoopOnQuit = false;
    front_->OpenMainWindow();
  }
  void TearDown() override {
    CancelMainThread = 1;
    releasePage_ = true;
    JoinWorkersServingEvents();
    front_.reset();
    server_.Stop();
    ::unsetenv("FLASHWRIGHT_SITE_HOST");
    ::unsetenv("FLASHWRIGHT_CODE_HOST");
    if (oldTmp_.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", oldTmp_.c_str(), 1);
    }
    TheJobs() = Jobs{};
    ClearAdditionalDL();
    format_op_in_progress = 0;
    CancelMainThread = 0;
    fs::remove_all(dir_);
  }

  template <typename T>
  T* Ctl(int window, int control) {
    T* w = qobject_cast<T*>(front_->Control(window, control));
    EXPECT_NE(w, nullptr) << window << "/" << control;
    return w;
  }
  void Click(int window, int control) {
    QTest::mouseClick(front_->Control(window, control), Qt::LeftButton);
  }
  void OpenThroughMainWindow() {
    Click(kMainWindow, main_ctl::kDlCenter);
    ASSERT_NE(front_->Window(W), nullptr);
  }
  // Serves the UI thread until `done` holds (at most 30 s); whether it came to hold.
  static bool Until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  }
  QStringList Items(int control) {
    QStringList items;
    auto* c = Ctl<QComboBox>(W, control);
    for (int i = 0; c && i < c->count(); ++i) items << c->itemText(i);
    return items;
  }

  static void SendPage(int fd, const std::string& body) {
    const std::string out =
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    fwtest::TestServer::SendAll(fd, out.data(), out.size());
  }
  // The maker's list for an update; a Clover release page; a pattern file that drips in at about
  // 1 MB/s.
  void Serve(int fd, const fwtest::Request& req) {
    if (req.target == "/files/AdditionalDL/DLList.ini") {
      SendPage(fd, "[Fresh]\r\nURL=http://h/f.zip\r\nSize=47941\r\nDescription=new\r\n");
      return;
    }
    if (req.target == kReleasePage) {
      // The release page comes only when the test lets it, so the check holds the record.
      while (!releasePage_ && !server_.stopping())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      SendPage(fd, "<a href=\"Clover_r5120.pkg\">Clover_r5120.pkg</a> Clover_r5119.pkg");
      return;
    }
    if (req.target.rfind("/slow/", 0) == 0) {
      fwtest::Plan p;
      p.size = 8 << 20;
      p.dripMs = 1;
      fwtest::TestServer::ServePlan(fd, req, p, &server_.stopping());
      return;
    }
    const char* none = "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    fwtest::TestServer::SendAll(fd, none, std::strlen(none));
  }
  // Whether the server was asked for `target`.
  bool Asked(const std::string& target) {
    for (const fwtest::Request& r : server_.Requests())
      if (r.target == target) return true;
    return false;
  }

  fs::path dir_;
  std::string oldTmp_;
  std::atomic<bool> releasePage_{false};
  fwtest::TestServer server_{[this](int fd, const fwtest::Request& req, int) { Serve(fd, req); }};
  std::unique_ptr<QtFrontEnd> front_;
  std::unique_ptr<ModalWatchdog> watchdog_;
};

TEST_F(DownloadCenterGuiTest, OpensBesideTheDisabledMainWindowWithTheRecoveryHdSideChosen) {
  OpenThroughMainWindow();
  QWidget* dlc = front_->Window(W);
  QWidget* main = front_->Window(kMainWindow);
  EXPECT_EQ(dlc->windowTitle().toStdString(), DownloadCenterTitle());
  EXPECT_EQ(dlc->size(), QSize(440, 145));
  EXPECT_EQ(dlc->pos(), main->pos() + QPoint(20, -20));
  EXPECT_FALSE(dlc->windowFlags() & Qt::WindowCloseButtonHint);
  ASSERT_NE(dlc->windowHandle(), nullptr);
  EXPECT_EQ(dlc->windowHandle()->transientParent(), main->windowHandle());
  EXPECT_FALSE(main->isEnabled());
  EXPECT_TRUE(dlc->isEnabled());
  EXPECT_EQ(Items(kRecoveryList), (QStringList{"(17G) High Sierra", "(18A) Mojave"}));
  EXPECT_EQ(Ctl<QComboBox>(W, kRecoveryList)->currentIndex(), 1);
  EXPECT_TRUE(Ctl<QComboBox>(W, kRecoveryList)->isEnabled());
  EXPECT_EQ(Items(kPackageList), (QStringList{" -- User Downloads: ", "Slow: slowly"}));
  EXPECT_EQ(Ctl<QComboBox>(W, kPackageList)->currentIndex(), 0);
  EXPECT_FALSE(Ctl<QComboBox>(W, kPackageList)->isEnabled());
  EXPECT_TRUE(Ctl<QRadioButton>(W, kRecoveryOption)->isChecked());
  EXPECT_EQ(Ctl<QPushButton>(W, kDl)->toolTip(), "DL selected Item");
  EXPECT_EQ(Ctl<QComboBox>(W, kPackageList)->geometry(), QRect(20, 78, 400, 20));

  // The options switch which list (and whether Clear) can be used.
  Click(W, kPackageOption);
  EXPECT_TRUE(Ctl<QComboBox>(W, kPackageList)->isEnabled());
  EXPECT_FALSE(Ctl<QComboBox>(W, kRecoveryList)->isEnabled());
  EXPECT_FALSE(Ctl<QPushButton>(W, kClear)->isEnabled());
  Click(W, kRecoveryOption);
  EXPECT_FALSE(Ctl<QComboBox>(W, kPackageList)->isEnabled());
  EXPECT_TRUE(Ctl<QPushButton>(W, kClear)->isEnabled());

  // Its close box does nothing; Exit closes it and gives the main window back.
  dlc->close();
  EXPECT_NE(front_->Window(W), nullptr);
  Click(W, kExit);
  EXPECT_EQ(front_->Window(W), nullptr);
  EXPECT_TRUE(main->isEnabled());
}

TEST_F(DownloadCenterGuiTest, UpdateAndClearLeaveTheWindowOpen) {
  OpenThroughMainWindow();
  // The catalog search runs on its worker; with no catalog read it keeps the list.
  Click(W, kUpdate);
  JoinWorkersServingEvents();
  EXPECT_TRUE(Asked("/content/catalogs/others/index-10.15.merged-1.sucatalog"));
  ASSERT_NE(front_->Window(W), nullptr);
  EXPECT_EQ(Items(kRecoveryList).size(), 2);
  // Clear empties the list the settings file keeps.
  Click(W, kClear);
  EXPECT_TRUE(Items(kRecoveryList).isEmpty());
  EXPECT_TRUE(Settings().DownloadData.empty());

  // The package side's update fetches the maker's list into list 32 of the open window.
  Click(W, kPackageOption);
  Click(W, kUpdate);
  JoinWorkersServingEvents();
  ASSERT_NE(front_->Window(W), nullptr);
  EXPECT_EQ(Items(kPackageList),
            (QStringList{" -- ZOR Additional Downloads: ", "Fresh 46.8 KB: new"}));
}

TEST_F(DownloadCenterGuiTest, DlClosesTheWindowAndStartsTheChosenWorker) {
  OpenThroughMainWindow();
  Ctl<QComboBox>(W, kRecoveryList)->setCurrentIndex(0);
  Click(W, kDl);
  EXPECT_EQ(front_->Window(W), nullptr);
  EXPECT_TRUE(front_->Window(kMainWindow)->isEnabled());
  JoinWorkersServingEvents();
  // The Recovery HD job fetched the chosen package (which this server lacks) and gave back the
  // button.
  EXPECT_TRUE(Asked("/a/RecoveryHDUpdate.pkg"));
  EXPECT_FALSE(Asked("/b/RecoveryHDUpdate.pkg"));
  EXPECT_EQ(Ctl<QPushButton>(kMainWindow, main_ctl::kDlCenter)->text(), "DL Center");
  EXPECT_EQ(format_op_in_progress.load(), 0);

  // With nothing to choose from, DL starts nothing and still closes the window.
  const size_t asked = server_.Requests().size();
  Settings().DownloadData.clear();
  OpenThroughMainWindow();
  Click(W, kDl);
  JoinWorkersServingEvents();
  EXPECT_EQ(front_->Window(W), nullptr);
  EXPECT_EQ(server_.Requests().size(), asked);
  EXPECT_EQ(format_op_in_progress.load(), 0);
}

// "Cancel DL" on the main window stops a download of the lists that is coming in slowly.
TEST_F(DownloadCenterGuiTest, CancelDlOnTheMainWindowStopsTheDownload) {
  OpenThroughMainWindow();
  Click(W, kPackageOption);
  Ctl<QComboBox>(W, kPackageList)->setCurrentIndex(1);
  Click(W, kDl);
  auto* button = Ctl<QPushButton>(kMainWindow, main_ctl::kDlCenter);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline &&
         (button->text() != "Cancel DL" ||
          front_->StatusText().find("% s.bin (") == std::string::npos)) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(button->text(), "Cancel DL");
  EXPECT_NE(front_->StatusText().find("% s.bin ("), std::string::npos) << front_->StatusText();
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(CancelMainThread.load(), 1);
  JoinWorkersServingEvents();
  EXPECT_EQ(button->text(), "DL Center");
  EXPECT_FALSE(fs::exists(dir_ / "s.bin"));
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(CancelMainThread.load(), 0);
}

// A revision check started at start-up holds the one transfer record: Update (either side) and DL
// are refused with a note that says why and ask no server anything; once the check has shown its
// revision, the same Update runs.
TEST_F(DownloadCenterGuiTest, UpdateAndDlWaitForTheRevisionCheckOfTheStartUp) {
  ::setenv("FLASHWRIGHT_CODE_HOST", server_.Url("").c_str(), 1);
  WireCloverJobs();
  Hooks().checkCloverLastRev();
  ASSERT_TRUE(Until([this] { return Asked(kReleasePage); }));
  EXPECT_NE(flgNetThreadRunning.load(), 0);

  OpenThroughMainWindow();
  Click(W, kUpdate);
  EXPECT_EQ(front_->StatusText(), kTransferBusyText);
  Click(W, kPackageOption);
  Click(W, kUpdate);
  EXPECT_EQ(front_->StatusText(), kTransferBusyText);
  ASSERT_NE(front_->Window(W), nullptr);
  Ctl<QComboBox>(W, kPackageList)->setCurrentIndex(1);
  Click(W, kDl);
  EXPECT_EQ(front_->Window(W), nullptr);
  EXPECT_EQ(front_->StatusText(), kTransferBusyText);
  // The refusals started no worker (a join now would wait for the check itself).
  EXPECT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(Ctl<QPushButton>(kMainWindow, main_ctl::kDlCenter)->text(), "DL Center");

  releasePage_ = true;
  ASSERT_TRUE(Until([] { return flgNetThreadRunning.load() == 0; }));
  JoinWorkersServingEvents();
  EXPECT_EQ(Settings().CloverLastRev, "5120");
  QStringList titles;
  for (QAction* a : front_->Window(kMainWindow)->findChild<QMenuBar*>()->actions())
    titles << a->text();
  EXPECT_TRUE(titles.contains(" Latest Clover: r5120")) << titles.join("|").toStdString();

  OpenThroughMainWindow();
  Click(W, kPackageOption);
  Click(W, kUpdate);
  JoinWorkersServingEvents();
  EXPECT_TRUE(Asked(kDLListPath));
  EXPECT_EQ(Items(kPackageList),
            (QStringList{" -- ZOR Additional Downloads: ", "Fresh 46.8 KB: new"}));
  Click(W, kExit);
}

}  // namespace
}  // namespace fw::qt
