// The Windows process entry: a GUI-subsystem program without a window. Only
// the command-line tail is read, from the process command line itself, so the
// rule for the run parameter holds whatever the C runtime does with it.
#include <windows.h>

#include "run/command_line.h"
#include "run/run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return run_update(command_line_tail(GetCommandLineA()));
}
