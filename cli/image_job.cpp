#include "cli/image_job.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/globals.h"
#include "app/ui.h"
#include "cli/disk.h"
#include "disk/inventory.h"

namespace fw::cli {

namespace {

// Prints the status line and the boxes; the chooser answers with the file given on the command
// line; Yes/No boxes take --yes or an answer typed on standard input (No at end of input).
class CommandLineUi final : public Ui {
 public:
  CommandLineUi(std::string file, bool yes) : file_(std::move(file)), yes_(yes) {}
  void ShowStatus(const std::string& text, int) override {
    if (text != last_) std::cout << text << std::endl;
    last_ = text;
  }
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons buttons,
                       MsgIcon) override {
    std::cerr << title << ": " << text << "\n";
    if (buttons != MsgButtons::YesNo) return MsgAnswer::Ok;
    if (yes_) {
      std::cerr << "[yes]\n";
      return MsgAnswer::Yes;
    }
    std::cerr << "[y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return MsgAnswer::No;
    return (answer == "y" || answer == "Y" || answer == "yes") ? MsgAnswer::Yes : MsgAnswer::No;
  }
  std::string OpenFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return file_;
  }
  std::string SaveFileChooser(const std::string&, const std::string&,
                              const std::vector<FileFilter>&) override {
    return file_;
  }
  std::string FolderChooser(const std::string&, const std::string&) override { return ""; }
  void SetControlText(int, int, const std::string&) override {}
  std::string ControlText(int, int) override { return ""; }
  void SetControlEnabled(int, int, bool) override {}
  void SetComboItems(int, int, const std::vector<std::string>&, int) override {}

 private:
  std::string file_;
  bool yes_;
  std::string last_;
};

extern "C" void OnImageJobInterrupt(int) { CancelMainThread.store(1); }

bool ParseNumber(const std::string& text, long lo, long hi, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int RunImageJobCommand(ImageJobKind kind, const GlobalOptions& options,
                       const std::vector<std::string>& args) {
  const bool backup = kind == ImageJobKind::kBackup;
  const std::string command = backup ? "backup" : "restore";
  const std::string fileOption = backup ? "--output" : "--input";
  long diskNumber = -1;
  long partition = -1;
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
      if (!ParseNumber(v, 0, 49, &diskNumber)) return Fail(kExitUsage, "--disk takes 0..49");
    } else if (a == "--partition") {
      if (!ParseNumber(v, 1, 4, &partition)) return Fail(kExitUsage, "--partition takes 1..4");
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
  int64_t chosen = diskNumber;
  if (const int status = ChooseCommandDisk(options, command, &chosen)) return status;
  diskNumber = static_cast<long>(chosen);
  if (SetCurrentDisk(static_cast<int32_t>(diskNumber), static_cast<int>(partition - 1)) == 0)
    return Fail(kExitFailure, "disk " + std::to_string(diskNumber) + " has no partition " +
                                  std::to_string(partition));

  CommandLineUi ui(std::filesystem::absolute(file).string(), options.yes);
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
