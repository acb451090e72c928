// Runs a command and prints, on one line of standard output, its wall-clock
// time in seconds, its peak resident size in KiB, its exit status and its
// processor time (user + system, its waited-for children included) in seconds.
//
//   timed_run <program> [arguments...]
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: timed_run <program> [arguments...]\n");
    return 2;
  }
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child < 0) {
    std::perror("timed_run: fork");
    return 1;
  }
  if (child == 0) {
    execvp(argv[1], argv + 1);
    std::perror("timed_run: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::perror("timed_run: wait");
    return 1;
  }
  timespec end;
  clock_gettime(CLOCK_MONOTONIC, &end);
  double seconds = static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.6f %ld %d %.6f\n", seconds, usage.ru_maxrss, code, cpu);
  return 0;
}
