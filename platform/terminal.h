// Whether a stream is a terminal (the CLI then rewrites one progress line and asks questions).
#pragma once

#include <cstdio>

namespace fw {

bool IsTerminal(std::FILE* f);
// The width of the terminal `f` writes to in characters; 0 when it is none or does not say.
int TerminalColumns(std::FILE* f);

}  // namespace fw
