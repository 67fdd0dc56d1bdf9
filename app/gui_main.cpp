// flashwright: the desktop program. It takes no command-line arguments.
#include "platform/qt/desktop_program.h"

int main(int argc, char** argv) { return fw::qt::RunDesktopProgram(argc, argv); }
