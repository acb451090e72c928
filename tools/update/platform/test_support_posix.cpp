// Test helpers on POSIX.
#include "platform/test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace test_support {

std::string make_temp_folder() {
  char pattern[] = "/tmp/corvane-test-XXXXXX";
  if (!mkdtemp(pattern)) {
    std::perror("mkdtemp");
    std::abort();
  }
  return std::string(pattern) + "/";
}

// POSIX lets others move and delete open files; holding one open changes nothing.
struct HeldEntry {
  int descriptor;
};

HeldEntry* hold_open(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY);
  return descriptor < 0 ? nullptr : new HeldEntry{descriptor};
}

void release(HeldEntry* held) {
  if (!held) return;
  close(held->descriptor);
  delete held;
}

int run_process(const std::string& command_line) {
  int status = std::system(command_line.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace test_support

namespace test_support {

const char* const kTextLineEnd = "\n";
const bool kWindows = false;

namespace {
std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}
}  // namespace

int run_corvane(const std::string& run_parameter) {
  std::string command = shell_quoted(program_path());
  if (!run_parameter.empty()) command += " " + shell_quoted(run_parameter);
  return run_process(command);
}

}  // namespace test_support
