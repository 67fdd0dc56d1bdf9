#include "app/startup.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/globals.h"
#include "app/log.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/work_folder.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

const char* const kExplorerPolicies =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
std::string origNoDriveTypeAutoRun;
StartupOptions startedWith;
bool started = false;
int lockFd = -1;

void FillProgramPaths(const std::string& given) {
  ProgramPaths& p = Program();
  p.path = given.empty() ? ExecutablePath() : given;
  size_t slash = p.path.rfind('/');
  p.fileName = slash == std::string::npos ? p.path : p.path.substr(slash + 1);
  p.folder = slash == std::string::npos ? "./" : p.path.substr(0, slash + 1);
  // The base name loses an extension only when there is one: "flashwright" stays whole.
  size_t dot = p.fileName.rfind('.');
  p.baseName = dot == std::string::npos || dot == 0 ? p.fileName : p.fileName.substr(0, dot);
}

}  // namespace

StartupHooks& Hooks() {
  static StartupHooks hooks;
  return hooks;
}

const std::string& OrigNoDriveTypeAutoRun() { return origNoDriveTypeAutoRun; }

const std::vector<std::string>& UserDlExampleLines() {
  static const std::vector<std::string> lines = {
      "; This is Example of UserDL.ini. Do not remove this lines",
      "[SomeFileName]",
      "URL=http://example.com/SomeFileName.zip",
      "Size=47941",
      "Description=Some text without line feed",
      "; Optional fields",
      "MD5Digest=452e67040aadf29b7ab64777e575c25dd7a47036",
      "PostDate=2022-09-22 20:24",
      "; Create Catalog in Clover Local Repository for saving SomeFileName.zip",
      "Catalog=Drivers",
  };
  return lines;
}

bool AcquireInstanceLock(const std::string& folder, const std::string& name) {
  ReleaseInstanceLock();
  std::string f = folder.empty() ? "/tmp" : folder;
  if (f.back() != '/') f += '/';
  bool busy = false;
  lockFd = LockFileExclusive(f + name + ".lock", &busy);
  // A lock file we cannot create must not keep the program from running; only a held lock does.
  return lockFd >= 0 || !busy;
}

void ReleaseInstanceLock() {
  UnlockFile(lockFd);
  lockFd = -1;
}

bool StartUp(const StartupOptions& options) {
  StartupHooks& h = Hooks();
  if (h.installCrashHandler) h.installCrashHandler();
  origNoDriveTypeAutoRun.clear();
  Settings() = SettingsRecord{};
  Settings().CloverLastRev = "0";
  Settings().ResumeMaxAttemptsNumber = 9999;
  if (h.registerArchives) h.registerArchives();
  FillProgramPaths(options.programPath);

  std::string lockFolder = options.lockFolder;
  if (lockFolder.empty()) lockFolder = RuntimeFolder();
  if (lockFolder.empty()) lockFolder = TempFolder();
  bool locked = AcquireInstanceLock(lockFolder, Program().fileName);
  for (int waited = 0; !locked && waited < options.lockWaitMs; waited += 100) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    locked = AcquireInstanceLock(lockFolder, Program().fileName);
  }
  if (!locked) {
    MessageBox(Program().fileName, "Программа уже запущена.", MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  startedWith = options;
  started = true;
  if (!options.registryFile.empty()) SetRegistryStorePath(options.registryFile);
  SetSettingsPath(options.settingsFile.empty() ? DefaultSettingsPath(options.settingsBaseName)
                                               : options.settingsFile);
  LoadSetting();
  FW_LOG_MAIN("SystemDirectory: /");
  FW_LOG_MAIN("SysNativeDirectory: /");
  if (h.loadUserDownloadList) h.loadUserDownloadList();

  if (!options.switchAutoRun) return true;
  // AutoRun off for every drive type while the program runs.
  if (!Registry::KeyExists(kExplorerPolicies)) Registry::CreateKey(kExplorerPolicies);
  if (Registry::ValueExists(kExplorerPolicies, "NoDriveTypeAutoRun")) {
    origNoDriveTypeAutoRun = Registry::ReadValue(kExplorerPolicies, "NoDriveTypeAutoRun");
    FW_LOG_MAIN("OrigNoDriveTypeAutoRun$=" + origNoDriveTypeAutoRun);
    Registry::WriteValue(kExplorerPolicies, "NoDriveTypeAutoRun", "255", REG_DWORD);
  } else {
    Registry::CreateKeyAndWriteValue(kExplorerPolicies, "NoDriveTypeAutoRun", "255", REG_DWORD);
  }
  FW_LOG_MAIN("Set OrigNoDriveTypeAutoRun$ to " +
              Registry::ReadValue(kExplorerPolicies, "NoDriveTypeAutoRun"));
  if (h.holdAutomountInhibitor) h.holdAutomountInhibitor();
  return true;
}

void StartUpAfterMainWindow() {
  StartupHooks& h = Hooks();
  if (h.updateAllDrives) h.updateAllDrives();
  if (h.findCloverLocalDistr) h.findCloverLocalDistr();
  if (Settings().CheckLatestCloverAtStartup != 0) {
    if (h.checkCloverLastRev) h.checkCloverLastRev();
  } else if (h.addKnownCloverRev) {
    int rev = std::atoi(Settings().CloverLastRev.c_str());
    if (rev > 0) h.addKnownCloverRev(rev);
  }
  if (h.setFormatPromptHook && !h.setFormatPromptHook())
    FW_LOG_MAIN("Warning: Could not set 'Format Disk' prompt auto-close");
}

void ShutDown() {
  if (!started) return;
  started = false;
  StartupHooks& h = Hooks();
  RemoveTempWorkDir();
  if (h.clrFormatPromptHook) h.clrFormatPromptHook();
  if (startedWith.saveSettingsAtExit) SaveSetting();
  std::error_code ec;
  if (startedWith.writeUserDlExample && !std::filesystem::exists("UserDL.ini", ec))
    WriteIniLines("UserDL.ini", UserDlExampleLines());
  if (startedWith.switchAutoRun) {
    if (h.releaseAutomountInhibitor) h.releaseAutomountInhibitor();
    std::string now = Registry::ReadValue(kExplorerPolicies, "NoDriveTypeAutoRun");
    if (now != origNoDriveTypeAutoRun) {
      FW_LOG_MAIN("Set NoDriveTypeAutoRun$ to OrigNoDriveTypeAutoRun$=" + origNoDriveTypeAutoRun);
      Registry::WriteValue(kExplorerPolicies, "NoDriveTypeAutoRun", origNoDriveTypeAutoRun,
                           REG_DWORD);
    }
    FW_LOG_MAIN("NoDriveTypeAutoRun$=" +
                Registry::ReadValue(kExplorerPolicies, "NoDriveTypeAutoRun"));
  }
  CloseLog();
  ReleaseInstanceLock();
}

}  // namespace fw
