// Small pieces every file of the desktop front end uses: text and colour conversions, and the two
// ways a worker's call reaches the UI thread.
#pragma once

#include <QColor>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>
#include <string>
#include <type_traits>

#include "app/models/window_model.h"

namespace fw::qt {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }
inline QColor C(Rgb c) { return QColor(c.r, c.g, c.b); }

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

}  // namespace fw::qt
