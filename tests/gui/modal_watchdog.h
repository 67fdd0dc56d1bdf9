// For the GUI tests: no test may wait forever behind a window nobody answers. The watchdog looks
// at the active modal window every 100 ms; one that stays open longer than `patienceMs` (the
// tests' own answerers act within a few ticks) is described to `onUnexpected` and closed. It has
// its own timer, so it also reaches a box opened inside another timer's call, which that timer
// can no longer answer.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace fw::qt {

// "Title: text" of a window, as far as its kind tells.
inline QString DescribeWindow(QWidget* w) {
  QString text = w->windowTitle();
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    text += ": " + box->text();
  } else if (auto* input = qobject_cast<QInputDialog*>(w)) {
    text += ": " + input->labelText();
  } else if (auto* chooser = qobject_cast<QFileDialog*>(w)) {
    text += ": " + chooser->directory().absolutePath();
  }
  return text;
}

class ModalWatchdog {
 public:
  explicit ModalWatchdog(std::function<void(const QString&)> onUnexpected, int patienceMs = 10000)
      : onUnexpected_(std::move(onUnexpected)), patienceMs_(patienceMs) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start(100);
  }
  QStringList closed;  // what it had to close

 private:
  void Look() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != seen_) {
      seen_ = modal;
      since_.start();
      return;
    }
    if (!modal || since_.elapsed() < patienceMs_) return;
    const QString text = DescribeWindow(modal);
    closed << text;
    seen_ = nullptr;
    if (auto* d = qobject_cast<QDialog*>(modal)) {
      d->reject();
    } else {
      modal->close();
    }
    onUnexpected_(text);
  }

  std::function<void(const QString&)> onUnexpected_;
  int patienceMs_;
  QTimer timer_;
  QPointer<QWidget> seen_;
  QElapsedTimer since_;
};

}  // namespace fw::qt
