// The POSIX process entry: the run parameter is the program's arguments joined
// by single blanks (the updater passes one argument, the configuration path).
#include <string>

#include "run/run.h"

int main(int argc, char** argv) {
  std::string run_parameter;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) run_parameter += ' ';
    run_parameter += argv[i];
  }
  return run_update(run_parameter);
}
