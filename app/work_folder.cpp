// Scratch folder and folder creation. Paths use "/"; a "\" in a given path counts as a separator
// too, so paths written by hand the Windows way still work.
#include "app/work_folder.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "app/log.h"
#include "platform/sysinfo.h"

namespace fs = std::filesystem;

namespace fw {
namespace {

int RandomNumber() {
  static std::mt19937 engine{std::random_device{}()};
  static std::uniform_int_distribution<int> dist(0, 8999);
  return 1000 + dist(engine);
}

bool Exists(const std::string& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}
bool IsFolder(const std::string& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

std::string Slashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

// The lock this process holds on its work folder while it exists, so that another running copy
// of the program (the desktop program beside a command-line run, say) leaves it alone.
int& WorkDirLock() {
  static int fd = -1;
  return fd;
}

void ReleaseWorkDirLock() {
  UnlockFile(WorkDirLock());
  WorkDirLock() = -1;
}

}  // namespace

std::string& ZorTempWorkDir() {
  static std::string dir;
  return dir;
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

int CreateTempWorkDir() {
  std::string& dir = ZorTempWorkDir();
  dir.clear();
  ReleaseWorkDirLock();  // this process's previous folder goes with the others
  std::string t = TempFolder();
  if (t.empty()) return 0;
  if (t.back() != '/') t += '/';
  std::error_code ec;
  for (fs::directory_iterator it(t, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code e2;
    if (name.compare(0, 7, "ZORTemp") != 0 || name.size() < 7 || !it->is_directory(e2) ||
        it->is_symlink(e2))
      continue;
    std::string path = t + name;
    bool busy = false;
    const int lock = LockFolderExclusive(path, &busy);
    if (busy) {
      FW_LOG("--> CreateTempWorkDir: in use by another process, kept: " + path);
      continue;
    }
    fs::remove_all(path, e2);
    UnlockFile(lock);
    FW_LOG("--> CreateTempWorkDir: DeleteDirectory: " + path);
  }
  std::string candidate;
  do {
    candidate = t + "ZORTemp" + std::to_string(RandomNumber()) + "/";
  } while (Exists(candidate.substr(0, candidate.size() - 1)));
  dir = candidate;
  if (fs::create_directory(candidate, ec) && !ec) {
    WorkDirLock() = LockFolderExclusive(candidate, nullptr);
    FW_LOG("Success create ZorTempWorkDir$ = " + candidate);
    return 1;
  }
  FW_LOG("Error create ZorTempWorkDir$ = " + candidate);
  return 0;
}

std::string CreateTempFileName(std::string folder) {
  if (folder.empty()) return "";
  folder = Slashes(folder);
  if (folder.back() != '/') folder += '/';
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code e2;
    if (name.compare(0, 4, "TEMP") != 0 || !it->is_regular_file(e2)) continue;
    FW_LOG(name);
    fs::remove(it->path(), e2);
  }
  std::string name;
  do {
    name = folder + "TEMP" + std::to_string(RandomNumber());
  } while (Exists(name));
  FW_LOG("TempFileName$=" + name);
  return name;
}

void CreateDirectoryRecursive(std::string path) {
  if (path.empty()) return;
  path = Slashes(path);
  if (IsFolder(path)) return;
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  size_t slash = trimmed.rfind('/');
  if (slash != std::string::npos) {
    std::string parent = trimmed.substr(0, slash + 1);
    if (parent.size() > 1) CreateDirectoryRecursive(parent);
  }
  FW_LOG("CreateDirectory " + path);
  std::error_code ec;
  fs::create_directory(trimmed.empty() ? path : trimmed, ec);
}

int CreateDirectoryPath(std::string path) {
  if (path.empty()) return 0;
  path = Slashes(path);
  std::string prefix;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    std::string field =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    prefix += field + "/";
    if (!field.empty() && !Exists(prefix)) {
      std::error_code ec;
      if (!fs::create_directory(prefix, ec)) break;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (IsFolder(path)) {
    FW_LOG("CreateDirectoryPath: Create Directory \"" + path + "\" ............ OK");
    return 1;
  }
  FW_LOG("CreateDirectoryPath: Create Directory \"" + path + "\" ............ Error");
  return 0;
}

void RemoveTempWorkDir() {
  std::string& dir = ZorTempWorkDir();
  if (dir.empty()) return;
  std::error_code ec;
  fs::remove_all(dir, ec);
  dir.clear();
  ReleaseWorkDirLock();
}

}  // namespace fw
