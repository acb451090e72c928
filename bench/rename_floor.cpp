// The floor of an update on one file system: for every name of
// <root>/names.txt, the two renames an update cannot do without (the old file
// or folder into the backup folder, the new one into place) and nothing else.
// With --flush, the durable floor: the same renames, made durable as an
// update must be before it ends, the release's files on the disk before the
// first rename and every rename on it before the end, in one of two ways:
//
//   syncfs  one syncfs of the release's file system before the renames and
//           one of the application's after them (what the program does)
//   fsync   fsync of every file and folder of the release before the renames
//           (new files and the folders that name them), and of every folder
//           the renames changed after them (the application, its backup
//           folder, the release)
//
//   rename_floor [--flush syncfs|fsync] <root> [<tmp>]
//       (<tmp> as given to generate; <root>/tmp by default)
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

// Opens path and hands it to syncfs or fsync; counts a failure.
void flush_with(const std::string& path, int (*flush)(int)) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0 || flush(descriptor) != 0) {
    std::perror(("rename_floor: flush " + path).c_str());
    ++failures;
  }
  if (descriptor >= 0) close(descriptor);
}

int fsync_entry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_F || type == FTW_D) flush_with(path, fsync);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string flush;
  int next = 1;
  if (argc > 2 && std::strcmp(argv[1], "--flush") == 0) {
    flush = argv[2];
    next = 3;
  }
  if ((argc - next != 1 && argc - next != 2) || (!flush.empty() && flush != "syncfs" && flush != "fsync")) {
    std::fprintf(stderr, "usage: rename_floor [--flush syncfs|fsync] <root> [<tmp>]\n");
    return 2;
  }
  std::string root = argv[next];
  std::string app = root + "/app/";
  std::string backup = app + "updateTemp/";
  std::string release = (argc - next == 2 ? std::string(argv[next + 1]) : root + "/tmp") + "/unzipTemp/";
  std::FILE* names = std::fopen((root + "/names.txt").c_str(), "r");
  if (!names) {
    std::perror("rename_floor: names.txt");
    return 1;
  }
  if (flush == "syncfs") flush_with(release, syncfs);
  if (flush == "fsync") nftw(release.c_str(), fsync_entry, 64, FTW_PHYS);
  if (mkdir(backup.c_str(), 0777) != 0 && errno != EEXIST) {
    std::perror("rename_floor: backup folder");
    return 1;
  }
  char line[512];
  while (std::fgets(line, sizeof line, names)) {
    line[std::strcspn(line, "\n")] = '\0';
    if (line[0] == '\0') continue;
    if (std::rename((app + line).c_str(), (backup + line).c_str()) != 0) ++failures;
    if (std::rename((release + line).c_str(), (app + line).c_str()) != 0) ++failures;
  }
  std::fclose(names);
  if (flush == "syncfs") flush_with(app, syncfs);
  if (flush == "fsync") {
    for (const std::string& folder : {backup, app, release}) flush_with(folder, fsync);
  }
  if (failures) std::fprintf(stderr, "rename_floor: %d renames or flushes failed\n", failures);
  return failures ? 1 : 0;
}
