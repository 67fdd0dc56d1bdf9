// Tools > "Extract HFS(HFS+) partition from DMG-files" in the desktop program, headless: the menu
// item starts the job on its worker, the DMG and folder choosers are answered as a user would,
// and the result box reports the extracted image, which matches the partition byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/clock.h"
#include "app/globals.h"
#include "app/job_wiring.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/workers.h"
#include "gui/front_end.h"
#include "platform/linux/block_backend.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/offscreen_app.h"
#include "tests/hfs/udif_writer.h"

namespace fw::qt {
namespace {

QApplication* App() { return OffscreenApp("fw_gui_hfs_tests"); }

class HfsMenuGui : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    watchdog = FailOnUnexpectedWindow();
    DefaultBlockBackend().SetOnlyDevices({"/"});
    SetPausesEnabled(false);
    TheJobs() = Jobs{};
    Settings() = SettingsRecord{};
    format_op_in_progress = 0;
    dir = QDir::tempPath() + "/fw-gui-hfs-" + QString::number(::getpid());
    QDir().mkpath(dir + "/out");
    hfs = fwtest::HfsPartitionBytes(2000, 5);
    QFile dmg(dir + "/Install macOS.dmg");
    ASSERT_TRUE(dmg.open(QIODevice::WriteOnly));
    const std::string bytes = fwtest::MakeHfsDmg(hfs);
    dmg.write(bytes.data(), static_cast<qint64>(bytes.size()));
    dmg.close();
    WireJobs();
    front = std::make_unique<QtFrontEnd>();
    front->exitLoopOnQuit = false;
    front->OpenMainWindow();
    SetUi(front.get());
    QObject::connect(&answers, &QTimer::timeout, [this] { Answer(); });
    answers.start(20);
  }
  void TearDown() override {
    JoinWorkers([] { QTest::qWait(10); });
    answers.stop();
    SetUi(nullptr);
    front.reset();
    TheJobs() = Jobs{};
    QDir(dir).removeRecursively();
    SetPausesEnabled(true);
  }
  // The choosers get the next answer of `answersToGive` ("" cancels); boxes are noted and closed.
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* d = qobject_cast<QFileDialog*>(modal)) {
      if (answersToGive.isEmpty()) return;
      const QString answer = answersToGive.first();
      if (answer.isEmpty()) {
        answersToGive.removeFirst();
        seen << "cancel " + d->windowTitle();
        d->reject();
        return;
      }
      d->selectFile(answer);
      if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) name->setText(answer);
      if (d->selectedFiles().value(0) != answer) return;  // not ready yet: the next tick
      answersToGive.removeFirst();
      seen << "chooser " + d->windowTitle();
      if (d->fileMode() != QFileDialog::Directory) filters = d->nameFilters();
      static_cast<QDialog*>(d)->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen << box->windowTitle() + ": " + box->text();
      box->button(QMessageBox::Ok)->click();
    }
  }
  bool WaitForIdle() {
    for (int i = 0; i < 3000; ++i) {
      QTest::qWait(10);
      if (RunningWorkerCount() == 0 && format_op_in_progress == 0) return true;
    }
    return false;
  }

  std::unique_ptr<ModalWatchdog> watchdog;
  std::unique_ptr<QtFrontEnd> front;
  QString dir;
  std::string hfs;
  QStringList answersToGive, seen, filters;
  QTimer answers;
};

TEST_F(HfsMenuGui, TheToolsItemExtractsThroughItsWorker) {
  QAction* item = front->MenuAction(menu_item::kExtractHfs);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text().toStdString(), "&Extract HFS(HFS+) partition from DMG-files");

  answersToGive = {dir + "/Install macOS.dmg", ""};  // then the folder chooser is cancelled
  item->trigger();
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(seen, (QStringList{"chooser Select DMG-file for extraction",
                               "cancel Select path to save image file:"}));
  EXPECT_EQ(filters, (QStringList{"dmg (*.dmg)", "All files (*.*)"}));

  seen.clear();
  answersToGive = {dir + "/Install macOS.dmg", dir + "/out"};
  item->trigger();
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(seen, (QStringList{
                      "chooser Select DMG-file for extraction",
                      "chooser Select path to save image file:", "Info: HFS volume Extracted."}));
  const QStringList images = QDir(dir + "/out").entryList(QDir::Files);
  ASSERT_EQ(images.size(), 1);
  QFile image(dir + "/out/" + images[0]);
  ASSERT_TRUE(image.open(QIODevice::ReadOnly));
  EXPECT_TRUE(image.readAll() == QByteArray(hfs.data(), static_cast<qsizetype>(hfs.size())));
}

}  // namespace
}  // namespace fw::qt
