// The macOS image commands of flashwright-cli:
//   extract-hfs DMG --output DIR        the HFS+ partitions of a DMG file, as .hfs images
//   recovery-list [--update]            the Recovery HD list (searched anew with --update)
//   recovery-get N|NAME [--output DIR]  download an entry and extract its HFS+ image
// Ctrl+C (or SIGTERM) cancels the download or the archiver; a second one ends the program.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "datasets/hfs_extraction.h"
#include "datasets/mac_image_jobs.h"
#include "net/recovery_hd_search.h"

namespace fw::cli {
namespace {

// Splits `args` into positional words and the value of --output; false on a usage error.
bool ParseArgs(const std::vector<std::string>& args, std::vector<std::string>* words,
               std::string* output, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--output") {
      if (i + 1 >= args.size()) {
        *error = "--output needs a folder";
        return false;
      }
      *output = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      *error = "unexpected argument " + args[i] + " (see --help)";
      return false;
    } else {
      words->push_back(args[i]);
    }
  }
  return true;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

void PrintImages(const std::vector<std::string>& images) {
  for (const std::string& image : images) std::cout << image << "\n";
}

int ExtractHfsCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::string output, error;
  if (!ParseArgs(args, &words, &output, &error)) return Fail(kExitUsage, error);
  if (words.size() != 1) return Fail(kExitUsage, "extract-hfs needs one DMG file");
  if (output.empty()) return Fail(kExitUsage, "extract-hfs needs --output DIR");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(words[0], ec))
    return Fail(kExitFailure, "no such file: " + words[0]);
  if (!IsFolder(output)) return Fail(kExitFailure, "no such folder: " + output);
  HfsJobOutcome out;
  {
    const InterruptCancels interrupts;
    out = RunExtractHFSFromDMG(words[0], output);
  }
  CancelMainThread = 0;
  PrintImages(out.images);
  return out.result == 1 ? kExitOk : kExitFailure;
}

int RecoveryListCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  bool update = false;
  for (const std::string& a : args) {
    if (a != "--update") return Fail(kExitUsage, "unexpected argument " + a + " (see --help)");
    update = true;
  }
  if (update) {
    RecoveryHDSearchOutcome out;
    {
      const InterruptCancels interrupts;
      out = RunCheckRecoveryHD();
    }
    if (out.busy) return Fail(kExitFailure, "another download is running");
    if (out.cancelled) return Fail(kExitFailure, "search cancelled; the list is unchanged");
    if (!out.replaced) return Fail(kExitFailure, "no catalog could be read; the list is unchanged");
  }
  const std::vector<std::string> rows = RecoveryHDRows();
  for (size_t i = 0; i < rows.size(); ++i) std::cout << i + 1 << ". " << rows[i] << "\n";
  return kExitOk;
}

int RecoveryGetCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::string output, error;
  if (!ParseArgs(args, &words, &output, &error)) return Fail(kExitUsage, error);
  if (words.size() != 1) return Fail(kExitUsage, "recovery-get needs a number or a name");
  if (!output.empty() && !IsFolder(output)) return Fail(kExitFailure, "no such folder: " + output);
  const std::vector<std::string> rows = RecoveryHDRows();
  int row = -1;
  const std::string& which = words[0];
  if (which.find_first_not_of("0123456789") == std::string::npos) {
    int64_t n = 0;
    if (ParseInt(which, 1, static_cast<int64_t>(rows.size()), &n)) row = static_cast<int>(n - 1);
  } else {
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i] == which) row = static_cast<int>(i);
  }
  if (row < 0 || row >= static_cast<int>(rows.size()))
    return Fail(kExitFailure, "no Recovery HD entry " + which + " (see recovery-list)");
  HfsJobOutcome out;
  {
    const InterruptCancels interrupts;
    out = DLAndExtractHFSImageFromRecoveryHD(RecoveryHDEntryAt(row), output);
  }
  PrintImages(out.images);
  return out.result == 1 ? kExitOk : kExitFailure;
}

}  // namespace

FW_CLI_HELP("extract-hfs", "", "",
            "Takes the HFS+ partitions out of the Apple disk image DMG (through 7zz) and writes "
            "each into DIR as a raw .hfs image, the kind restore writes onto partition 2 of a "
            "prepared drive. Prints the images made.\n\n"
            "DMG\tthe Apple disk image\n"
            "--output DIR\tan existing folder for the .hfs images");
FW_CLI_HELP("recovery-list", "", "",
            "Prints the Recovery HD packages of the list kept in the settings, numbered as "
            "recovery-get takes them.\n\n"
            "--update\tsearch Apple's software-update catalogs first and replace the list (it "
            "stays as it was when no catalog can be read)");
FW_CLI_HELP("recovery-get", "", "",
            "Downloads the Recovery HD package of the list (checked against the size and digest "
            "the catalog gave) and extracts its HFS+ image. Prints the images made.\n\n"
            "N|NAME\tthe entry's number in recovery-list, or its name\n"
            "--output DIR\tan existing folder for the image (default: the folder of the "
            "ZORImageLocalRepo setting)");
FW_CLI_COMMAND("extract-hfs",
               "extract-hfs DMG --output DIR  HFS+ partitions of a DMG as .hfs images",
               ExtractHfsCommand);
FW_CLI_COMMAND("recovery-list",
               "recovery-list [--update]  the Recovery HD list (--update searches the catalogs)",
               RecoveryListCommand);
FW_CLI_COMMAND(
    "recovery-get",
    "recovery-get N|NAME [--output DIR]  download a Recovery HD and extract its HFS+ image",
    RecoveryGetCommand);

}  // namespace fw::cli
