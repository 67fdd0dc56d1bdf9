// Whether a stream is a terminal (the CLI then rewrites one progress line and asks questions).
#pragma once

#include <cstdio>

namespace fw {

bool IsTerminal(std::FILE* f);

}  // namespace fw
