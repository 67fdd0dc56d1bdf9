// `settings`: prints the effective settings, exactly as SaveSetting would write them. Looking
// at the settings changes nothing on disk.
#include "app/settings.h"

#include <iostream>

#include "cli/cli.h"
#include "cli/help.h"

namespace {

int SettingsCommand(const fw::cli::GlobalOptions&, const std::vector<std::string>& args) {
  if (!args.empty()) return fw::cli::Fail(fw::cli::kExitUsage, "settings takes no arguments");
  std::cout << fw::SettingsFileText();
  std::cout.flush();
  return std::cout ? fw::cli::kExitOk : fw::cli::kExitFailure;
}

}  // namespace

FW_CLI_HELP("settings", "", "print the effective settings file",
            "Prints the settings file byte for byte as it would be saved (UTF-8 with a byte-order "
            "mark, CR LF line ends). Saves nothing.");
FW_CLI_QUERY_COMMAND("settings", "settings            print the effective settings file",
                     SettingsCommand);
