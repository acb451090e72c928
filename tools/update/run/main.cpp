// The process entry of every build. The run parameter is the command-line
// tail where the system keeps the command line whole (Windows: quotes and
// blanks as typed, whatever the C runtime makes of them), and otherwise the
// arguments joined by single blanks (the updater passes one argument, the
// configuration path). A Windows GUI-subsystem program starts here too.
// Where programs are met in a terminal, exactly --help or --version is
// answered there instead (CORVANE_VERSION comes from the build).
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/run.h"
#include "run/terminal_options.h"

int main(int argc, char** argv) {
  std::string answer;
  if (platform::answers_terminal_options() && terminal_option_answer(argc, argv, CORVANE_VERSION, &answer)) {
    // An answer that did not reach its reader (a full disk, a closed pipe)
    // is a failure the caller must see.
    bool written = std::fputs(answer.c_str(), stdout) >= 0;
    return std::fflush(stdout) == 0 && written ? 0 : 1;
  }
  std::string command_line;
  std::string run_parameter = platform::whole_command_line(&command_line)
                                  ? command_line_tail(command_line.c_str())
                                  : joined_arguments(argc, argv);
  return run_update(run_parameter);
}
