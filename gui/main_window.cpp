#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include "app/models/jobs.h"
#include "app/settings.h"
#include "gui/front_end.h"
#include "gui/widgets.h"

namespace fw::qt {

void QtFrontEnd::OpenMainWindow() {
  auto* mw = new MainWindow([this] { Dispatch({kMainWindow, UiEventKind::Close, 0}); });
  main_ = mw;
  const WindowModel model = MainWindowModel();
  mw->setWindowTitle(Q(model.title));
  mw->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  for (const MenuModel& menu : model.menus) {
    QMenu* m = mw->menuBar()->addMenu(Q(menu.title));
    if (menu.items.empty()) latestClover_ = m;
    for (const MenuItemModel& item : menu.items) {
      if (item.separator) {
        m->addSeparator();
        continue;
      }
      QAction* a = m->addAction(Image(item.image), Q(item.text));
      const int number = item.number;
      connect(a, &QAction::triggered, this, [this, number] {
        Dispatch({kMainWindow, UiEventKind::Menu, number});
      });
      actions_[number] = a;
    }
  }
  if (latestClover_) latestClover_->setTitle(Q(LatestCloverMenuTitle(Settings().CloverLastRev)));
  // The disk-image items need the image-disk backend.
  actions_[menu_item::kAttachImage]->setEnabled(static_cast<bool>(TheJobs().AttachDiskImage));
  actions_[menu_item::kNewImage]->setEnabled(static_cast<bool>(TheJobs().CreateDiskImage));
  if (TheJobs().HFSDriversInstalled) {
    const bool installed = TheJobs().HFSDriversInstalled();
    actions_[menu_item::kInstallHfs]->setEnabled(!installed);
    actions_[menu_item::kUnInstallHfs]->setEnabled(installed);
  }
  mw->onEscape = [this] { Dispatch({kMainWindow, UiEventKind::Menu, menu_item::kQuit}); };

  auto* central = new QWidget(mw);
  central->setFixedSize(model.width, model.height);
  mw->setCentralWidget(central);
  windows_[kMainWindow].window = mw;
  Build(kMainWindow, central);
  mw->adjustSize();
  mw->setFixedSize(mw->sizeHint());

  SetUi(this);
  SetWindows(this);
  ShowStatus("", 0);

  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect desk = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  const Placement p =
      CorrectWinPosition(desk.width(), desk.height(), static_cast<int>(Settings().WinX),
                         static_cast<int>(Settings().WinY), mw->width(), mw->height());
  mw->move(p.x, p.y);
  mw->show();
  RebuildTree();
}

void QtFrontEnd::DriveListChanged() {
  Post(this, [this] { RebuildTree(); });
}

void QtFrontEnd::RebuildTree() {
  auto* t = qobject_cast<QTreeWidget*>(Control(kMainWindow, main_ctl::kDriveTree));
  if (!t) return;
  const QSignalBlocker block(t);
  t->clear();
  if (!TheJobs().DriveTreeRows) return;
  QTreeWidgetItem* disk = nullptr;
  QTreeWidgetItem* selected = nullptr;
  for (const DriveTreeRow& row : TheJobs().DriveTreeRows()) {
    QTreeWidgetItem* item = nullptr;
    if (row.isPartition && disk) {
      item = new QTreeWidgetItem(disk);
    } else {
      item = new QTreeWidgetItem(t);
      disk = item;
    }
    item->setText(0, Q(row.text));
    item->setIcon(0, Image(row.isPartition ? 6 : 5));
    if (row.selected) selected = item;
  }
  t->expandAll();
  // The row the next job uses is the one the user sees selected.
  if (selected) {
    t->setCurrentItem(selected);
    t->scrollToItem(selected);
  }
  if (afterTreeDrawn_) QTimer::singleShot(0, this, afterTreeDrawn_);
}

namespace {
// Rows in display order, as the inventory numbers them.
std::vector<QTreeWidgetItem*> Rows(QTreeWidget* t) {
  std::vector<QTreeWidgetItem*> rows;
  for (int i = 0; i < t->topLevelItemCount(); ++i) {
    QTreeWidgetItem* d = t->topLevelItem(i);
    rows.push_back(d);
    for (int j = 0; j < d->childCount(); ++j) rows.push_back(d->child(j));
  }
  return rows;
}
}  // namespace

int QtFrontEnd::SelectedDriveRow() {
  return OnUi(this, [&] {
    auto* t = qobject_cast<QTreeWidget*>(Control(kMainWindow, main_ctl::kDriveTree));
    if (!t || !t->currentItem()) return -1;
    const auto rows = Rows(t);
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i] == t->currentItem()) return static_cast<int>(i);
    }
    return -1;
  });
}

void QtFrontEnd::SelectDriveRow(int row) {
  OnUi(this, [&] {
    auto* t = qobject_cast<QTreeWidget*>(Control(kMainWindow, main_ctl::kDriveTree));
    if (!t) return;
    const QSignalBlocker block(t);
    const auto rows = Rows(t);
    t->setCurrentItem(row >= 0 && row < static_cast<int>(rows.size()) ? rows[row] : nullptr);
  });
}

void QtFrontEnd::SetMenuItemEnabled(int item, bool enabled) {
  OnUi(this, [&] {
    if (QAction* a = MenuAction(item)) a->setEnabled(enabled);
  });
}

}  // namespace fw::qt
