// Minimal logging core; the file handling (ZORDebug.log, the system block) is completed in the
// settings/log work.
#include "app/log.h"

namespace fw {

void LogLine(const char*, int, std::string_view, std::string_view) {}
bool LogIsOpen() { return false; }

}  // namespace fw
