#include "cli/image_job.h"

#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/globals.h"
#include "app/ui.h"
#include "cli/console_ui.h"
#include "cli/disk.h"
#include "disk/inventory.h"

namespace fw::cli {

namespace {

// The console's status line and questions; the file chooser answers with the file given on the
// command line.
class ImageJobUi final : public ConsoleUi {
 public:
  ImageJobUi(std::string file, bool yes)
      : ConsoleUi(yes, stdin, stdout, IsTerminal(stdout)), file_(std::move(file)) {}
  std::string OpenFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return file_;
  }
  std::string SaveFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return file_;
  }

 private:
  std::string file_;
};

extern "C" void OnImageJobInterrupt(int) { CancelMainThread.store(1); }

}  // namespace

int RunImageJobCommand(ImageJobKind kind, const GlobalOptions& options,
                       const std::vector<std::string>& args) {
  const bool backup = kind == ImageJobKind::kBackup;
  const std::string command = backup ? "backup" : "restore";
  const std::string fileOption = backup ? "--output" : "--input";
  int64_t diskNumber = -1;
  int64_t partition = -1;
  std::string file;
  ImageJobOptions jobOptions;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--verify") {
      jobOptions.verify = true;
      continue;
    }
    if (i + 1 >= args.size()) return Fail(kExitUsage, a + " needs a value (see --help)");
    const std::string& v = args[++i];
    if (a == "--disk") {
      if (!ParseInt(v, 0, 49, &diskNumber)) return Fail(kExitUsage, "--disk takes 0..49");
    } else if (a == "--partition") {
      if (!ParseInt(v, 1, 4, &partition)) return Fail(kExitUsage, "--partition takes 1..4");
    } else if (a == fileOption) {
      file = v;
    } else {
      return Fail(kExitUsage, command + ": unknown option " + a);
    }
  }
  if (partition < 0) return Fail(kExitUsage, command + " needs --partition K (1..4)");
  if (file.empty()) return Fail(kExitUsage, command + " needs " + fileOption + " FILE");

  if (const int status = AttachCommandImage(options)) return status;
  UseSystemImageJobDisk();
  UpdateAllDrives();
  if (const int status = ChooseCommandDisk(options, command, &diskNumber)) return status;
  if (SetCurrentDisk(static_cast<int32_t>(diskNumber), static_cast<int>(partition - 1)) == 0)
    return Fail(kExitFailure, "disk " + std::to_string(diskNumber) + " has no partition " +
                                  std::to_string(partition));

  ImageJobUi ui(std::filesystem::absolute(file).string(), options.yes);
  Ui* previous = &TheUi();
  SetUi(&ui);
  auto oldHandler = std::signal(SIGINT, OnImageJobInterrupt);
  const ImageJobOutcome outcome = backup ? RunBackUp(jobOptions) : RunRecover(jobOptions);
  std::signal(SIGINT, oldHandler);
  SetUi(previous);
  if (outcome.cancelled) return Fail(kExitFailure, command + " cancelled");
  if (!outcome.copied) return Fail(kExitFailure, command + " failed");
  // The status lines said what the check found ("Verify Error: first difference at byte N").
  if (jobOptions.verify && !outcome.verified)
    return Fail(kExitFailure, command + ": what was written does not read back the same");
  return kExitOk;
}

}  // namespace fw::cli
