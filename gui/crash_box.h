// The box that shows a crash report: flashwright-crash-box, run by the crash handler of the
// desktop program (app/crash_report.h) with the box's title and the report, shows it with an OK
// button and ends when the user closes it. The faulting program waits for it, then ends.
#pragma once

#include <QString>

class QMessageBox;

namespace fw::qt {

// The box for `report` (lines ended by a CR alone, as the report writes them).
void SetUpCrashBox(QMessageBox& box, const QString& title, const QString& report);

// Shows the box and returns when it is closed (an application must exist).
void ShowCrashBox(const QString& title, const QString& report);

}  // namespace fw::qt
