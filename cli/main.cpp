// flashwright-cli: a thin command-line front end over the same core jobs as the desktop program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/crash_report.h"
#include "app/globals.h"
#include "app/startup.h"
#include "app/ui.h"
#include "cli/cli.h"
#include "cli/console_ui.h"
#include "cli/help.h"
#include "disk/format_prompt.h"
#include "net/sucatalog_urls.h"
#include "platform/imagedisk/image_disk.h"

namespace fw::cli {

static std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

bool Register(const Command& command) {
  Table().push_back(command);
  return true;
}

const std::vector<Command>& Commands() { return Table(); }

int Fail(int status, const std::string& message) {
  std::cerr << "flashwright-cli: " << message << "\n";
  return status;
}

}  // namespace fw::cli

int main(int argc, char** argv) {
  using namespace fw::cli;
  // A fault is reported on stderr and in the debug log (no box on a console).
  fw::InstallCrashHandler();
  GlobalOptions options;
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  auto needValue = [&](std::string& out) -> bool {
    if (i + 1 >= args.size()) return false;
    out = args[++i];
    return true;
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--version") {
      std::cout << fw::kProgramName << " " << fw::kVersionString << " (" << fw::kBuildDate << ")\n";
      return kExitOk;
    } else if (a == "--help" || a == "-h") {
      PrintUsage(std::cout);
      return kExitOk;
    } else if (a == "--yes" || a == "-y") {
      options.yes = true;
    } else if (a == "--no-pauses") {
      options.noPauses = true;
    } else if (a == "--settings") {
      if (!needValue(options.settingsFile)) return Fail(kExitUsage, "--settings needs a file");
    } else if (a == "--image") {
      if (!needValue(options.image)) return Fail(kExitUsage, "--image needs a file");
    } else if (a == "--create") {
      if (!needValue(options.create)) return Fail(kExitUsage, "--create needs a size");
    } else if (a == "--sector-size") {
      std::string v;
      if (!needValue(v) || (v != "512" && v != "4096"))
        return Fail(kExitUsage, "--sector-size takes 512 or 4096");
      options.sectorSize = static_cast<uint32_t>(std::stoul(v));
    } else if (a.rfind("-", 0) == 0) {
      return Fail(kExitUsage, "unknown option " + a + " (see --help)");
    } else {
      break;
    }
  }
  if (i >= args.size()) return Fail(kExitUsage, "no command given (see --help)");
  if (!options.create.empty() && options.image.empty())
    return Fail(kExitUsage, "--create goes with --image");
  const std::string name = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  for (const Command& c : Commands()) {
    if (name == c.name) {
      // Help is printed before anything starts: no lock, no settings, no files.
      if (std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
          (!rest.empty() && rest[0] == "-h")) {
        PrintCommandHelp(std::cout, c);
        return kExitOk;
      }
      if (const std::string misplaced = MisplacedGlobalOption(c, rest); !misplaced.empty())
        return Fail(kExitUsage, misplaced);
      fw::SetPausesEnabled(!options.noPauses);
      fw::ConsoleUi ui(options.yes, stdin, stdout, fw::IsTerminal(stdout));
      fw::SetUi(&ui);
      fw::StartupOptions startup;
      startup.programPath = argv[0][0] == '/' ? argv[0] : "";
      startup.settingsFile = options.settingsFile;
      startup.settingsBaseName = "flashwright";
      startup.lockWaitMs = 60000;
      if (c.writesNothing) {
        startup.saveSettingsAtExit = false;
        startup.writeUserDlExample = false;
        startup.switchAutoRun = false;
      }
      // Runs with their own settings file (scripts, tests) are separate configurations: their
      // single-instance lock lives beside that file, so they do not refuse each other.
      if (!options.settingsFile.empty()) {
        size_t slash = options.settingsFile.rfind('/');
        startup.lockFolder =
            slash == std::string::npos ? "." : options.settingsFile.substr(0, slash + 1);
      }
      fw::RegisterSucatalogListHooks();    // the catalog lists LoadSetting builds
      fw::KeepAttachedImagesInSettings();  // keeps the GUI's list; --image stays one-off
      fw::InstallFormatPromptHooks();
      if (!fw::StartUp(startup)) {
        fw::SetUi(nullptr);
        return Fail(kExitFailure, "another copy of flashwright-cli is running");
      }
      options.query = c.writesNothing;
      const int status = c.handler(options, rest);
      ui.EndLine();
      fw::ShutDown();
      fw::SetUi(nullptr);
      return status;
    }
  }
  return Fail(kExitUsage, "unknown command '" + name + "' (see --help)");
}
