// The floor of an update on one file system: for every name of
// <root>/names.txt, the two renames an update cannot do without (the old file
// or folder into the backup folder, the new one into place) and nothing else.
//
//   rename_floor <root> [<tmp>]    (<tmp> as given to generate; <root>/tmp by default)
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: rename_floor <root> [<tmp>]\n");
    return 2;
  }
  std::string root = argv[1];
  std::string app = root + "/app/";
  std::string backup = app + "updateTemp/";
  std::string release = (argc == 3 ? std::string(argv[2]) : root + "/tmp") + "/unzipTemp/";
  std::FILE* names = std::fopen((root + "/names.txt").c_str(), "r");
  if (!names) {
    std::perror("rename_floor: names.txt");
    return 1;
  }
  if (mkdir(backup.c_str(), 0777) != 0 && errno != EEXIST) {
    std::perror("rename_floor: backup folder");
    return 1;
  }
  int failures = 0;
  char line[512];
  while (std::fgets(line, sizeof line, names)) {
    line[std::strcspn(line, "\n")] = '\0';
    if (line[0] == '\0') continue;
    if (std::rename((app + line).c_str(), (backup + line).c_str()) != 0) ++failures;
    if (std::rename((release + line).c_str(), (app + line).c_str()) != 0) ++failures;
  }
  std::fclose(names);
  if (failures) std::fprintf(stderr, "rename_floor: %d renames failed\n", failures);
  return failures ? 1 : 0;
}
