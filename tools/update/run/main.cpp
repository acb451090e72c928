// The process entry of every build. The run parameter is the command-line
// tail where the system keeps the command line whole (Windows: quotes and
// blanks as typed, whatever the C runtime makes of them), and otherwise the
// arguments joined by single blanks (the updater passes one argument, the
// configuration path). A Windows GUI-subsystem program starts here too.
#include <string>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/run.h"

int main(int argc, char** argv) {
  std::string command_line;
  std::string run_parameter = platform::whole_command_line(&command_line)
                                  ? command_line_tail(command_line.c_str())
                                  : joined_arguments(argc, argv);
  return run_update(run_parameter);
}
