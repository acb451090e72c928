// Holds files or folders open the way a running application does (read
// sharing only: they can be neither moved nor deleted), and takes the run
// lock of folders as a run of Corvane does, runs one command line exactly as
// given, waits for it, then releases them.
//
//   hold_and_run.exe [--hold PATH | --lock FOLDER]... --command-file FILE
//   hold_and_run.exe [--hold PATH | --lock FOLDER]... -- PROGRAM [ARGUMENT]...
//
// --command-file takes the command line byte for byte from FILE (one line; a
// trailing line end is dropped), so blanks and quotes stay exactly as written.
// After "--" the command line is the remaining arguments joined by one blank,
// each in double quotes when it holds a blank or is empty.
// Exit code: the command's; 124 for a usage error, 125 when a path cannot be
// held or a folder locked, 126 when the command cannot be started.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_support.h"

namespace {

int usage(const char* problem) {
  std::fprintf(stderr, "hold_and_run: %s\n", problem);
  std::fprintf(stderr,
               "usage: hold_and_run [--hold PATH | --lock FOLDER]... --command-file FILE\n"
               "       hold_and_run [--hold PATH | --lock FOLDER]... -- PROGRAM [ARGUMENT]...\n");
  return 124;
}

std::string quoted_if_needed(const std::string& argument) {
  if (!argument.empty() && argument.find(' ') == std::string::npos) return argument;
  return "\"" + argument + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> holds;
  std::vector<std::string> locks;
  std::string command_line;
  bool have_command = false;
  for (int i = 1; i < argc && !have_command; ++i) {
    if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      holds.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "--lock") == 0 && i + 1 < argc) {
      locks.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "--command-file") == 0 && i + 1 < argc) {
      if (!test_support::exists(argv[i + 1])) return usage("command file not found");
      command_line = test_support::read_file(argv[i + 1]);
      while (!command_line.empty() && (command_line.back() == '\n' || command_line.back() == '\r'))
        command_line.pop_back();
      have_command = i + 2 == argc;
      if (!have_command) return usage("nothing may follow --command-file FILE");
    } else if (std::strcmp(argv[i], "--") == 0 && i + 1 < argc) {
      for (int j = i + 1; j < argc; ++j) {
        if (j > i + 1) command_line += ' ';
        command_line += quoted_if_needed(argv[j]);
      }
      have_command = true;
    } else {
      return usage("unexpected argument");
    }
  }
  if (!have_command || command_line.empty()) return usage("no command given");

  std::vector<test_support::HeldEntry*> held;
  std::vector<platform::FolderLock*> locked;
  auto release_all = [&] {
    for (test_support::HeldEntry* h : held) test_support::release(h);
    for (platform::FolderLock* lock : locked) platform::unlock_folder(lock);
  };
  for (const std::string& path : holds) {
    test_support::HeldEntry* entry = test_support::hold_open(path);
    if (!entry) {
      std::fprintf(stderr, "hold_and_run: cannot hold %s open\n", path.c_str());
      release_all();
      return 125;
    }
    held.push_back(entry);
    std::printf("hold_and_run: holding %s\n", path.c_str());
  }
  for (const std::string& folder : locks) {
    platform::Status why = platform::kOk;
    platform::FolderLock* lock = platform::lock_folder(folder.c_str(), &why);
    if (!lock) {
      std::fprintf(stderr, "hold_and_run: cannot lock %s (%s)\n", folder.c_str(), platform::describe(why).c_str());
      release_all();
      return 125;
    }
    locked.push_back(lock);
    std::printf("hold_and_run: locking %s\n", folder.c_str());
  }
  std::printf("hold_and_run: running %s\n", command_line.c_str());
  std::fflush(stdout);
  int code = test_support::run_process(command_line);
  release_all();
  if (code == -1) {
    std::fprintf(stderr, "hold_and_run: cannot start %s\n", command_line.c_str());
    return 126;
  }
  std::printf("hold_and_run: released %zu, exit code %d\n", held.size(), code);
  return code;
}
