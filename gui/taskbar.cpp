#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include "gui/front_end.h"

namespace fw::qt {

namespace {

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

std::unique_ptr<TaskbarProgress> NewLauncherTaskbar() {
  if (!QDBusConnection::sessionBus().isConnected()) return nullptr;
  return std::make_unique<LauncherTaskbar>();
}

}  // namespace fw::qt
