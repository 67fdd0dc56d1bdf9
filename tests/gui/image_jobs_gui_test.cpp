// Backup and Restore from the main window, headless (QT_QPA_PLATFORM=offscreen): the buttons start
// the real workers on an image disk, the file choosers and boxes are answered like a user would,
// the buttons read "Backup Cancel" / "Restore Cancel" while the copy runs and cancel it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/job_wiring.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/workers.h"
#include "disk/inventory.h"
#include "gui/front_end.h"
#include "images/image_transfer.h"
#include "offscreen_app.h"
#include "platform/imagedisk/image_disk.h"
#include "platform/linux/block_backend.h"
#include "tests/gui/gui_test_support.h"

namespace fw::qt {
namespace {

constexpr int64_t MiB = 1024 * 1024;
constexpr int64_t kStart = 1 * MiB;
constexpr int64_t kLength = 40 * MiB;

QApplication* App() { return OffscreenApp("fw_gui_image_jobs_tests"); }

QByteArray ReadRange(const QString& path, int64_t offset, int64_t length) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || !f.seek(offset)) return {};
  return f.read(length);
}

QByteArray Random(int64_t length, unsigned seed) {
  QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
  std::mt19937 gen(seed);
  for (auto& b : bytes) b = static_cast<char>(gen());
  return bytes;
}

// Partition 1 entry of the image: type and sector count.
std::pair<int, uint32_t> Entry(const QString& path) {
  const QByteArray e = ReadRange(path, 0x1BE, 16);
  uint32_t count = 0;
  std::memcpy(&count, e.constData() + 12, 4);
  return {static_cast<uint8_t>(e[4]), count};
}

// The front end as the workers' Ui, keeping every status line they show.
class StatusRecorder final : public Ui {
 public:
  explicit StatusRecorder(Ui& front) : front_(front) {}
  void ShowStatus(const std::string& text, int percent) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(text);
    }
    front_.ShowStatus(text, percent);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }
  bool HasMainWindow() const override { return true; }
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons buttons,
                       MsgIcon icon) override {
    return front_.MessageBox(title, text, buttons, icon);
  }
  std::string OpenFileChooser(const std::string& title, const std::string& path,
                              const std::vector<FileFilter>& filters) override {
    return front_.OpenFileChooser(title, path, filters);
  }
  std::string SaveFileChooser(const std::string& title, const std::string& path,
                              const std::vector<FileFilter>& filters) override {
    return front_.SaveFileChooser(title, path, filters);
  }
  std::string FolderChooser(const std::string& title, const std::string& folder) override {
    return front_.FolderChooser(title, folder);
  }
  void SetControlText(int w, int c, const std::string& t) override {
    front_.SetControlText(w, c, t);
  }
  std::string ControlText(int w, int c) override { return front_.ControlText(w, c); }
  void SetControlEnabled(int w, int c, bool e) override { front_.SetControlEnabled(w, c, e); }
  void SetComboItems(int w, int c, const std::vector<std::string>& items, int sel) override {
    front_.SetComboItems(w, c, items, sel);
  }
  void DriveListChanged() override { front_.DriveListChanged(); }
  void ShowNote(const std::string& text, int percent) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(text);
    }
    front_.ShowNote(text, percent);
  }

 private:
  Ui& front_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class ImageJobsGui : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    watchdog = FailOnUnexpectedWindow();
    DefaultBlockBackend().SetOnlyDevices({"/"});
    SetPausesEnabled(false);
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    format_op_in_progress = 0;
    CancelMainThread = 0;
    dir = QDir::tempPath() + "/fw-gui-images-" + QString::number(::getpid());
    QDir().mkpath(dir);
    Settings().ZORImageLocalRepo = (dir + "/").toStdString();
    disk = dir + "/disk.img";
    // Partition 1 of type 0x0B from 1 MiB, 40 MiB of random bytes.
    QByteArray bytes = Random(kStart + kLength + MiB, 7);
    std::memset(bytes.data() + 0x1BE, 0, 64);
    bytes[0x1BE + 4] = 0x0B;
    const uint32_t first = kStart / 512, count = kLength / 512;
    std::memcpy(bytes.data() + 0x1BE + 8, &first, 4);
    std::memcpy(bytes.data() + 0x1BE + 12, &count, 4);
    bytes[510] = 0x55;
    bytes[511] = static_cast<char>(0xAA);
    QFile f(disk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
    f.close();
    WireJobs();
    ASSERT_EQ(AttachImageDisk(disk.toStdString(), 512), 1);
    front = std::make_unique<QtFrontEnd>();
    front->exitLoopOnQuit = false;
    front->OpenMainWindow();
    recorder = std::make_unique<StatusRecorder>(*front);
    SetUi(recorder.get());
    front->Dispatch({kMainWindow, UiEventKind::Refresh, 0});
    SelectPartition();
    // The copy waits at its start until the test opens the gate, so the running state can be seen.
    SetTransferTimerForTesting({[this] {
                                  while (!gate.load())
                                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                  return static_cast<int64_t>(
                                      std::chrono::steady_clock::now().time_since_epoch().count());
                                },
                                std::chrono::steady_clock::period::den});
    answers.start(20);
    QObject::connect(&answers, &QTimer::timeout, [this] { Answer(); });
  }
  void TearDown() override {
    gate = true;
    JoinWorkers([] { QTest::qWait(10); });
    answers.stop();
    SetTransferTimerForTesting({});
    SetUi(front.get());
    recorder.reset();
    front.reset();
    DetachAllImageDisks();
    TheJobs() = Jobs{};
    format_op_in_progress = 0;
    CancelMainThread = 0;
    QDir(dir).removeRecursively();
    SetPausesEnabled(true);
  }

  // Picks partition 1 in the tree, as the user does (a refresh keeps it selected).
  void SelectPartition() {
    QApplication::processEvents();
    auto* tree = qobject_cast<QTreeWidget*>(front->Control(kMainWindow, main_ctl::kDriveTree));
    ASSERT_NE(tree, nullptr);
    ASSERT_GE(tree->topLevelItemCount(), 1);
    ASSERT_GE(tree->topLevelItem(0)->childCount(), 1);
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
  }
  // Answers the chooser with `chosen` and every box with Yes / OK, noting what they showed.
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* d = qobject_cast<QFileDialog*>(modal)) {
      if (d != chooser) {
        chooser = d;
        offered = d->selectedFiles().value(0);
      }
      // What a user types into the name field. selectFile alone leaves the field as it is once
      // the field has the focus, and the chooser would return the file it offered.
      d->selectFile(chosen);
      if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) name->setText(chosen);
      if (d->selectedFiles().value(0) != chosen) return;  // not ready yet: the next tick
      seen << "chooser " + d->windowTitle();
      filter = d->selectedNameFilter();
      filters = d->nameFilters();
      // Qt's own replace question would open inside this timer call, where it cannot be
      // answered; the test means "replace" anyway.
      d->setOption(QFileDialog::DontConfirmOverwrite);
      static_cast<QDialog*>(d)->accept();  // QFileDialog::accept, protected there
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
      seen << "input " + input->windowTitle();
      input->setTextValue(typed);
      input->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen << box->windowTitle() + ": " + box->text();
      QAbstractButton* b = box->button(QMessageBox::Yes);
      if (!b) b = box->button(QMessageBox::Ok);
      if (b) b->click();
    }
  }
  QPushButton* Button(int control) {
    return qobject_cast<QPushButton*>(front->Control(kMainWindow, control));
  }
  // Waits until the copy is about to start and the button reads its cancel text.
  bool WaitForRunning(int control, const QString& text) {
    for (int i = 0; i < 1000; ++i) {
      if (Button(control)->text() == text) return true;
      QTest::qWait(10);
    }
    return false;
  }
  bool WaitForEnd(int control, const QString& text) {
    for (int i = 0; i < 2000; ++i) {
      if (format_op_in_progress == 0 && Button(control)->text() == text) {
        // The worker's last call (the inventory refresh) runs after the button text; let it end.
        QTest::qWait(200);
        return true;
      }
      QTest::qWait(10);
    }
    return false;
  }

  std::unique_ptr<QtFrontEnd> front;
  std::unique_ptr<StatusRecorder> recorder;
  QString dir, disk, chosen, typed, filter, offered;
  QStringList filters, seen;
  QPointer<QFileDialog> chooser;
  QTimer answers;
  std::atomic<bool> gate{false};
  std::unique_ptr<ModalWatchdog> watchdog;
};

TEST_F(ImageJobsGui, BackupThenRestoreFromTheButtons) {
  const QByteArray partition = ReadRange(disk, kStart, kLength);
  chosen = dir + "/part.hfs";
  QTest::mouseClick(Button(main_ctl::kBackup), Qt::LeftButton);
  ASSERT_TRUE(WaitForRunning(main_ctl::kBackup, "Backup Cancel"));
  EXPECT_FALSE(front->Control(kMainWindow, main_ctl::kDriveTree)->isEnabled());
  gate = true;
  ASSERT_TRUE(WaitForEnd(main_ctl::kBackup, "Backup"));
  EXPECT_TRUE(front->Control(kMainWindow, main_ctl::kDriveTree)->isEnabled());
  EXPECT_EQ(seen, (QStringList{"chooser Save to ZORImage file:",
                               "Information: You have selected following file:\n" + chosen}));
  EXPECT_EQ(offered.toStdString(), Settings().ZORImageLocalRepo + "PartSave.bin");
  EXPECT_EQ(filter.toStdString(), "HFS/HFS+/Binary (*.hfs *.bin)");
  EXPECT_EQ(filters.join("|").toStdString(),
            "Binary (*.bin)|HFS/HFS+ (*.hfs)|HFS/HFS+/Binary (*.hfs *.bin)|All files (*.*)");
  std::vector<std::string> lines = recorder->Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(lines[lines.size() - 2].ends_with(" Done")) << lines[lines.size() - 2];
  EXPECT_TRUE(Contains(lines, "Write buffered Data to the Disk"));
  // The first chunk always shows its progress line.
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("40% 16 MB/40 MB ") && l.find(" Remain: ") != std::string::npos;
  }));
  EXPECT_EQ(ReadRange(chosen, 0, kLength + 1), partition);

  // Restore a shorter image: its bytes land on the partition, the entry becomes 0xAF of its length.
  const int64_t imageLength = 17 * MiB + 512;
  const QByteArray image = Random(imageLength, 11);
  chosen = dir + "/recovery.hfs";
  {
    QFile f(chosen);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(image), imageLength);
  }
  seen.clear();
  recorder->Clear();
  gate = false;
  SelectPartition();
  QTest::mouseClick(Button(main_ctl::kRestore), Qt::LeftButton);
  ASSERT_TRUE(WaitForRunning(main_ctl::kRestore, "Restore Cancel"));
  gate = true;
  ASSERT_TRUE(WaitForEnd(main_ctl::kRestore, "Restore"));
  ASSERT_EQ(seen.size(), 2);
  EXPECT_EQ(seen[0], "chooser Select ZORImage file to Restore");
  EXPECT_TRUE(
      seen[1].startsWith("Information: You have selected following file:\n" + chosen + "\n"))
      << seen[1].toStdString();
  EXPECT_EQ(ReadRange(disk, kStart, imageLength), image);
  EXPECT_EQ(ReadRange(disk, kStart + imageLength, kLength - imageLength),
            partition.mid(imageLength));
  EXPECT_EQ(Entry(disk), (std::pair<int, uint32_t>{0xAF, imageLength / 512}));
  lines = recorder->Lines();
  EXPECT_TRUE(Contains(lines, "Write buffered Data to the Disk"));
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("17 MB/17 MB ") && l.ends_with(" Done");
  }));
}

TEST_F(ImageJobsGui, CancelButtonsStopTheCopyAfterOneChunk) {
  // Backup: the file holds the first 16 MiB chunk, then the cancel is reported.
  chosen = dir + "/cut.bin";
  QTest::mouseClick(Button(main_ctl::kBackup), Qt::LeftButton);
  ASSERT_TRUE(WaitForRunning(main_ctl::kBackup, "Backup Cancel"));
  QTest::mouseClick(Button(main_ctl::kBackup), Qt::LeftButton);
  EXPECT_EQ(CancelMainThread.load(), 1);
  gate = true;
  ASSERT_TRUE(WaitForEnd(main_ctl::kBackup, "Backup"));
  EXPECT_TRUE(Contains(recorder->Lines(), "Backup Cancelled"));
  EXPECT_EQ(QFileInfo(chosen).size(), 16 * MiB) << seen.join(" | ").toStdString();
  EXPECT_EQ(CancelMainThread.load(), 0);

  // Restore: only part of the image is written, so the entry keeps its old type and length.
  chosen = dir + "/big.hfs";
  {
    QFile f(chosen);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(Random(32 * MiB, 3)), 32 * MiB);
  }
  gate = false;
  SelectPartition();
  QTest::mouseClick(Button(main_ctl::kRestore), Qt::LeftButton);
  ASSERT_TRUE(WaitForRunning(main_ctl::kRestore, "Restore Cancel"));
  QTest::mouseClick(Button(main_ctl::kRestore), Qt::LeftButton);
  gate = true;
  ASSERT_TRUE(WaitForEnd(main_ctl::kRestore, "Restore"));
  // The last line the user is left with says what the partition now holds.
  EXPECT_EQ(front->StatusText(),
            "Restore Cancelled: partition 1 holds an incomplete image, its entry is unchanged");
  EXPECT_EQ(Entry(disk), (std::pair<int, uint32_t>{0x0B, kLength / 512}));
}

// Options > New Disk Image and Attach Disk Image, answered through the real dialogs: the new image
// has the typed size, starts blank even over an old file, and both images join the drive tree.
TEST_F(ImageJobsGui, NewAndAttachedImagesJoinTheDriveTree) {
  auto* tree = qobject_cast<QTreeWidget*>(front->Control(kMainWindow, main_ctl::kDriveTree));
  ASSERT_NE(tree, nullptr);
  const int before = tree->topLevelItemCount();
  chosen = dir + "/new.img";
  {
    QFile f(chosen);  // an old image with a partition table: the new one must not keep it
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(Random(2 * MiB, 5)), 2 * MiB);
  }
  typed = "64M";
  front->Dispatch({kMainWindow, UiEventKind::Menu, menu_item::kNewImage});
  QTest::qWait(100);
  EXPECT_TRUE(seen.contains("chooser New Disk Image")) << seen.join(" | ").toStdString();
  EXPECT_TRUE(seen.contains("input New Disk Image")) << seen.join(" | ").toStdString();
  EXPECT_EQ(QFileInfo(chosen).size(), 64 * MiB) << seen.join(" | ").toStdString();
  QFile created(chosen);
  ASSERT_TRUE(created.open(QIODevice::ReadOnly));
  const QByteArray head = created.read(2 * MiB);
  EXPECT_EQ(head, QByteArray(2 * MiB, '\0'));
  EXPECT_EQ(tree->topLevelItemCount(), before + 1);

  chosen = dir + "/other.img";
  {
    QFile f(chosen);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(QByteArray(8 * MiB, '\0')), 8 * MiB);
  }
  seen.clear();
  front->Dispatch({kMainWindow, UiEventKind::Menu, menu_item::kAttachImage});
  QTest::qWait(100);
  EXPECT_TRUE(seen.contains("chooser Attach Disk Image")) << seen.join(" | ").toStdString();
  EXPECT_EQ(tree->topLevelItemCount(), before + 2) << seen.join(" | ").toStdString();
  // Partition 1 of the first image, picked in SetUp, is still the row shown and used.
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0)->child(0));
  EXPECT_TRUE(tree->currentItem()->isSelected());
  ASSERT_EQ(SetCurrentDisk(), 1);
  EXPECT_EQ(CurrentDisk().SelectedPartition, 1);
  EXPECT_EQ(CurrentDisk().ProductId, "disk.img");
}

}  // namespace
}  // namespace fw::qt
