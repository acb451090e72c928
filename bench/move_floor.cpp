// The floor of the files workload for the Windows build: for every name of
// <root>/names.txt, the two MoveFileA calls an update cannot do without (the
// old file into the backup folder, the new one into place) and nothing else.
// Built and started like the program (static, GUI subsystem, importing only
// kernel32 and msvcrt), so that both pay the same process start under Wine.
//
//   move_floor <root> [<tmp>]    (Windows paths, such as Z:/work/...)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;  // no console to say so: the exit code does
  std::string root = argv[1];
  std::string app = root + "/app/";
  std::string backup = app + "updateTemp/";
  std::string release = (argc == 3 ? std::string(argv[2]) : root + "/tmp") + "/unzipTemp/";
  std::FILE* names = std::fopen((root + "/names.txt").c_str(), "r");
  if (!names) return 1;
  if (!CreateDirectoryA(backup.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 1;
  int failures = 0;
  char line[512];
  while (std::fgets(line, sizeof line, names)) {
    line[std::strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0') continue;
    if (!MoveFileA((app + line).c_str(), (backup + line).c_str())) ++failures;
    if (!MoveFileA((release + line).c_str(), (app + line).c_str())) ++failures;
  }
  std::fclose(names);
  return failures ? 1 : 0;
}
