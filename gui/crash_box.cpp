#include "gui/crash_box.h"

#include <QMessageBox>

namespace fw::qt {

void SetUpCrashBox(QMessageBox& box, const QString& title, const QString& report) {
  QString text = report;
  // A CR alone ends no line in a label.
  text.replace(QChar('\r'), QChar('\n'));
  box.setWindowTitle(title);
  box.setIcon(QMessageBox::Critical);
  box.setTextFormat(Qt::PlainText);
  box.setText(text.trimmed());
  box.setStandardButtons(QMessageBox::Ok);
  // The report names the fault's addresses and registers: let the user copy them.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void ShowCrashBox(const QString& title, const QString& report) {
  QMessageBox box;
  SetUpCrashBox(box, title, report);
  box.exec();
}

}  // namespace fw::qt
