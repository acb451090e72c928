// Test helpers on POSIX.
#include "platform/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

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

int run_with_prefix(const std::string& prefix, const std::string& run_parameter) {
  std::string command = prefix + shell_quoted(program_path());
  if (!run_parameter.empty()) command += " " + shell_quoted(run_parameter);
  return run_process(command);
}

}  // namespace

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

struct StartedProcess {
  pid_t pid;
};

StartedProcess* start_process(const std::string& command_line) {
  pid_t pid = fork();
  if (pid < 0) return nullptr;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command_line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return new StartedProcess{pid};
}

int wait_process(StartedProcess* process) {
  if (!process) return -1;
  int status = 0;
  pid_t done = waitpid(process->pid, &status, 0);
  delete process;
  if (done < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int open_handle_count() {
  DIR* descriptors = opendir("/proc/self/fd");
  if (!descriptors) return -1;
  int count = 0;
  while (readdir(descriptors)) ++count;
  closedir(descriptors);
  return count;
}

bool set_immutable(const std::string& path, bool on) {
  std::string command = std::string("chattr ") + (on ? "+i " : "-i ") + shell_quoted(path) + " 2>/dev/null";
  return run_process(command) == 0;
}

bool mount_scratch_file_system(const std::string& path, bool on) {
  std::string command = on ? "mount -t tmpfs -o size=1m corvane-test " + shell_quoted(path) + " 2>/dev/null"
                           : "umount " + shell_quoted(path) + " 2>/dev/null";
  return run_process(command) == 0;
}

bool make_link(const std::string& link, const std::string& target) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

int run_process(const std::string& command_line) {
  int status = std::system(command_line.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string corvane_command_line(const std::string& run_parameter) {
  std::string command = shell_quoted(program_path());
  if (!run_parameter.empty()) command += " " + shell_quoted(run_parameter);
  return command;
}

int run_corvane(const std::string& run_parameter) { return run_with_prefix("", run_parameter); }

int run_corvane_without_shell_library(const std::string& run_parameter) {
  return run_with_prefix("HOME=/nonexistent/corvane-home XDG_CONFIG_HOME= ", run_parameter);
}

void set_environment(const std::string& name, const std::string& value) {
  if (value.empty())
    unsetenv(name.c_str());
  else
    setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace test_support

namespace test_support {

bool make_folder_link(const std::string& link, const std::string& target) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

bool remove_link(const std::string& link) { return unlink(link.c_str()) == 0; }

bool system_handles_own_fault() { return true; }

// Wine's Windows 98 mode is Wine's own.
std::string copy_as_windows_98(const std::string&, const std::string&) { return std::string(); }

}  // namespace test_support
