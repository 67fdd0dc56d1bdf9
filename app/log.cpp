// The debug log. One FILE stream, written and flushed line by line so that the last lines before a
// crash are on disk. A small lock keeps lines of different threads whole.
#include "app/log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "app/globals.h"
#include "app/text.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

std::mutex logMutex;
std::FILE* logFile = nullptr;
std::atomic<bool> logOpen{false};
std::atomic<const char*> statementFile{nullptr};
std::atomic<int> statementLine{0};
std::atomic<int> logFd{-1};

std::string TimeStamp() {
  timespec ts{};
  std::timespec_get(&ts, TIME_UTC);
  std::tm tm{};
  time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &tm);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ts.tv_nsec / 1000000));
  return buffer;
}

std::string Today() {
  time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900);
  return buffer;
}

}  // namespace

std::string FormatLogLine(const std::string& timeStamp, int line, std::string_view procedure,
                          std::string_view text) {
  std::string out = timeStamp;
  out += " [" + std::to_string(line) + "] ";
  if (!procedure.empty()) {
    out += "(";
    out += procedure;
    out += ") ";
  }
  out += text;
  out += "\r\n";
  return out;
}

void MarkStatement(const char* file, int line) {
  statementFile.store(file, std::memory_order_relaxed);
  statementLine.store(line, std::memory_order_relaxed);
}

StatementPosition CurrentStatement() {
  return StatementPosition{statementFile.load(std::memory_order_relaxed),
                           statementLine.load(std::memory_order_relaxed)};
}

void LogLine(const char* file, int line, std::string_view procedure, std::string_view text) {
  MarkStatement(file, line);
  if (!logOpen.load(std::memory_order_acquire)) return;
  std::string out = FormatLogLine(TimeStamp(), line, procedure, text);
  std::lock_guard<std::mutex> lock(logMutex);
  if (!logFile) return;
  std::fwrite(out.data(), 1, out.size(), logFile);
  std::fflush(logFile);
}

bool LogIsOpen() { return logOpen.load(std::memory_order_acquire); }

int LogFileDescriptor() { return logFd.load(std::memory_order_acquire); }

bool OpenLog(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(logMutex);
    if (logFile) return true;
    logFile = std::fopen(path.c_str(), "w+b");
    if (!logFile) return false;
    std::fwrite("\xEF\xBB\xBF", 1, 3, logFile);
    std::fflush(logFile);
    logFd.store(fileno(logFile), std::memory_order_release);
  }
  logOpen.store(true, std::memory_order_release);
  FW_LOGP("LoadSetting", "Log Date: " + Today());
  GetSystemLogInfo();
  return true;
}

void CloseLog() {
  logOpen.store(false, std::memory_order_release);
  logFd.store(-1, std::memory_order_release);
  std::lock_guard<std::mutex> lock(logMutex);
  if (logFile) std::fclose(logFile);
  logFile = nullptr;
}

std::string SystemLogText(const SystemFacts& facts) {
  std::string text = facts.osName.empty() ? "Linux" : facts.osName;
  text += facts.is64Bit ? " 64-bit" : " 32-bit";
  if (!facts.kernelVersion.empty()) text += " [" + facts.kernelVersion + "]";
  return text;
}

void GetSystemLogInfo() {
  const std::string rule(66, '-');
  const SystemFacts facts = GetSystemFacts();
  FW_LOG(rule);
  FW_LOG(std::string("Application: ") + kProgramName + " " + kVersionString + " by Mivo " +
         kBuildDate);
  FW_LOG(rule);
  FW_LOG("System\t: " + SystemLogText(facts));
  FW_LOG("CPU\t: " + facts.cpuName);
  FW_LOG("Total RAM\t: " + FormatSizeText(facts.totalRam, 0));
  FW_LOG("Free  RAM\t: " + FormatSizeText(facts.freeRam, 0));
  FW_LOG(rule);
}

}  // namespace fw
