// Facts about the machine and the process that the core asks of the platform.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

struct SystemFacts {
  std::string osName;         // PRETTY_NAME of os-release, "" when unknown
  bool is64Bit = false;       // the machine runs a 64-bit kernel
  std::string kernelVersion;  // "Linux 6.1.0-13-amd64" ("" when uname fails)
  std::string cpuName;        // model name from /proc/cpuinfo
  int64_t totalRam = 0;       // bytes
  int64_t freeRam = 0;        // bytes available
};
SystemFacts GetSystemFacts();

// True when the process runs with root's rights (effective user 0).
bool RunningAsRoot();
// Full path of the running executable ("" when unknown).
std::string ExecutablePath();
// True when the current user may create files in `folder`.
bool FolderIsWritable(const std::string& folder);
// $XDG_CONFIG_HOME, else $HOME/.config ("" when neither is known).
std::string UserConfigFolder();
// $XDG_RUNTIME_DIR when set, else "".
std::string RuntimeFolder();
// True when the process runs with the administrator's rights (root).
bool RunningAsAdministrator();
// The system's text for an errno value.
std::string ErrnoText(int code);
// Exclusive, non-blocking flock on `path` (created when missing). Returns the descriptor, or -1
// when another process holds it (or the file cannot be opened, is a link, or belongs to another
// user: then *busy is false).
int LockFileExclusive(const std::string& path, bool* busy);
void UnlockFile(int fd);
// Exclusive, non-blocking flock on the folder `path` itself (never through a link). Returns the
// descriptor (release it with UnlockFile), or -1 with *busy true when another holder has it.
int LockFolderExclusive(const std::string& path, bool* busy);
// mkdir with mode 0777 (less umask); true when the folder exists afterwards.
bool MakeFolder(const std::string& path);
// rename(2); true on success.
bool RenameFile(const std::string& from, const std::string& to);
// Monotonic clock ticks (nanoseconds).
int64_t MonotonicNanoseconds();

}  // namespace fw
