// Calls move_or_defer for each pair of paths, in order, and prints what became
// of each move and whether the system counts as the NT line.
//
//   move_probe.exe SOURCE TARGET [SOURCE TARGET]...
//
// Each move prints "move <source> -> <target>: moved|failed|deferred"; the last
// line is "is_nt_platform: yes|no". Exit code 0, or 124 for a usage error.
#include <cstdio>

#include "fs/move_or_defer.h"

namespace {

const char* name_of(MoveOutcome outcome) {
  switch (outcome) {
    case MoveOutcome::moved: return "moved";
    case MoveOutcome::failed: return "failed";
    case MoveOutcome::deferred: return "deferred";
  }
  return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: move_probe SOURCE TARGET [SOURCE TARGET]...\n");
    return 124;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    MoveOutcome outcome = move_or_defer(argv[i], argv[i + 1]);
    std::printf("move %s -> %s: %s\n", argv[i], argv[i + 1], name_of(outcome));
  }
  std::printf("is_nt_platform: %s\n", is_nt_platform() ? "yes" : "no");
  return 0;
}
