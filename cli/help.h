// What `flashwright-cli --help` and `flashwright-cli COMMAND --help` print, and the check that
// names a global option given after the command.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace fw::cli {

// The help of one command, registered beside it with FW_CLI_HELP.
struct CommandHelp {
  const char* name;
  // The arguments after the command's name; "" = those of the command table's usage line, which
  // then stays the one place that names the command's options.
  const char* synopsis;
  const char* summary;  // the one line of --help; "" = the usage line's
  // COMMAND --help: a paragraph of what the command does, then an empty line and one
  // "OPTION\tDESCRIPTION" line per option or argument ("" when there are none).
  const char* details;
};

bool RegisterHelp(const CommandHelp& help);

struct HelpText {
  std::string synopsis, summary, details;
};
// The help of `command`: its one-line usage ("name ARGS  summary"), completed or overridden by
// the help registered for it.
HelpText HelpOf(const Command& command);

void PrintUsage(std::ostream& out);
void PrintCommandHelp(std::ostream& out, const Command& command);

// A global option (--yes, --settings FILE, ...) among the arguments of `command` that the command
// does not take itself: "--yes is a global option: give it before the command (...)"; "" when
// there is none.
std::string MisplacedGlobalOption(const Command& command, const std::vector<std::string>& args);

}  // namespace fw::cli

#define FW_CLI_HELP(name, synopsis, summary, details)                      \
  static const bool FW_CLI_CONCAT(fwCliHelp_, __LINE__) [[maybe_unused]] = \
      ::fw::cli::RegisterHelp(::fw::cli::CommandHelp{name, synopsis, summary, details})
