// The debug log: one logging call that prefixes each line with a time stamp, the statement number
// in brackets and the procedure name in parentheses. Lines are written only while the log is open
// (LogEnable = 1); every call is cheap when it is closed.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// Writes one line; `procedure` may be empty (lines of the main body carry no procedure part).
// `file` and `line` identify the statement: the line number is the statement number of the
// prefix, and both are remembered as the crash report's "current statement".
void LogLine(const char* file, int line, std::string_view procedure, std::string_view text);

bool LogIsOpen();

// Creates the log file (replacing an earlier one; "ZORDebug.log" in the current folder by
// default), writes the byte-order mark, the "Log Date: " line and the system-information block.
// Does nothing when a log is already open; returns false when the file cannot be created.
bool OpenLog(const std::string& path = "ZORDebug.log");
// Closes the log; later logging calls do nothing.
void CloseLog();
// Writes the machine block (program, system, CPU, RAM) through the logging call.
void GetSystemLogInfo();

// The last statement that logged: the crash report's "current statement" (file null before any).
struct StatementPosition {
  const char* file = nullptr;
  int line = 0;
};
StatementPosition CurrentStatement();
// One line as the log writes it: time stamp, " [line] ", "(procedure) " when given, text, CR LF.
std::string FormatLogLine(const std::string& timeStamp, int line, std::string_view procedure,
                          std::string_view text);
struct SystemFacts;
// The "System" text of the machine block: os-release name, 32/64-bit, "[kernel]" when known.
std::string SystemLogText(const SystemFacts& facts);

// Records a statement position without writing a line (also done by every logging call).
void MarkStatement(const char* file, int line);

// The open log's file descriptor, -1 when closed: the crash report writes to it with write(2)
// alone, since the faulting thread may hold the log's lock. Every line is flushed as it is
// written, so the descriptor's position is the end of the log.
int LogFileDescriptor();

}  // namespace fw

// Log from inside a procedure: the procedure name is the enclosing function's name.
#define FW_LOG(text) ::fw::LogLine(__FILE__, __LINE__, __func__, (text))
// Log under an explicit procedure name (lambdas, helpers that log for their caller).
#define FW_LOGP(procedure, text) ::fw::LogLine(__FILE__, __LINE__, (procedure), (text))
// Log from the main body (start-up, event loop, windows): no procedure part.
#define FW_LOG_MAIN(text) ::fw::LogLine(__FILE__, __LINE__, "", (text))
