// A program that faults on purpose, for the crash-report tests only: it starts up as the front
// ends do (crash handler first, settings with the debug log, AutoRun off), logs one statement and
// then makes the fault named by its first argument.
//
//   fw_fault_program none|null-main|null-worker|divide-zero FOLDER [BOX-PROGRAM]
//
// Settings, lock, registry store and debug log all live in FOLDER (the current folder is set to
// it). "none" ends normally through the shutdown steps.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/crash_report.h"
#include "app/log.h"
#include "app/startup.h"
#include "tests/system/fault_on_purpose.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s none|null-main|null-worker|divide-zero FOLDER [BOX]\n",
                 argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::string folder = argv[2];
  const std::string box = argc > 3 ? argv[3] : "";
  if (chdir(folder.c_str()) != 0) return 2;
  fw::Hooks().installCrashHandler = [box] { fw::InstallCrashHandler(box); };
  fw::StartupOptions options;
  options.settingsFile = folder + "/flashwright.ini";
  options.lockFolder = folder;
  options.registryFile = folder + "/registry.txt";
  if (!fw::StartUp(options)) return 3;

  FW_LOG("about to fault: " + mode);
  if (mode == "null-main") {
    fw::faulttest::ReadNull();
  } else if (mode == "divide-zero") {
    fw::faulttest::DivideByZero();
  } else if (mode == "null-worker") {
    std::thread worker([] {
      FW_LOGP("FaultThread", "worker about to fault");
      fw::faulttest::ReadNull();
    });
    worker.join();
  }
  fw::ShutDown();
  return 0;
}
