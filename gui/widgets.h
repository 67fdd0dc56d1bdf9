// The desktop front end's own widgets: the status line, the hyperlinks, and the main and secondary
// windows that hand their close box (and Esc) to the dispatcher.
#pragma once

#include <QCloseEvent>
#include <QEnterEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <string>

#include "app/models/status_line.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "gui/qt_glue.h"

namespace fw::qt {

// The seven small images: menu items 0..4, disk and partition icons 5 and 6.
QIcon Image(int index);
// The About window's picture.
QPixmap AboutPicture();
// The Download Center's window flags, owner and place beside the main window `main`.
void DressDownloadCenter(QWidget* window, QWidget* main);

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

}  // namespace fw::qt
