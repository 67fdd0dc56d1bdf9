// The desktop front end, headless (QT_QPA_PLATFORM=offscreen): each window opens from its model,
// its controls reach the dispatcher, calls from workers land on the UI thread. Screenshots of
// every window go to $FW_BINARY_DIR/screenshots/.
#include <gtest/gtest.h>
#include <unistd.h>

// clang-format off
// Before Qt's headers: Qt's "forever" macro would rewrite the test server's field of that name.
#include "tests/clover/clover_fixture.h"
// clang-format on

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/clock.h"
#include "app/clover_wiring.h"
#include "app/globals.h"
#include "app/job_wiring.h"
#include "app/models/jobs.h"
#include "app/models/window_host.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/workers.h"
#include "disk/inventory.h"
#include "gui/front_end.h"
#include "net/code_host.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/linux/block_backend.h"
#include "prepare/format_job.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/offscreen_app.h"

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls << url; }
};

namespace fw::qt {
namespace {

QApplication* App() { return OffscreenApp("fw_gui_tests"); }

void Screenshot(QWidget* w, const QString& name) {
  const char* bin = std::getenv("FW_BINARY_DIR");
  const QString dir = QString(bin ? bin : ".") + "/screenshots";
  QDir().mkpath(dir);
  QApplication::processEvents();
  EXPECT_TRUE(w->grab().save(dir + "/" + name + ".png"));
}

template <typename T>
T* Ctl(QtFrontEnd& f, int window, int control) {
  T* w = qobject_cast<T*>(f.Control(window, control));
  EXPECT_NE(w, nullptr) << window << "/" << control;
  return w;
}

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    watchdog = FailOnUnexpectedWindow();
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    format_op_in_progress = 0;
    CancelMainThread = 0;
    FormatStatus = 0;
    TheJobs().DriveTreeRows = [] {
      return std::vector<DriveTreeRow>{{"USB: Generic Flash Disk 14.45 GB (E: F:)", false},
                                       {"Part1: 200 MB FAT32 Act <ZOR> E:", true},
                                       {"Part2: 14.25 GB HFS+ <MAC> F:", true}};
    };
    TheJobs().SaveSetting = [this] { ++saves; };
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    front = std::make_unique<QtFrontEnd>();
    front->exitLoopOnQuit = false;
    front->OpenMainWindow();
  }
  void TearDown() override {
    front.reset();
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("file");
    TheJobs() = Jobs{};
    format_op_in_progress = 0;
  }

  std::unique_ptr<QtFrontEnd> front;
  UrlCatcher catcher;
  int saves = 0;
  std::unique_ptr<ModalWatchdog> watchdog;
};

TEST_F(GuiTest, MainWindowDrawsItsModel) {
  QWidget* main = front->Window(kMainWindow);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->windowTitle().toStdString(), MainWindowTitle());
  EXPECT_EQ(main->minimumSize(), main->maximumSize());  // not resizable
  for (const ControlModel& c : MainWindowModel().controls) {
    QWidget* w = front->Control(kMainWindow, c.number);
    ASSERT_NE(w, nullptr) << c.number;
    EXPECT_EQ(w->geometry(), QRect(c.x, c.y, c.width, c.height)) << c.number;
    EXPECT_EQ(w->toolTip().toStdString(), c.tooltip) << c.number;
    // Every button text fits its button.
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, c.width) << c.number;
    }
  }
  auto* tree = Ctl<QTreeWidget>(*front, kMainWindow, main_ctl::kDriveTree);
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 2);
  front->ShowStatus("Formatting  ... 50%", 50);
  Screenshot(main, "main");
}

TEST_F(GuiTest, StatusCanvasDrawsTheBarToItsPercentage) {
  QWidget* canvas = front->Control(kMainWindow, main_ctl::kStatus);
  const QColor bar(102, 204, 255);
  auto pixel = [&](int x) { return canvas->grab().toImage().pixelColor(x, 10); };
  front->ShowStatus("", 50);
  // 50 % of the 464-pixel track: x = 3..234.
  EXPECT_EQ(pixel(10), bar);
  EXPECT_EQ(pixel(230), bar);
  EXPECT_NE(pixel(240), bar);
  front->ShowStatus("", 150);
  EXPECT_EQ(pixel(460), bar);
  front->ShowStatus("", -5);
  EXPECT_NE(pixel(10), bar);
  EXPECT_EQ(front->StatusPercent(), -5);
}

TEST_F(GuiTest, ButtonsAndMenusReachTheCommandTable) {
  std::vector<int> formats;
  TheJobs().StartFormat = [&](int a) { formats.push_back(a); };
  std::vector<int> selected;
  TheJobs().SetCurrentDisk = [&](int row) { selected.push_back(row); };
  QTest::mouseClick(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kFormat), Qt::LeftButton);
  EXPECT_EQ(formats, std::vector<int>{1});

  auto* tree = Ctl<QTreeWidget>(*front, kMainWindow, main_ctl::kDriveTree);
  tree->setCurrentItem(tree->topLevelItem(0)->child(1));
  EXPECT_EQ(selected, std::vector<int>{2});
  EXPECT_EQ(front->SelectedDriveRow(), 2);

  // A job that is not linked in says so.
  QTest::mouseClick(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kBackup), Qt::LeftButton);
  EXPECT_EQ(front->StatusText(), "Backup is not available in this build");

  // Esc is Quit, refused while busy; the close box too.
  format_op_in_progress = 1;
  QTest::keyClick(front->Window(kMainWindow), Qt::Key_Escape);
  front->Window(kMainWindow)->close();
  EXPECT_FALSE(front->TheDispatcher().QuitRequested());
  EXPECT_TRUE(front->Window(kMainWindow)->isVisible());
  EXPECT_NE(front->StatusText().find("job is running"), std::string::npos);
  format_op_in_progress = 0;
  QTest::keyClick(front->Window(kMainWindow), Qt::Key_Escape);
  EXPECT_TRUE(front->TheDispatcher().QuitRequested());
}

TEST_F(GuiTest, ConfigurationWindowEditsTheSettings) {
  Settings().Boot_records = "Clover";
  Settings().MultiPartitions = 1;
  front->MenuAction(menu_item::kConfiguration)->trigger();
  QWidget* cfg = front->Window(kConfigWindow);
  ASSERT_NE(cfg, nullptr);
  EXPECT_EQ(cfg->windowTitle().toStdString(), ConfigWindowTitle());
  EXPECT_FALSE(front->Window(kMainWindow)->isEnabled());
  Screenshot(cfg, "configuration");

  // Texts fit: no check box or option is wider than its box.
  for (const ControlModel& c : ConfigWindowModel().controls) {
    QWidget* w = front->Control(kConfigWindow, c.number);
    ASSERT_NE(w, nullptr) << c.number;
    EXPECT_EQ(w->geometry(), QRect(c.x, c.y, c.width, c.height)) << c.number;
    EXPECT_EQ(w->toolTip().toStdString(), c.tooltip) << c.number;
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, c.width) << c.number;
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_LE(b->sizeHint().width(), c.width + 2) << c.number << " " << c.text;
    }
  }

  QTest::mouseClick(Ctl<QRadioButton>(*front, kConfigWindow, cfg_ctl::kBootNone), Qt::LeftButton);
  EXPECT_EQ(Settings().Boot_records, "Not_Format");
  EXPECT_FALSE(Ctl<QComboBox>(*front, kConfigWindow, cfg_ctl::kFileSystemList)->isEnabled());
  EXPECT_FALSE(Ctl<QLineEdit>(*front, kConfigWindow, cfg_ctl::kPartitionSize)->isEnabled());
  QTest::mouseClick(Ctl<QRadioButton>(*front, kConfigWindow, cfg_ctl::kBootClover), Qt::LeftButton);
  auto* size = Ctl<QLineEdit>(*front, kConfigWindow, cfg_ctl::kPartitionSize);
  ASSERT_TRUE(size->isEnabled());
  size->selectAll();
  QTest::keyClicks(size, "20");
  EXPECT_EQ(Settings().BootPartitionSize, 64);
  size->selectAll();
  QTest::keyClicks(size, "2x00000");  // the letter is refused by the field
  EXPECT_EQ(size->text(), "200000");
  EXPECT_EQ(Settings().BootPartitionSize, 200000);

  auto* fs = Ctl<QComboBox>(*front, kConfigWindow, cfg_ctl::kFileSystemList);
  fs->setCurrentIndex(0);
  emit fs->activated(0);
  EXPECT_EQ(fs->currentText(), "FAT32-LBA");
  EXPECT_EQ(Settings().FileSystem, "FAT32-LBA");

  QTest::mouseClick(Ctl<QCheckBox>(*front, kConfigWindow, cfg_ctl::kCheckAtStartup),
                    Qt::LeftButton);
  EXPECT_EQ(Settings().CheckLatestCloverAtStartup, 1);

  // OK writes the settings file.
  const QString file = QDir::temp().filePath(QString("fw_gui_settings_%1.ini").arg(getpid()));
  QFile::remove(file);
  SetSettingsPath(file.toStdString());
  TheJobs().SaveSetting = [this] {
    ++saves;
    SaveSetting();
  };
  QTest::mouseClick(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kOk), Qt::LeftButton);
  EXPECT_EQ(saves, 1);
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QByteArray text = written.readAll();
  EXPECT_TRUE(text.contains("BootPartitionSize=200000") ||
              text.contains("BootPartitionSize = 200000"))
      << text.toStdString();
  EXPECT_TRUE(text.contains("Boot_records=Clover") || text.contains("Boot_records = Clover"));
  written.close();
  QFile::remove(file);
  SetSettingsPath("");
  EXPECT_EQ(front->Window(kConfigWindow), nullptr);
  EXPECT_TRUE(front->Window(kMainWindow)->isEnabled());

  // The close box saves as well.
  front->MenuAction(menu_item::kConfiguration)->trigger();
  front->Window(kConfigWindow)->close();
  EXPECT_EQ(saves, 2);
  EXPECT_EQ(front->Window(kConfigWindow), nullptr);
}

// The label field counts characters, not bytes: a Cyrillic label is kept whole.
TEST_F(GuiTest, VolumeLabelFieldKeepsWholeCharacters) {
  // Typed key by key, as a keyboard with that layout sends them.
  auto type = [](QWidget* w, const QString& text) {
    for (const QChar c : text) {
      QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  };
  Settings().VolumeLabel = "ФЛЕШКА-ДИСК-1";  // 13 characters, from the settings file
  front->MenuAction(menu_item::kConfiguration)->trigger();
  auto* label = Ctl<QLineEdit>(*front, kConfigWindow, cfg_ctl::kVolumeLabel);
  EXPECT_EQ(label->text().toStdString(), "ФЛЕШКА-ДИСК");
  label->selectAll();
  type(label, QString::fromUtf8("ФЛЕШКА"));
  EXPECT_EQ(Settings().VolumeLabel, "ФЛЕШКА");
  label->selectAll();
  type(label, QString::fromUtf8("ЖЖЖЖЖЖЖЖЖЖЖЖ"));  // 12: the field takes 11
  EXPECT_EQ(Settings().VolumeLabel, "ЖЖЖЖЖЖЖЖЖЖЖ");
  label->selectAll();
  QTest::keyClicks(label, "ABCDEFGHIJKLM");
  EXPECT_EQ(Settings().VolumeLabel, "ABCDEFGHIJK");
}

TEST_F(GuiTest, AboutWindowAndHyperlinks) {
  front->MenuAction(menu_item::kAbout)->trigger();
  QWidget* about = front->Window(kAboutWindow);
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(front->Window(kMainWindow)->isEnabled());
  Screenshot(about, "about");
  auto* link = Ctl<QLabel>(*front, kAboutWindow, about_ctl::kCloverLink);
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(link, &enter);
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  QTest::mouseClick(link, Qt::LeftButton);
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toString().toStdString(), CloverProjectUrl());
  QTest::mouseClick(Ctl<QPushButton>(*front, kAboutWindow, about_ctl::kOk), Qt::LeftButton);
  EXPECT_EQ(front->Window(kAboutWindow), nullptr);
  // The main window's credit line.
  QTest::mouseClick(Ctl<QLabel>(*front, kMainWindow, main_ctl::kMakerLink), Qt::LeftButton);
  EXPECT_EQ(catcher.urls.size(), 2);
}

// Help > Help opens the manual with the desktop's handler for file URLs; where none is installed
// (nor beside a build), the error box names the file that is missing.
TEST_F(GuiTest, HelpOpensTheManualOrNamesTheMissingFile) {
  const std::string saved = Program().folder;
  Program().folder = std::string(std::getenv("FW_BINARY_DIR")) + "/app/";
  front->MenuAction(menu_item::kHelp)->trigger();
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(),
            std::string(std::getenv("FW_BINARY_DIR")) + "/docs/manual.html");
  EXPECT_TRUE(QFileInfo(catcher.urls[0].toLocalFile()).isFile());

  const QString empty = QDir::tempPath() + "/fw_help_" + QString::number(getpid());
  QDir().mkpath(empty + "/bin");
  Program().folder = (empty + "/bin/").toStdString();
  QString shown;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->windowTitle() + ": " + box->text();
      box->button(QMessageBox::Ok)->click();
    }
  });
  front->MenuAction(menu_item::kHelp)->trigger();
  EXPECT_EQ(shown.toStdString(),
            "Error: Not found help file: " + QDir::cleanPath(empty).toStdString() +
                "/share/doc/flashwright/manual.html");
  EXPECT_EQ(catcher.urls.size(), 1);
  QDir(empty).removeRecursively();
  Program().folder = saved;
}

TEST_F(GuiTest, DownloadCenterDrawsItsModel) {
  front->OpenWindow(kDownloadCenterWindow);
  QWidget* dlc = front->Window(kDownloadCenterWindow);
  ASSERT_NE(dlc, nullptr);
  front->SetComboItems(kDownloadCenterWindow, dlc_ctl::kRecoveryList,
                       {"macOS Sonoma 14.1 RecoveryHDMetaDmg.pkg"}, 0);
  Screenshot(dlc, "download_center");
  dlc->close();  // its close box does nothing
  EXPECT_NE(front->Window(kDownloadCenterWindow), nullptr);
  QTest::mouseClick(Ctl<QPushButton>(*front, kDownloadCenterWindow, dlc_ctl::kExit),
                    Qt::LeftButton);
  EXPECT_EQ(front->Window(kDownloadCenterWindow), nullptr);
}

TEST_F(GuiTest, WorkerCallsRunOnTheUiThreadAndWaitForTheAnswer) {
  std::atomic<bool> done{false};
  MsgAnswer answer = MsgAnswer::Ok;
  std::string buttonText;
  std::thread worker([&] {
    fw::ShowStatus("Copying  ... 42%", 42);
    buttonText = TheUi().ControlText(kMainWindow, main_ctl::kDlCenter);
    answer = fw::MessageBox("Format", "All data will be destroyed. Continue?", MsgButtons::YesNo,
                            MsgIcon::Warning);
    done = true;
  });
  // Answer the box when it appears.
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      EXPECT_EQ(box->text().toStdString(), "All data will be destroyed. Continue?");
      box->button(QMessageBox::Yes)->click();
    }
  });
  timer.start(20);
  for (int i = 0; i < 500 && !done; ++i) QTest::qWait(10);
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(answer, MsgAnswer::Yes);
  EXPECT_EQ(buttonText, "DL Center");
  EXPECT_EQ(front->StatusText(), "Copying  ... 42%");
  EXPECT_EQ(front->StatusPercent(), 42);
}

TEST_F(GuiTest, StatusFromAWorkerDoesNotWaitForTheUiThread) {
  // The UI thread is busy (not pumping events) while the worker reports: the worker goes on.
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i <= 100; ++i) fw::ShowStatus("Copy " + std::to_string(i) + "%", i);
    TheUi().SetControlText(kMainWindow, main_ctl::kDlCenter, "Cancel DL");
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done);
  QApplication::processEvents();  // lets a blocked worker go, should the check above fail
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(front->StatusText(), "Copy 100%");
  // A device change posted from another thread refreshes the tree on the UI thread.
  std::thread::id refreshedOn;
  TheJobs().UpdateAllDrives = [&] { refreshedOn = std::this_thread::get_id(); };
  std::thread([] { TheWindows().PostEvent({kMainWindow, UiEventKind::Refresh, 0}); }).join();
  QApplication::processEvents();
  EXPECT_EQ(refreshedOn, std::this_thread::get_id());
  EXPECT_EQ(front->StatusPercent(), 100);
  EXPECT_EQ(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kDlCenter)->text(), "Cancel DL");
}

TEST_F(GuiTest, FormatButtonPreparesAnImageDiskAndAnswersItsBoxes) {
  // The real jobs, on an image file only: no block device of the machine is looked at.
  DefaultBlockBackend().SetOnlyDevices({"/"});
  SetPausesEnabled(false);
  WireJobs();
  const std::string img =
      QDir::tempPath().toStdString() + "/fw-gui-format-" + std::to_string(::getpid()) + ".img";
  ASSERT_EQ(CreateImageFile(img, 64 << 20), 1);
  ASSERT_EQ(AttachImageDisk(img, 512), 1);
  Settings().Boot_records = "Windows";
  Settings().FileSystem = "FAT32";
  Settings().MultiPartitions = 0;
  front->Dispatch({kMainWindow, UiEventKind::Refresh, 0});
  auto* tree = Ctl<QTreeWidget>(*front, kMainWindow, main_ctl::kDriveTree);
  ASSERT_GE(tree->topLevelItemCount(), 1);
  tree->setCurrentItem(tree->topLevelItem(0));

  std::vector<std::string> titles;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      titles.push_back(box->windowTitle().toStdString());
      box->button(QMessageBox::Ok)->click();
    }
  });
  timer.start(20);
  QTest::mouseClick(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kFormat), Qt::LeftButton);
  for (int i = 0; i < 3000 && (format_op_in_progress != 0 || titles.size() < 2); ++i) {
    QTest::qWait(10);
  }
  JoinWorkers();
  QApplication::processEvents();
  EXPECT_EQ(titles, (std::vector<std::string>{"Warning", "WARNING"}));
  EXPECT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  EXPECT_EQ(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kFormat)->text(), "Format Disk");
  // The image now has a partition table and a FAT32 volume in slot 1.
  QFile f(QString::fromStdString(img));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray mbr = f.read(512);
  EXPECT_EQ(static_cast<uint8_t>(mbr[510]), 0x55);
  EXPECT_EQ(static_cast<uint8_t>(mbr[511]), 0xAA);
  f.seek(63 * 512 + 82);
  EXPECT_EQ(f.read(8).toStdString(), "FAT32   ");
  DetachAllImageDisks();
  QFile::remove(QString::fromStdString(img));
  SetPausesEnabled(true);
}

// The tree always shows the row the next job will use: a refresh (the Refresh button, a device
// event, the fixed-disks option, the end of a job) keeps the disk that is still there, and
// otherwise shows row 0 selected.
TEST_F(GuiTest, TheTreeShowsTheDiskTheNextJobUses) {
  DefaultBlockBackend().SetOnlyDevices({"/"});
  SetPausesEnabled(false);
  WireJobs();
  const std::string base =
      QDir::tempPath().toStdString() + "/fw-gui-sel-" + std::to_string(::getpid()) + "-";
  for (const char* name : {"a.img", "b.img", "c.img"}) {
    ASSERT_EQ(CreateImageFile(base + name, 64 << 20), 1);
  }
  ASSERT_EQ(AttachImageDisk(base + "a.img", 512), 1);
  ASSERT_EQ(AttachImageDisk(base + "b.img", 512), 1);
  front->Dispatch({kMainWindow, UiEventKind::Refresh, 0});
  auto* tree = Ctl<QTreeWidget>(*front, kMainWindow, main_ctl::kDriveTree);
  auto shown = [&] {
    QApplication::processEvents();
    QTreeWidgetItem* item = tree->currentItem();
    return item && item->isSelected() ? item->text(0).toStdString() : std::string("(none)");
  };
  auto used = [] { return SetCurrentDisk() ? CurrentDisk().ProductId : std::string("(none)"); };
  // Nothing picked yet: row 0 is the disk a job would take, and the tree says so.
  EXPECT_NE(shown().find("a.img"), std::string::npos) << shown();
  EXPECT_NE(used().find("a.img"), std::string::npos);

  QTreeWidgetItem* b = nullptr;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    if (tree->topLevelItem(i)->text(0).contains("b.img")) b = tree->topLevelItem(i);
  }
  ASSERT_NE(b, nullptr);
  tree->setCurrentItem(b);
  EXPECT_NE(used().find("b.img"), std::string::npos);

  // A device event after a new image: B stays.
  ASSERT_EQ(AttachImageDisk(base + "c.img", 512), 1);
  front->Dispatch({kMainWindow, UiEventKind::Refresh, 0});
  EXPECT_NE(shown().find("b.img"), std::string::npos) << shown();
  EXPECT_NE(used().find("b.img"), std::string::npos);
  // The Refresh button and the fixed-disks option.
  QTest::mouseClick(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kRefresh), Qt::LeftButton);
  EXPECT_NE(shown().find("b.img"), std::string::npos) << shown();
  front->MenuAction(menu_item::kConfiguration)->trigger();
  QTest::mouseClick(Ctl<QCheckBox>(*front, kConfigWindow, cfg_ctl::kFixedDisks), Qt::LeftButton);
  QTest::mouseClick(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kOk), Qt::LeftButton);
  EXPECT_NE(shown().find("b.img"), std::string::npos) << shown();
  EXPECT_NE(used().find("b.img"), std::string::npos);

  // A format of B: its new partition row appears under it, and B is still the one shown.
  Settings().Boot_records = "Windows";
  Settings().FileSystem = "FAT32";
  Settings().MultiPartitions = 0;
  QTimer answers;
  QObject::connect(&answers, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->button(QMessageBox::Ok)->click();
    }
  });
  answers.start(20);
  QTest::mouseClick(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kFormat), Qt::LeftButton);
  JoinWorkers([] { QTest::qWait(10); });
  ASSERT_TRUE(LastFormatOutcome().ok) << LastFormatOutcome().failure;
  EXPECT_NE(shown().find("b.img"), std::string::npos) << shown();
  EXPECT_EQ(tree->currentItem()->childCount(), 1);
  EXPECT_NE(used().find("b.img"), std::string::npos);

  // B goes away: row 0 is shown, and it is what a job would use.
  QFile::remove(QString::fromStdString(base + "b.img"));
  front->Dispatch({kMainWindow, UiEventKind::Refresh, 0});
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0));
  EXPECT_NE(shown().find("a.img"), std::string::npos) << shown();
  EXPECT_NE(used().find("a.img"), std::string::npos);
  DetachAllImageDisks();
  for (const char* name : {"a.img", "c.img"}) QFile::remove(QString::fromStdString(base + name));
  SetPausesEnabled(true);
}

// A refusal or a result stays readable: the worker's next status line waits for the 2 s the
// program gives its status texts (the bar still moves meanwhile), the refresh's "Select the USB
// Flash Drive" waits too, and Check Now answers in a box over the Configuration window.
TEST_F(GuiTest, RefusalsAndResultsStayReadable) {
  using namespace std::chrono;
  // A job that reports every 20 ms.
  format_op_in_progress = 1;
  std::atomic<bool> stop{false};
  std::thread job([&] {
    for (int i = 0; !stop; ++i) {
      fw::ShowStatus("Copy " + std::to_string(i % 100) + "%", i % 100 + 1);
      std::this_thread::sleep_for(milliseconds(20));
    }
  });
  QTest::qWait(100);
  front->Window(kMainWindow)->close();
  const std::string refusal = "A job is running: cancel it or let it finish before closing";
  const auto refused = steady_clock::now();
  QApplication::processEvents();
  EXPECT_EQ(front->StatusText(), refusal);
  const int percent = front->StatusPercent();
  QTest::qWait(400);
  EXPECT_EQ(front->StatusText(), refusal);
  EXPECT_NE(front->StatusPercent(), percent);  // the bar goes on
  while (front->StatusText() == refusal && steady_clock::now() - refused < seconds(5)) {
    QTest::qWait(20);
  }
  EXPECT_GE(steady_clock::now() - refused, milliseconds(1900));
  EXPECT_EQ(front->StatusText().rfind("Copy ", 0), 0u) << front->StatusText();
  stop = true;
  job.join();
  QTest::qWait(kNoteMs + 100);  // the job's last lines are shown before the next part
  format_op_in_progress = 0;

  // Eject missing from the build, then the refresh that follows it.
  TheJobs().UpdateAllDrives = [] { fw::ShowStatus("Select the USB Flash Drive, please", -1); };
  QTest::mouseClick(Ctl<QPushButton>(*front, kMainWindow, main_ctl::kEject), Qt::LeftButton);
  EXPECT_EQ(front->StatusText(), "Eject is not available in this build");
  QTest::qWait(400);
  EXPECT_EQ(front->StatusText(), "Eject is not available in this build");
  QTest::qWait(1800);
  EXPECT_EQ(front->StatusText(), "Select the USB Flash Drive, please");

  // Check Now, with the Configuration window in front.
  front->MenuAction(menu_item::kConfiguration)->trigger();
  QString boxText;
  QWidget* boxParent = nullptr;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxText = box->text();
      boxParent = box->parentWidget();
      box->button(QMessageBox::Ok)->click();
    }
  });
  QTest::mouseClick(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kCheckNow), Qt::LeftButton);
  EXPECT_EQ(boxText.toStdString(), "Clover revision check is not available in this build");
  EXPECT_EQ(boxParent, front->Window(kConfigWindow));
}

// No test waits forever: a box that nobody answers, even one opened inside another timer's call,
// is closed and named.
TEST_F(GuiTest, WatchdogClosesAWindowNobodyAnswersAndNamesIt) {
  QStringList seen;
  ModalWatchdog quick([&](const QString& text) { seen << text; }, 300);
  QTimer::singleShot(
      0, [] { QMessageBox::warning(nullptr, "Replace", "The file exists. Replace it?"); });
  for (int i = 0; i < 500 && seen.isEmpty(); ++i) QTest::qWait(10);
  EXPECT_EQ(seen, QStringList{"Replace: The file exists. Replace it?"});
  QTest::qWait(50);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(GuiTest, MainWindowPlacementFollowsAndUpdatesTheSettings) {
  const QRect desk = QGuiApplication::primaryScreen()->geometry();
  // A position off the desktop puts the window in its middle.
  front.reset();
  Settings().WinX = desk.width() + 100;
  Settings().WinY = 10;
  front = std::make_unique<QtFrontEnd>();
  front->exitLoopOnQuit = false;
  front->OpenMainWindow();
  QWidget* main = front->Window(kMainWindow);
  QApplication::processEvents();
  EXPECT_EQ(main->pos(),
            QPoint(desk.width() / 2 - main->width() / 2, desk.height() / 2 - main->height() / 2));
  // A position on the desktop is kept.
  front.reset();
  Settings().WinX = 12;
  Settings().WinY = 34;
  front = std::make_unique<QtFrontEnd>();
  front->exitLoopOnQuit = false;
  front->OpenMainWindow();
  main = front->Window(kMainWindow);
  QApplication::processEvents();
  EXPECT_EQ(main->pos(), QPoint(12, 34));
  // Where the user moves it is what the settings file keeps at exit.
  main->move(40, 30);
  QApplication::processEvents();
  EXPECT_EQ(Settings().WinX, 40);
  EXPECT_EQ(Settings().WinY, 30);
}

// The Configuration window's Clover controls and the menu's revision title, with the real jobs:
// the local repository's list, "Check Now" against a code-hosting site on 127.0.0.1, the
// revision list, and "Local Repo" through the folder chooser.
TEST_F(GuiTest, CloverControlsOfTheConfigurationWindow) {
  fwtest::FakeCodeHost site;
  site.Activate();
  site.SetInlinePage({"5150", "5151"});
  const QString root = QDir::temp().filePath(QString("fw_gui_clover_%1").arg(getpid()));
  QDir(root).removeRecursively();
  const std::string repo = (root + "/repo").toStdString();
  const std::string other = (root + "/other").toStdString();
  fwtest::CloverIsoOptions iso;
  ASSERT_FALSE(fwtest::MakeCloverReleaseArchive(repo, iso).empty());
  iso.rev = "5070";
  ASSERT_FALSE(fwtest::MakeCloverReleaseArchive(repo, iso).empty());
  iso.rev = "5100";
  ASSERT_FALSE(fwtest::MakeCloverReleaseArchive(other, iso).empty());
  WireCloverJobs();
  Settings().CloverLocalRepository = repo + "/";
  Settings().InstallDataSet = "Local";
  auto until = [](const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) QTest::qWait(10);
    return done();
  };

  front->MenuAction(menu_item::kConfiguration)->trigger();
  auto* local = Ctl<QComboBox>(*front, kConfigWindow, cfg_ctl::kLocalDistrList);
  auto* localRev = Ctl<QLabel>(*front, kConfigWindow, cfg_ctl::kLocalDistrRev);
  auto* revisions = Ctl<QComboBox>(*front, kConfigWindow, cfg_ctl::kRevisionList);
  ASSERT_TRUE(until([&] { return local->count() == 2; }));
  EXPECT_EQ(local->itemText(0).toStdString(), "Clover-5119-X64.iso.7z");
  EXPECT_EQ(local->currentIndex(), 0);
  EXPECT_TRUE(until([&] { return localRev->text() == "Rev: 5119"; }));
  EXPECT_TRUE(local->isEnabled());
  local->setCurrentIndex(1);
  emit local->activated(1);
  EXPECT_TRUE(until([&] { return localRev->text() == "Rev: 5070"; }));
  EXPECT_EQ(TheCloverChoice().CloverLocalSelectedName, repo + "/Clover-5070-X64.iso.7z");

  QTest::mouseClick(Ctl<QRadioButton>(*front, kConfigWindow, cfg_ctl::kSourceDl), Qt::LeftButton);
  EXPECT_EQ(Settings().InstallDataSet, "DL");
  EXPECT_FALSE(local->isEnabled());
  QTest::mouseClick(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kCheckNow), Qt::LeftButton);
  ASSERT_TRUE(until([&] { return revisions->count() == 2 && revisions->isEnabled(); }));
  EXPECT_EQ(revisions->currentText().toStdString(), "5151");
  EXPECT_EQ(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kCheckNow)->text().toStdString(),
            "r5151");
  auto* date = Ctl<QLabel>(*front, kConfigWindow, cfg_ctl::kCheckDate);
  EXPECT_EQ(date->text().toStdString(), Settings().CloverLastRevCheckDate);
  EXPECT_EQ(date->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  QStringList titles;
  for (QAction* a : front->Window(kMainWindow)->findChild<QMenuBar*>()->actions())
    titles << a->text();
  EXPECT_TRUE(titles.contains(" Latest Clover: r5151")) << titles.join("|").toStdString();
  revisions->setCurrentIndex(1);
  emit revisions->activated(1);
  EXPECT_EQ(CloverDLRev(), "5150");
  Screenshot(front->Window(kConfigWindow), "configuration-clover");

  // "Local Repo": another folder, rescanned on a worker.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      d->setDirectory(QString::fromStdString(other));
      if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) name->setText("");
      static_cast<QDialog*>(d)->accept();
    }
  });
  answer.start(50);
  QTest::mouseClick(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kCloverRepo), Qt::LeftButton);
  answer.stop();
  EXPECT_EQ(Settings().CloverLocalRepository, other + "/");
  EXPECT_TRUE(until([&] { return local->count() == 1; }));
  EXPECT_EQ(local->itemText(0).toStdString(), "Clover-5100-X64.iso.7z");
  EXPECT_TRUE(until([&] { return localRev->text() == "Rev: 5100"; }));
  QTest::mouseClick(Ctl<QPushButton>(*front, kConfigWindow, cfg_ctl::kOk), Qt::LeftButton);
  JoinWorkers([] { QApplication::processEvents(); });
  QDir(root).removeRecursively();
}

}  // namespace
}  // namespace fw::qt

#include "gui_test.moc"
