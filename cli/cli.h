// The command-line front end's command table. A command file defines its handler and registers
// it with FW_CLI_COMMAND(name, usage, handler); cli_main.cpp parses the global options and
// dispatches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw::cli {

// Exit statuses of flashwright-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct GlobalOptions {
  std::string settingsFile;   // --settings FILE
  bool yes = false;           // --yes: answer every message box with its affirmative button
  bool noPauses = false;      // --no-pauses: status pauses return at once
  std::string image;          // --image FILE: attach this disk-image file
  std::string create;         // --create SIZE: create the image first (sparse)
  uint32_t sectorSize = 512;  // --sector-size 512|4096 for the image
  bool query = false;         // the command only reports (Command::writesNothing)
};

using Handler = int (*)(const GlobalOptions& options, const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;  // one line, shown by --help
  Handler handler;
  // A query (prints what is there) leaves no trace: no settings save, no example UserDL.ini and
  // no AutoRun switch in the registry store. The single-instance lock and the debug log (when the
  // user enabled it) still apply.
  bool writesNothing = false;
};

// Registration (called from static objects in the command files).
bool Register(const Command& command);
const std::vector<Command>& Commands();

// Prints "flashwright-cli: " + message to stderr; returns `status`.
int Fail(int status, const std::string& message);

}  // namespace fw::cli

#define FW_CLI_CONCAT2(a, b) a##b
#define FW_CLI_CONCAT(a, b) FW_CLI_CONCAT2(a, b)
#define FW_CLI_COMMAND(name, usage, handler)                                     \
  static const bool FW_CLI_CONCAT(fwCliRegistered_, __LINE__) [[maybe_unused]] = \
      ::fw::cli::Register(::fw::cli::Command{name, usage, handler})
// A command that only reports: see Command::writesNothing.
#define FW_CLI_QUERY_COMMAND(name, usage, handler)                               \
  static const bool FW_CLI_CONCAT(fwCliRegistered_, __LINE__) [[maybe_unused]] = \
      ::fw::cli::Register(::fw::cli::Command{name, usage, handler, true})
