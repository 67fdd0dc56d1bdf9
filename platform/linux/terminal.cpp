#include "platform/terminal.h"

#include <unistd.h>

namespace fw {

bool IsTerminal(std::FILE* f) { return f && isatty(fileno(f)) == 1; }

}  // namespace fw
