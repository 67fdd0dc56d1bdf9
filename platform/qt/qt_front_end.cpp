#include "platform/qt/qt_front_end.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <mutex>

#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/window_model.h"
#include "app/settings.h"

namespace fw::qt {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
QColor C(Rgb c) { return QColor(c.r, c.g, c.b); }

// Runs `f` on the UI thread and returns its result; the calling worker waits.
template <typename F>
auto OnUi(QObject* context, F f) -> decltype(f()) {
  if (QThread::currentThread() == context->thread()) return f();
  using R = decltype(f());
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(
        context, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

// Runs `f` on the UI thread without waiting: status and control updates from workers must not
// stall a copy loop, and calls from one thread still arrive in the order they were made. `f`
// must own what it uses.
template <typename F>
void Post(QObject* context, F f) {
  if (QThread::currentThread() == context->thread()) {
    f();
  } else {
    QMetaObject::invokeMethod(context, std::move(f), Qt::QueuedConnection);
  }
}

// The seven small images: menu items 0..4, disk and partition icons 5 and 6.
QIcon Image(int index) {
  QStyle* st = QApplication::style();
  switch (index) {
    case 0:
      return st->standardIcon(QStyle::SP_FileDialogDetailedView);
    case 1:
      return st->standardIcon(QStyle::SP_DriveFDIcon);
    case 2:
      return st->standardIcon(QStyle::SP_DialogSaveButton);
    case 3:
      return st->standardIcon(QStyle::SP_DialogHelpButton);
    case 4:
      return st->standardIcon(QStyle::SP_MessageBoxInformation);
    case 5:
      return st->standardIcon(QStyle::SP_DriveHDIcon);
    case 6:
      return st->standardIcon(QStyle::SP_DirIcon);
    default:
      return {};
  }
}

// The About picture: a flash drive, drawn rather than shipped.
QPixmap AboutPicture() {
  QPixmap pm(72, 72);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(QColor(190, 190, 200));
  p.drawRoundedRect(24, 4, 24, 16, 2, 2);
  p.setBrush(QColor(40, 40, 40));
  p.drawRect(29, 9, 4, 4);
  p.drawRect(39, 9, 4, 4);
  p.setBrush(QColor(102, 204, 255));
  p.drawRoundedRect(16, 20, 40, 48, 6, 6);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(13);
  p.setFont(f);
  p.drawText(QRect(16, 28, 40, 32), Qt::AlignCenter, "EFI");
  return pm;
}

class LauncherTaskbar final : public TaskbarProgress {
 protected:
  void Publish(int state, int64_t value, int64_t maximum) override {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage m = QDBusMessage::createSignal("/org/flashwright/launcher",
                                                "com.canonical.Unity.LauncherEntry", "Update");
    QVariantMap props;
    props["progress"] = maximum > 0 ? static_cast<double>(value) / maximum : 0.0;
    props["progress-visible"] = state != kTaskbarNoProgress;
    props["urgent"] = state == kTaskbarError;
    m << QString("application://flashwright.desktop") << props;
    bus.send(m);
  }
};

}  // namespace

class StatusCanvas : public QWidget {
 public:
  explicit StatusCanvas(QWidget* parent) : QWidget(parent) {}
  void Set(const std::string& text, int percent) {
    text_ = text;
    percent_ = percent;
    update();
  }
  std::string text_;
  int percent_ = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QPalette pal = palette();
    const QColor win = pal.color(QPalette::Base), face = pal.color(QPalette::Button);
    const Rgb bg =
        StatusBackground({static_cast<uint8_t>(win.red()), static_cast<uint8_t>(win.green()),
                          static_cast<uint8_t>(win.blue())},
                         {static_cast<uint8_t>(face.red()), static_cast<uint8_t>(face.green()),
                          static_cast<uint8_t>(face.blue())});
    p.fillRect(rect(), C(bg));
    const QFontMetrics fm(font());
    const QString text = Q(text_);
    const StatusLayout s =
        LayoutStatus(width(), height(), percent_, fm.horizontalAdvance(text), fm.height());
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    auto outline = [&](const Rect& r, Rgb colour) {
      p.setPen(C(colour));
      p.drawRoundedRect(QRect(r.x, r.y, r.width - 1, r.height - 1), 3, 3);
    };
    outline(s.whiteOutline, kStatusOuterLine);
    outline(s.borderOutline, kStatusBorder);
    if (s.bar.width > 0) {
      p.setPen(Qt::NoPen);
      p.setBrush(C(kStatusBar));
      p.drawRoundedRect(QRect(s.bar.x, s.bar.y, s.bar.width, s.bar.height), 2, 2);
    }
    p.setPen(Qt::black);
    p.drawText(s.textX, s.textY + fm.ascent(), text);
  }
};

namespace {

class LinkLabel : public QLabel {
 public:
  LinkLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
      : QLabel(text, parent), onClick_(std::move(onClick)) {
    setCursor(Qt::PointingHandCursor);
    Colour(kHyperlinkGrey);
  }

 protected:
  void enterEvent(QEnterEvent*) override { Colour(kHyperlinkHover); }
  void leaveEvent(QEvent*) override { Colour(kHyperlinkGrey); }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) onClick_();
  }

 private:
  void Colour(Rgb c) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, C(c));
    setPalette(p);
  }
  std::function<void()> onClick_;
};

// Secondary windows hand their close box to the dispatcher instead of closing themselves.
class ModelWindow : public QWidget {
 public:
  ModelWindow(std::function<void()> onClose) : onClose_(std::move(onClose)) {}
  bool closing = false;

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (closing) return e->accept();
    e->ignore();
    onClose_();
  }

 private:
  std::function<void()> onClose_;
};

class MainWindow : public QMainWindow {
 public:
  MainWindow(std::function<void()> onClose) : onClose_(std::move(onClose)) {}
  bool closing = false;
  std::function<void()> onEscape;

 protected:
  // Esc is the Quit item's key; it reaches here when no control of the window used it.
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && onEscape) {
      onEscape();
      return;
    }
    QMainWindow::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    if (closing) return e->accept();
    e->ignore();
    onClose_();
  }
  void moveEvent(QMoveEvent* e) override {
    QMainWindow::moveEvent(e);
    Settings().WinX = pos().x();
    Settings().WinY = pos().y();
  }

 private:
  std::function<void()> onClose_;
};

}  // namespace

void SetUpApplicationLook() {
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  // The control sizes are fixed pixels: a condensed face and tight indicator spacing keep every
  // text inside its box.
  QFont f("DejaVu Sans Condensed");
  f.setPixelSize(11);
  QApplication::setFont(f);
  qApp->setStyleSheet("QRadioButton, QCheckBox { spacing: 3px; }");
}

std::unique_ptr<TaskbarProgress> NewLauncherTaskbar() {
  if (!QDBusConnection::sessionBus().isConnected()) return nullptr;
  return std::make_unique<LauncherTaskbar>();
}

QtFrontEnd::QtFrontEnd() : taskbar_(NewLauncherTaskbar()), noteTimer_(new QTimer(this)) {
  noteTimer_->setSingleShot(true);
  connect(noteTimer_, &QTimer::timeout, this, [this] {
    if (!heldText_) return;
    const std::string text = *heldText_;
    heldText_.reset();
    SetStatus(text, status_ ? status_->percent_ : 0);
  });
}

QtFrontEnd::~QtFrontEnd() {
  SetUi(nullptr);
  SetWindows(nullptr);
  for (auto& [n, b] : windows_) {
    if (b.window) {
      if (auto* m = dynamic_cast<ModelWindow*>(b.window.data())) m->closing = true;
      if (auto* m = dynamic_cast<MainWindow*>(b.window.data())) m->closing = true;
      delete b.window.data();
    }
  }
}

const std::string& QtFrontEnd::StatusText() const { return status_->text_; }
int QtFrontEnd::StatusPercent() const { return status_->percent_; }

void QtFrontEnd::EndQuestions() {
  OnUi(this, [this] { questionsEnded_ = true; });
}

void QtFrontEnd::Dispatch(const UiEvent& event) {
  dispatcher_.Handle(event);
  if (dispatcher_.QuitRequested() && exitLoopOnQuit) QCoreApplication::exit(0);
}

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

QWidget* QtFrontEnd::Window(int window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.window.data();
}

QWidget* QtFrontEnd::Control(int window, int control) const {
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second.window) return nullptr;
  auto c = it->second.controls.find(control);
  return c == it->second.controls.end() ? nullptr : c->second.data();
}

QAction* QtFrontEnd::MenuAction(int item) const {
  auto it = actions_.find(item);
  return it == actions_.end() ? nullptr : it->second;
}

void QtFrontEnd::Build(int window, QWidget* host) {
  const WindowModel model = WindowModelFor(window);
  Built& built = windows_[window];
  std::map<int, QButtonGroup*> groups;
  std::vector<QWidget*> frames;
  auto event = [this, window](UiEventKind kind, int n) { Dispatch({window, kind, n}); };
  for (const ControlModel& c : model.controls) {
    QWidget* w = nullptr;
    const int n = c.number;
    switch (c.kind) {
      case ControlKind::Frame: {
        auto* g = new QGroupBox(Q(c.text), host);
        frames.push_back(g);
        w = g;
        break;
      }
      case ControlKind::Tree: {
        auto* t = new QTreeWidget(host);
        t->setHeaderHidden(true);
        t->setRootIsDecorated(false);
        t->setIndentation(16);
        t->setIconSize(QSize(16, 16));
        connect(t, &QTreeWidget::currentItemChanged, this,
                [event, n] { event(UiEventKind::Control, n); });
        w = t;
        break;
      }
      case ControlKind::Canvas:
        status_ = new StatusCanvas(host);
        w = status_;
        break;
      case ControlKind::Button: {
        auto* b = new QPushButton(Q(c.text), host);
        connect(b, &QPushButton::clicked, this, [event, n] { event(UiEventKind::Control, n); });
        w = b;
        break;
      }
      case ControlKind::Hyperlink:
        w = new LinkLabel(Q(c.text), host, [event, n] { event(UiEventKind::MouseDown, n); });
        break;
      case ControlKind::Option: {
        auto* r = new QRadioButton(Q(c.text), host);
        QButtonGroup*& g = groups[c.group];
        if (!g) g = new QButtonGroup(host);
        g->addButton(r);
        connect(r, &QRadioButton::clicked, this, [event, n] { event(UiEventKind::Control, n); });
        w = r;
        break;
      }
      case ControlKind::DropDown: {
        auto* cb = new QComboBox(host);
        for (const std::string& item : c.items) cb->addItem(Q(item));
        connect(cb, &QComboBox::activated, this, [event, n] { event(UiEventKind::Control, n); });
        w = cb;
        break;
      }
      case ControlKind::Text: {
        auto* l = new QLabel(Q(c.text), host);
        l->setWordWrap(true);
        l->setAlignment(c.centred ? Qt::AlignHCenter | Qt::AlignTop : Qt::AlignLeft | Qt::AlignTop);
        w = l;
        break;
      }
      case ControlKind::TextField: {
        auto* e = new QLineEdit(Q(c.text), host);
        if (c.maxLength > 0) e->setMaxLength(c.maxLength);
        if (c.digitsOnly) {
          e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        }
        connect(e, &QLineEdit::textEdited, this, [event, n] { event(UiEventKind::Control, n); });
        w = e;
        break;
      }
      case ControlKind::CheckBox: {
        auto* b = new QCheckBox(Q(c.text), host);
        connect(b, &QCheckBox::clicked, this, [event, n] { event(UiEventKind::Control, n); });
        w = b;
        break;
      }
      case ControlKind::Picture: {
        auto* l = new QLabel(host);
        l->setPixmap(AboutPicture());
        l->setAlignment(Qt::AlignCenter);
        w = l;
        break;
      }
    }
    w->setGeometry(c.x, c.y, c.width, c.height);
    if (!c.tooltip.empty()) w->setToolTip(Q(c.tooltip));
    w->setObjectName(QString("c%1").arg(n));
    built.controls[n] = w;
  }
  // Frames lie under the controls they hold, whatever their order in the model.
  for (QWidget* f : frames) f->lower();
}

bool QtFrontEnd::HasMainWindow() const { return main_ != nullptr; }

void QtFrontEnd::SetStatus(const std::string& text, int percent) {
  if (!status_) return;
  if (noteTimer_->isActive()) {
    heldText_ = text;
    status_->Set(status_->text_, percent);
  } else {
    status_->Set(text, percent);
  }
  NoteStatusPercent(percent);
  if (taskbar_) ApplyStatusToTaskbar(*taskbar_, percent);
}

void QtFrontEnd::ShowStatus(const std::string& text, int percent) {
  Post(this, [this, text, percent] { SetStatus(text, percent); });
}

void QtFrontEnd::ShowNote(const std::string& text, int percent) {
  Post(this, [this, text, percent] {
    noteTimer_->stop();
    heldText_.reset();
    SetStatus(text, percent);
    noteTimer_->start(kNoteMs);
  });
}

QWidget* QtFrontEnd::DialogParent() const {
  for (int w : {kConfigWindow, kDownloadCenterWindow, kAboutWindow}) {
    QWidget* win = Window(w);
    if (win && win->isVisible()) return win;
  }
  return main_;
}

MsgAnswer QtFrontEnd::MessageBox(const std::string& title, const std::string& text,
                                 MsgButtons buttons, MsgIcon icon) {
  return OnUi(this, [&] {
    if (questionsEnded_) {
      FW_LOG("The program is ending: " + title + " answered without asking: " + text);
      return SafeAnswer(buttons);
    }
    QMessageBox box(DialogParent());
    box.setWindowTitle(Q(title));
    box.setText(Q(text));
    switch (icon) {
      case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
      case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
      case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
      case MsgIcon::None:
        break;
    }
    using B = QMessageBox::StandardButton;
    switch (buttons) {
      case MsgButtons::Ok:
        box.setStandardButtons(B::Ok);
        break;
      case MsgButtons::OkCancel:
        box.setStandardButtons(B::Ok | B::Cancel);
        break;
      case MsgButtons::YesNo:
        box.setStandardButtons(B::Yes | B::No);
        break;
      case MsgButtons::YesNoCancel:
        box.setStandardButtons(B::Yes | B::No | B::Cancel);
        break;
      case MsgButtons::RetryCancel:
        box.setStandardButtons(B::Retry | B::Cancel);
        break;
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
      case B::Ok:
        return MsgAnswer::Ok;
      case B::Yes:
        return MsgAnswer::Yes;
      case B::No:
        return MsgAnswer::No;
      case B::Retry:
        return MsgAnswer::Retry;
      default:
        // Esc or the close box: the safe answer.
        return SafeAnswer(buttons);
    }
  });
}

namespace {
// Qt's name filters: "Text (*.a *.b)" joined by ";;"; *selected gets the preselected one.
QString Filters(const std::vector<FileFilter>& filters, QString* selected = nullptr) {
  QStringList list;
  for (const FileFilter& f : filters) {
    QString d = Q(f.description);
    if (!d.contains('(')) d += " (" + Q(f.pattern) + ")";
    // Qt separates the patterns in the parentheses by spaces; "*.hfs;*.bin" would be one
    // pattern that matches no file.
    const qsizetype open = d.lastIndexOf('(');
    d = d.left(open) + d.mid(open).replace(';', ' ');
    if (f.preselected && selected) *selected = d;
    list << d;
  }
  return list.join(";;");
}
}  // namespace

std::string QtFrontEnd::OpenFileChooser(const std::string& title, const std::string& defaultPath,
                                        const std::vector<FileFilter>& filters) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    QString selected;
    const QString list = Filters(filters, &selected);
    return S(QFileDialog::getOpenFileName(DialogParent(), Q(title), Q(defaultPath), list,
                                          selected.isEmpty() ? nullptr : &selected));
  });
}

std::string QtFrontEnd::SaveFileChooser(const std::string& title, const std::string& defaultPath,
                                        const std::vector<FileFilter>& filters) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    QString selected;
    QFileDialog dialog(DialogParent(), Q(title), QString(), Filters(filters, &selected));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!selected.isEmpty()) dialog.selectNameFilter(selected);
    // After the filter: choosing a filter renames the offered file to its first pattern's suffix
    // ("PartSave.bin" would become "PartSave.hfs").
    dialog.selectFile(Q(defaultPath));
    if (dialog.exec() != QDialog::Accepted) return std::string();
    return S(dialog.selectedFiles().value(0));
  });
}

std::string QtFrontEnd::FolderChooser(const std::string& title, const std::string& initial) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    return S(QFileDialog::getExistingDirectory(DialogParent(), Q(title), Q(initial)));
  });
}

void QtFrontEnd::SetControlText(int window, int control, const std::string& text) {
  Post(this, [this, window, control, text] {
    if (window == kMainWindow && control == main_ctl::kLatestCloverTitle) {
      if (latestClover_) latestClover_->setTitle(Q(text));
      return;
    }
    QWidget* w = Control(window, control);
    const QSignalBlocker block(w);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      b->setText(Q(text));
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      l->setText(Q(text));
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      e->setText(Q(text));
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      g->setTitle(Q(text));
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      c->setCurrentIndex(c->findText(Q(text)));
    } else if (control == main_ctl::kStatus && window == kMainWindow && status_) {
      SetStatus(text, status_->percent_);
    }
  });
}

std::string QtFrontEnd::ControlText(int window, int control) {
  return OnUi(this, [&]() -> std::string {
    QWidget* w = Control(window, control);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return S(b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) return S(l->text());
    if (auto* e = qobject_cast<QLineEdit*>(w)) return S(e->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) return S(g->title());
    if (auto* c = qobject_cast<QComboBox*>(w)) return S(c->currentText());
    if (window == kMainWindow && control == main_ctl::kStatus && status_) return status_->text_;
    return "";
  });
}

void QtFrontEnd::SetControlEnabled(int window, int control, bool enabled) {
  Post(this, [this, window, control, enabled] {
    if (QWidget* w = Control(window, control)) w->setEnabled(enabled);
  });
}

void QtFrontEnd::SetComboItems(int window, int control, const std::vector<std::string>& items,
                               int selected) {
  Post(this, [this, window, control, items, selected] {
    auto* c = qobject_cast<QComboBox*>(Control(window, control));
    if (!c) return;
    const QSignalBlocker block(c);
    c->clear();
    for (const std::string& item : items) c->addItem(Q(item));
    c->setCurrentIndex(selected);
  });
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

void QtFrontEnd::OpenWindow(int window) {
  OnUi(this, [&] {
    if (window == kMainWindow || IsWindowOpen(window)) return;
    auto* w = new ModelWindow([this, window] { Dispatch({window, UiEventKind::Close, 0}); });
    w->setAttribute(Qt::WA_DeleteOnClose);
    const WindowModel model = WindowModelFor(window);
    w->setWindowTitle(Q(model.title));
    w->setFixedSize(model.width, model.height);
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    w->setWindowFlags(flags);
    windows_[window] = Built{};
    windows_[window].window = w;
    Build(window, w);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desk = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QRect m = main_ ? main_->geometry() : desk;
    if (window == kConfigWindow) {
      w->move(m.center().x() - model.width / 2, m.center().y() - model.height / 2);
    } else if (window == kAboutWindow) {
      w->move(desk.center().x() - model.width / 2, desk.center().y() - model.height / 2);
    } else {
      w->move(main_ ? main_->x() + 20 : 0, main_ ? main_->y() - 20 : 0);
    }
    w->show();
    w->activateWindow();
  });
}

void QtFrontEnd::CloseWindow(int window) {
  OnUi(this, [&] {
    auto it = windows_.find(window);
    if (window == kMainWindow || it == windows_.end()) return;
    if (auto* w = dynamic_cast<ModelWindow*>(it->second.window.data())) {
      w->closing = true;
      w->close();
    }
    windows_.erase(it);
  });
}

bool QtFrontEnd::IsWindowOpen(int window) {
  return OnUi(this, [&] { return Window(window) != nullptr; });
}

void QtFrontEnd::SetWindowEnabled(int window, bool enabled) {
  OnUi(this, [&] {
    if (QWidget* w = Window(window)) w->setEnabled(enabled);
  });
}

void QtFrontEnd::ActivateWindow(int window) {
  OnUi(this, [&] {
    if (QWidget* w = Window(window)) {
      w->raise();
      w->activateWindow();
    }
  });
}

void QtFrontEnd::SetChecked(int window, int control, bool checked) {
  OnUi(this, [&] {
    if (auto* b = qobject_cast<QAbstractButton*>(Control(window, control))) {
      const QSignalBlocker block(b);
      b->setChecked(checked);
    }
  });
}

bool QtFrontEnd::IsChecked(int window, int control) {
  return OnUi(this, [&] {
    auto* b = qobject_cast<QAbstractButton*>(Control(window, control));
    return b && b->isChecked();
  });
}

void QtFrontEnd::SelectComboItem(int window, int control, int index) {
  OnUi(this, [&] {
    if (auto* c = qobject_cast<QComboBox*>(Control(window, control))) {
      const QSignalBlocker block(c);
      c->setCurrentIndex(index);
    }
  });
}

int QtFrontEnd::ComboSelection(int window, int control) {
  return OnUi(this, [&] {
    auto* c = qobject_cast<QComboBox*>(Control(window, control));
    return c ? c->currentIndex() : -1;
  });
}

std::vector<std::string> QtFrontEnd::ComboItems(int window, int control) {
  return OnUi(this, [&] {
    std::vector<std::string> items;
    if (auto* c = qobject_cast<QComboBox*>(Control(window, control))) {
      for (int i = 0; i < c->count(); ++i) items.push_back(S(c->itemText(i)));
    }
    return items;
  });
}

void QtFrontEnd::SetComboDropWidth(int window, int control) {
  OnUi(this, [&] {
    auto* c = qobject_cast<QComboBox*>(Control(window, control));
    if (!c) return;
    const QFontMetrics fm(c->font());
    std::vector<int> widths;
    for (int i = 0; i < c->count(); ++i) widths.push_back(fm.horizontalAdvance(c->itemText(i)));
    const int edge = c->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, c);
    const int scroll = c->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, c);
    c->view()->setMinimumWidth(ComboDropWidth(widths, edge, scroll));
  });
}

void QtFrontEnd::SetMenuItemEnabled(int item, bool enabled) {
  OnUi(this, [&] {
    if (QAction* a = MenuAction(item)) a->setEnabled(enabled);
  });
}

bool QtFrontEnd::OpenUrl(const std::string& url) {
  return OnUi(this, [&] { return QDesktopServices::openUrl(QUrl(Q(url))); });
}

void QtFrontEnd::PostEvent(const UiEvent& event) {
  QMetaObject::invokeMethod(
      this, [this, event] { Dispatch(event); }, Qt::QueuedConnection);
}

std::string QtFrontEnd::InputText(const std::string& title, const std::string& prompt,
                                  const std::string& defaultText) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    bool ok = false;
    const QString t = QInputDialog::getText(DialogParent(), Q(title), Q(prompt), QLineEdit::Normal,
                                            Q(defaultText), &ok);
    return ok ? S(t) : std::string();
  });
}

}  // namespace fw::qt
