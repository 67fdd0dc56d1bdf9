#include "gui/front_end.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QUrl>

#include "app/models/window_model.h"
#include "gui/widgets.h"

namespace fw::qt {

void SetUpApplicationLook() {
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  // The control sizes are fixed pixels: a condensed face and tight indicator spacing keep every
  // text inside its box.
  QFont f("DejaVu Sans Condensed");
  f.setPixelSize(11);
  QApplication::setFont(f);
  qApp->setStyleSheet("QRadioButton, QCheckBox { spacing: 3px; }");
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

void QtFrontEnd::SetControlColor(int window, int control, uint32_t rgb) {
  Post(this, [this, window, control, rgb] {
    QWidget* w = Control(window, control);
    if (!w) return;
    QPalette palette = w->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(rgb));
    w->setPalette(palette);
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
    } else if (window == kDownloadCenterWindow) {
      DressDownloadCenter(w, main_);
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

bool QtFrontEnd::OpenUrl(const std::string& url) {
  return OnUi(this, [&] { return QDesktopServices::openUrl(QUrl(Q(url))); });
}

void QtFrontEnd::PostEvent(const UiEvent& event) {
  QMetaObject::invokeMethod(
      this, [this, event] { Dispatch(event); }, Qt::QueuedConnection);
}

}  // namespace fw::qt
