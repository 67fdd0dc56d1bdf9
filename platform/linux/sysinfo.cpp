#include "platform/sysinfo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

namespace fw {
namespace {

std::string Trim(std::string s) {
  const char* blanks = " \t\r\n";
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

std::string OsReleaseName() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
      std::string v = Trim(line.substr(12));
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return "";
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0 || line.rfind("Model", 0) == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos) return Trim(line.substr(colon + 1));
    }
  }
  return "";
}

}  // namespace

SystemFacts GetSystemFacts() {
  SystemFacts f;
  f.osName = OsReleaseName();
  struct utsname u {};
  if (uname(&u) == 0) {
    f.kernelVersion = std::string(u.sysname) + " " + u.release;
    std::string m = u.machine;
    f.is64Bit = m.find("64") != std::string::npos || m == "s390x";
  }
  f.cpuName = CpuModel();
  struct sysinfo si {};
  if (sysinfo(&si) == 0) {
    f.totalRam = static_cast<int64_t>(si.totalram) * si.mem_unit;
    f.freeRam = static_cast<int64_t>(si.freeram) * si.mem_unit;
  }
  // MemAvailable counts reclaimable caches, which is what a user calls free memory.
  std::ifstream mem("/proc/meminfo");
  std::string key;
  int64_t kb = 0;
  std::string unit;
  while (mem >> key >> kb >> unit) {
    if (key == "MemAvailable:") {
      f.freeRam = kb * 1024;
      break;
    }
  }
  return f;
}

bool RunningAsRoot() { return geteuid() == 0; }

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

bool FolderIsWritable(const std::string& folder) {
  return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return xdg;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config";
  return "";
}

std::string RuntimeFolder() {
  const char* r = std::getenv("XDG_RUNTIME_DIR");
  return r && *r ? r : "";
}

bool RunningAsAdministrator() { return ::geteuid() == 0; }

std::string ErrnoText(int code) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in the buffer.
  return strerror_r(code, buffer, sizeof buffer);
}

int LockFileExclusive(const std::string& path, bool* busy) {
  if (busy) *busy = false;
  // The lock may live in a folder every user can write to (/tmp when there is no runtime
  // folder): a link planted there is not followed, and a file another user made is not trusted,
  // or anyone could keep the program from starting by holding a lock on it.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (busy) *busy = errno == EWOULDBLOCK;
    close(fd);
    return -1;
  }
  return fd;
}

int LockFolderExclusive(const std::string& path, bool* busy) {
  if (busy) *busy = false;
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (busy) *busy = errno == EWOULDBLOCK;
    close(fd);
    return -1;
  }
  return fd;
}

void UnlockFile(int fd) {
  if (fd >= 0) close(fd);
}

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace fw
