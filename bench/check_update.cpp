// Checks that one benchmark run did the whole update: for every name of
// <root>/names.txt the application holds the new version (files filled with
// 'n'), the backup folder the old one ('o', as many files), and the unpacked
// release is empty. A side that skipped or lost work would otherwise show up
// as fast. Prints what is wrong and exits 1; silent and 0 when all is right.
//
//   check_update <root> [<tmp>]    (<tmp> as given to generate; <root>/tmp by default)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int problems = 0;

void report(const std::string& what) {
  if (++problems <= 10) std::fprintf(stderr, "check_update: %s\n", what.c_str());
}

// Counts the regular files of a file or folder tree and reports every one
// whose first byte is not <fill>. Returns -1 when <path> is missing.
long count_versions(const std::string& path, char fill) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return -1;
  if (S_ISREG(info.st_mode)) {
    char first = 0;
    int file = open(path.c_str(), O_RDONLY);
    bool read_one = file >= 0 && read(file, &first, 1) == 1;
    if (file >= 0) close(file);  // read only: nothing to lose on close
    if (info.st_size > 0 && (!read_one || first != fill))
      report(path + ": not the " + (fill == 'n' ? "new" : "old") + " version");
    return 1;
  }
  if (!S_ISDIR(info.st_mode)) return 0;
  DIR* folder = opendir(path.c_str());
  if (!folder) {
    report(path + ": cannot be read");
    return 0;
  }
  long files = 0;
  while (dirent* entry = readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    files += count_versions(path + "/" + entry->d_name, fill);
  }
  closedir(folder);
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: check_update <root> [<tmp>]\n");
    return 2;
  }
  std::string root = argv[1];
  std::string release = (argc == 3 ? std::string(argv[2]) : root + "/tmp") + "/unzipTemp";
  std::FILE* names = std::fopen((root + "/names.txt").c_str(), "r");
  if (!names) {
    std::perror("check_update: names.txt");
    return 1;
  }
  long checked = 0;
  char line[512];
  while (std::fgets(line, sizeof line, names)) {
    line[std::strcspn(line, "\n")] = '\0';
    if (line[0] == '\0') continue;
    ++checked;
    long now = count_versions(root + "/app/" + line, 'n');
    long old = count_versions(root + "/app/updateTemp/" + line, 'o');
    if (now < 0) report(std::string(line) + ": missing from the application");
    if (old < 0) report(std::string(line) + ": missing from the backup folder");
    if (now >= 0 && old >= 0 && now != old)
      report(std::string(line) + ": " + std::to_string(now) + " new files but " + std::to_string(old) + " old");
  }
  std::fclose(names);
  if (checked == 0) report("names.txt lists no name");
  DIR* left = opendir(release.c_str());
  if (!left) {
    report(release + ": cannot be read");
  } else {
    while (dirent* entry = readdir(left))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        report(release + "/" + entry->d_name + ": left in the release");
    closedir(left);
  }
  if (problems > 10) std::fprintf(stderr, "check_update: %d problems in all\n", problems);
  return problems ? 1 : 0;
}
