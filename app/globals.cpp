#include "app/globals.h"

std::atomic<int> format_op_in_progress{0};
std::atomic<int> CancelMainThread{0};
std::atomic<int> FormatStatus{0};

namespace fw {

ProgramPaths& Program() {
  static ProgramPaths paths;
  return paths;
}

std::string SystemDriveLetter() { return "C"; }

}  // namespace fw
