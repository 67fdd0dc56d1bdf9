#include "app/root_restart.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "platform/process.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

std::atomic<int> offered{0};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool IsFile(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace

bool PolkitActionNamesProgram(const std::string& actionText, const std::string& programPath) {
  if (programPath.empty()) return false;
  const std::string key = "key=\"org.freedesktop.policykit.exec.path\">";
  for (size_t at = actionText.find(key); at != std::string::npos;
       at = actionText.find(key, at + 1)) {
    const size_t start = at + key.size();
    const size_t end = actionText.find('<', start);
    if (end != std::string::npos && actionText.compare(start, end - start, programPath) == 0)
      return true;
  }
  return false;
}

std::vector<std::string> PkexecCommand(const std::string& pkexec, const std::string& programPath,
                                       bool actionNamesProgram, const DisplayEnvironment& env) {
  if (actionNamesProgram) return {pkexec, programPath};
  std::vector<std::string> argv = {pkexec, "env"};
  if (!env.display.empty()) argv.push_back("DISPLAY=" + env.display);
  if (!env.xauthority.empty()) argv.push_back("XAUTHORITY=" + env.xauthority);
  argv.push_back(programPath);
  return argv;
}

bool OfferRootRestart(bool asRoot, const std::string& rightsProblem, const std::string& pkexec) {
  if (asRoot || rightsProblem.empty() || offered.exchange(1) != 0) return false;
  if (pkexec.empty()) {
    FW_LOG_MAIN("pkexec is not installed: no offer to start again as root");
    ShowNote("USB disks need administrator rights: start Flashwright with sudo -E flashwright", -1);
    return false;
  }
  ShowNote(rightsProblem, -1);
  const MsgAnswer answer =
      MessageBox("Flashwright",
                 "USB disks need administrator rights; disk-image files work without them.\n\n"
                 "Start Flashwright again with administrator rights (through pkexec)?",
                 MsgButtons::YesNo, MsgIcon::Question);
  FW_LOG_MAIN(std::string("Start again as root through pkexec: ") +
              (answer == MsgAnswer::Yes ? "Yes" : "No"));
  return answer == MsgAnswer::Yes;
}

void ResetRootRestartOffer() { offered = 0; }

std::string RestartAsRoot() {
  const std::string program = Program().path.empty() ? ExecutablePath() : Program().path;
  const std::string pkexec = FindProgram("pkexec");
  if (pkexec.empty()) return "pkexec is not installed";
  std::ostringstream action;
  action << std::ifstream(kPolkitActionFile).rdbuf();
  DisplayEnvironment env{Environment("DISPLAY"), Environment("XAUTHORITY")};
  const std::string home = Environment("HOME");
  if (env.xauthority.empty() && !home.empty() && IsFile(home + "/.Xauthority")) {
    // pkexec keeps XAUTHORITY only when it is set; root's own default would not open the display.
    env.xauthority = home + "/.Xauthority";
    setenv("XAUTHORITY", env.xauthority.c_str(), 1);
  }
  const std::vector<std::string> argv =
      PkexecCommand(pkexec, program, PolkitActionNamesProgram(action.str(), program), env);
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
  FW_LOG_MAIN("Start again as root: " + line);
  CloseLog();
  return "cannot run " + pkexec + ": " + ErrnoText(ReplaceProcess(argv));
}

}  // namespace fw
