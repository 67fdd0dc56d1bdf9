// flashwright: the desktop program. It takes no command-line arguments.
#include "gui/desktop_program.h"

int main(int argc, char** argv) { return fw::qt::RunDesktopProgram(argc, argv); }
