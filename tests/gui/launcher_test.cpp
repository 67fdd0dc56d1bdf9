// The launcher-entry progress on a private session bus of its own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>

#include "app/models/status_line.h"
#include "gui/front_end.h"

class SignalCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QVariantMap> updates;
  QStringList apps;
 public slots:
  void Update(const QString& app, const QVariantMap& props) {
    apps << app;
    updates << props;
  }
};

namespace fw::qt {
namespace {

TEST(LauncherTaskbarTest, PublishesProgressOnTheSessionBus) {
  QProcess daemon;
  daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000)) {
    GTEST_SKIP() << "dbus-daemon is not available";
  }
  const QByteArray address = daemon.readLine().trimmed();
  ASSERT_FALSE(address.isEmpty());
  qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  int argc = 1;
  char name[] = "fw_launcher_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  SignalCatcher catcher;
  ASSERT_TRUE(QDBusConnection::sessionBus().connect("", "", "com.canonical.Unity.LauncherEntry",
                                                    "Update", &catcher,
                                                    SLOT(Update(QString, QVariantMap))));
  std::unique_ptr<TaskbarProgress> taskbar = NewLauncherTaskbar();
  ASSERT_NE(taskbar, nullptr);
  // The bus applies the match rule asynchronously: publish until the first signal comes back.
  for (int i = 0; i < 200 && catcher.updates.isEmpty(); ++i) {
    taskbar->SetState(kTaskbarIndeterminate);
    QTest::qWait(10);
  }
  ASSERT_FALSE(catcher.updates.isEmpty());
  EXPECT_EQ(catcher.apps[0], "application://flashwright.desktop");
  QTest::qWait(20);
  catcher.updates.clear();

  ApplyStatusToTaskbar(*taskbar, 40);
  ApplyStatusToTaskbar(*taskbar, -5);
  for (int i = 0; i < 200 && catcher.updates.size() < 4; ++i) QTest::qWait(10);
  // Value then state for each call.
  ASSERT_EQ(catcher.updates.size(), 4);
  EXPECT_DOUBLE_EQ(catcher.updates[1]["progress"].toDouble(), 0.4);
  EXPECT_TRUE(catcher.updates[1]["progress-visible"].toBool());
  EXPECT_DOUBLE_EQ(catcher.updates[3]["progress"].toDouble(), 0.0);
  EXPECT_FALSE(catcher.updates[3]["progress-visible"].toBool());

  daemon.kill();
  daemon.waitForFinished(5000);
}

}  // namespace
}  // namespace fw::qt

#include "launcher_test.moc"
