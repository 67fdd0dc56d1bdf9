// The start-up and shutdown sequence that both front ends run around their own main loop.
//
//   if (!fw::StartUp(options)) return 0;   // second copy: message shown, nothing touched
//   ... open the main window ...
//   fw::StartUpAfterMainWindow();         // GUI only: inventory, Clover scan, revision check
//   ... event loop ...
//   fw::ShutDown();
//
// Steps that belong to later subsystems are hooks (StartupHooks) that those subsystems install
// before StartUp runs; an empty hook is skipped.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace fw {

struct StartupOptions {
  // Path of the executable; empty means /proc/self/exe (argv[0] as a fallback).
  std::string programPath;
  // Settings file; empty means DefaultSettingsPath().
  std::string settingsFile;
  // Base name of the default settings file; empty means the program's own. The CLI names the
  // desktop program's, so that both front ends work from one configuration.
  std::string settingsBaseName;
  // Folder of the single-instance lock file; empty means $XDG_RUNTIME_DIR, else the temp folder.
  std::string lockFolder;
  // File of the registry store; empty means RegistryStorePath()'s default.
  std::string registryFile;
  // Shutdown writes the settings file and the example "UserDL.ini" (both on by default; the CLI
  // keeps them on so that it behaves as the desktop program does).
  bool saveSettingsAtExit = true;
  // How long a second copy waits for the first to end before it gives up (0: refuse at once, as
  // the desktop program does; the CLI waits so that scripted runs queue up instead of failing).
  int lockWaitMs = 0;
  bool writeUserDlExample = true;
  // AutoRun is switched off at start and restored at exit through the registry store. A run that
  // only reports (the CLI's queries) leaves the store alone.
  bool switchAutoRun = true;
};

// Steps of later subsystems, run at their place in the sequence when set.
struct StartupHooks {
  std::function<void()> installCrashHandler;   // first step
  std::function<void()> registerArchives;      // global state: archive formats
  std::function<void()> loadUserDownloadList;  // LoadAdditionalDLList("UserDL.ini", 1)
  std::function<void()> updateAllDrives;       // after the main window
  std::function<void()> findCloverLocalDistr;  // worker, argument -65535
  std::function<void()> checkCloverLastRev;    // CheckCloverLastRev(1)
  std::function<void(int)> addKnownCloverRev;  // stored CloverLastRev > 0 joins the known list
  std::function<bool()> setFormatPromptHook;   // false: logged warning
  std::function<void()> clrFormatPromptHook;   // shutdown
  // Held while AutoRun is off: from the switch at start-up to its restore at shutdown.
  std::function<void()> holdAutomountInhibitor;
  std::function<void()> releaseAutomountInhibitor;
};
StartupHooks& Hooks();

// Start-up up to and including AutoRun off. Returns false for a second instance under the same
// program file name: the message "Программа уже запущена." has been shown through the Ui and the
// caller must exit without doing anything else.
bool StartUp(const StartupOptions& options);
// The steps after the main window exists (inventory, Clover scan, revision check, format prompt).
void StartUpAfterMainWindow();
// Work folder removal, prompt unhook, SaveSetting, UserDL.ini example, AutoRun restore, log close,
// single-instance lock release. Safe to call once after a successful StartUp.
void ShutDown();

// The AutoRun policy value as it was before StartUp changed it ("" when there was none).
const std::string& OrigNoDriveTypeAutoRun();

// The ten lines of the example download list written at exit when "UserDL.ini" is missing.
const std::vector<std::string>& UserDlExampleLines();

// Single-instance lock: true when this process now holds the lock for `name` in `folder`.
// Released by the kernel when the process ends, even after a crash.
bool AcquireInstanceLock(const std::string& folder, const std::string& name);
void ReleaseInstanceLock();

}  // namespace fw
