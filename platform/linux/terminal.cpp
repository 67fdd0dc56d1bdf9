#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace fw {

bool IsTerminal(std::FILE* f) { return f && isatty(fileno(f)) == 1; }

int TerminalColumns(std::FILE* f) {
  winsize size{};
  if (!f || ioctl(fileno(f), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace fw
