// Test only: faults of the disk for the real program, loaded with LD_PRELOAD.
// Each fault is switched on by an environment variable whose value is the end
// of the path it hits (trailing "/" ignored), so that a test fails one folder
// or file and leaves every other call to the system:
//   CORVANE_FAULT_LISTING=<end>:<n>  readdir of that folder gives n entries,
//                                    then fails with EIO (a bad sector)
//   CORVANE_FAULT_SHORT_READ=<end>   copy_file_range and read of that file
//                                    find its end at once, before its size
//   CORVANE_FAULT_NO_KERNEL_COPY=1   copy_file_range is refused (EXDEV), so
//                                    copies read and write
//   CORVANE_FAULT_FLUSH=<end>        syncfs and fsync through that path fail
//                                    with EIO (a disk that cannot write out)
//   CORVANE_FAULT_NO_FLUSH=1         fsync, fdatasync, syncfs,
//                                    sync_file_range and sync succeed and
//                                    flush nothing: a build that forgot its
//                                    flushes, for tests that must see the
//                                    states such a build leaves on a disk
//   CORVANE_FAULT_UNLINK=<end>       unlink of that path fails with EBUSY
//                                    (a file that cannot be deleted)
//   CORVANE_FAULT_REPLACED=<end>     at the first read of that file, the
//                                    file "<path>.next" is renamed over it,
//                                    as another process would while it is
//                                    copied
//   CORVANE_FAULT_NO_EXCHANGE=1      renameat2 refuses to swap two entries
//                                    (EINVAL), as file systems without the
//                                    swap do
//   CORVANE_FAULT_SWAP=<folder>|<n>|<outside>
//                                    after the n-th rename, link or folder
//                                    made (renameat, renameat2, linkat,
//                                    mkdirat) of the run, the
//                                    folder (a whole path) is moved to
//                                    "<folder>.moved" and a link to outside
//                                    put in its place, as a user who may
//                                    write in the application folder can
//                                    do while an elevated run goes on
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

std::string trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Whether path ends in the value of the variable (up to a ":").
bool hits(const char* variable, const std::string& path) {
  const char* value = getenv(variable);
  if (!value || !*value) return false;
  std::string end = value;
  end = trimmed(end.substr(0, end.find(':')));
  std::string plain = trimmed(path);
  return plain.size() >= end.size() && plain.compare(plain.size() - end.size(), end.size(), end) == 0;
}

std::string path_of(int descriptor) {
  char link[64];
  char target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
  ssize_t length = readlink(link, target, sizeof target - 1);
  if (length < 0) return std::string();
  return std::string(target, static_cast<std::size_t>(length));
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The one listing that fails, and how many entries it still gives.
DIR* failing_listing = nullptr;
long entries_left = 0;

// Puts "<path>.next" in the place of the file being read, once.
void replace_while_read(int descriptor) {
  static bool replaced = false;
  if (replaced || !getenv("CORVANE_FAULT_REPLACED")) return;
  std::string path = path_of(descriptor);
  if (!hits("CORVANE_FAULT_REPLACED", path)) return;
  replaced = true;
  rename((path + ".next").c_str(), path.c_str());
}

// After the n-th change, once: the folder swapped for a link to outside.
void swap_after_change() {
  static long changes = 0;
  const char* value = getenv("CORVANE_FAULT_SWAP");
  if (!value || !*value) return;
  std::string text = value;
  std::size_t first = text.find('|');
  std::size_t second = text.find('|', first + 1);
  if (first == std::string::npos || second == std::string::npos) return;
  if (++changes != atol(text.substr(first + 1, second - first - 1).c_str())) return;
  std::string folder = trimmed(text.substr(0, first));
  rename(folder.c_str(), (folder + ".moved").c_str());
  symlink(text.substr(second + 1).c_str(), folder.c_str());
}

}  // namespace

extern "C" {

int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  if ((flags & RENAME_EXCHANGE) && getenv("CORVANE_FAULT_NO_EXCHANGE")) {
    errno = EINVAL;
    return -1;
  }
  int result = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(from_folder, from, to_folder,
                                                                                       to, flags);
  if (result == 0) swap_after_change();
  return result;
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  int result = next<int (*)(int, const char*, int, const char*)>("renameat")(from_folder, from, to_folder, to);
  if (result == 0) swap_after_change();
  return result;
}

int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) {
  int result = next<int (*)(int, const char*, int, const char*, int)>("linkat")(from_folder, from, to_folder, to, flags);
  if (result == 0) swap_after_change();
  return result;
}

int mkdirat(int folder, const char* name, mode_t mode) {
  int result = next<int (*)(int, const char*, mode_t)>("mkdirat")(folder, name, mode);
  if (result == 0) swap_after_change();
  return result;
}

DIR* opendir(const char* name) {
  DIR* listing = next<DIR* (*)(const char*)>("opendir")(name);
  if (listing && hits("CORVANE_FAULT_LISTING", name)) {
    failing_listing = listing;
    const char* count = strchr(getenv("CORVANE_FAULT_LISTING"), ':');
    entries_left = count ? atol(count + 1) : 0;
  }
  return listing;
}

struct dirent* readdir(DIR* listing) {
  if (listing == failing_listing && entries_left == 0) {
    errno = EIO;
    return nullptr;
  }
  struct dirent* entry = next<struct dirent* (*)(DIR*)>("readdir")(listing);
  // "." and ".." are no entries of the walk.
  if (entry && listing == failing_listing && strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
    --entries_left;
  return entry;
}

int closedir(DIR* listing) {
  if (listing == failing_listing) failing_listing = nullptr;
  return next<int (*)(DIR*)>("closedir")(listing);
}

ssize_t copy_file_range(int from, off64_t* from_offset, int to, off64_t* to_offset, size_t length,
                        unsigned flags) {
  if (getenv("CORVANE_FAULT_NO_KERNEL_COPY")) {
    errno = EXDEV;
    return -1;
  }
  if (hits("CORVANE_FAULT_SHORT_READ", path_of(from))) return 0;
  replace_while_read(from);
  return next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range")(
      from, from_offset, to, to_offset, length, flags);
}

ssize_t read(int descriptor, void* buffer, size_t length) {
  if (getenv("CORVANE_FAULT_SHORT_READ") && hits("CORVANE_FAULT_SHORT_READ", path_of(descriptor))) return 0;
  replace_while_read(descriptor);
  return next<ssize_t (*)(int, void*, size_t)>("read")(descriptor, buffer, length);
}

int syncfs(int descriptor) {
  if (getenv("CORVANE_FAULT_NO_FLUSH")) return 0;
  if (hits("CORVANE_FAULT_FLUSH", path_of(descriptor))) {
    errno = EIO;
    return -1;
  }
  return next<int (*)(int)>("syncfs")(descriptor);
}

int fsync(int descriptor) {
  if (getenv("CORVANE_FAULT_NO_FLUSH")) return 0;
  if (hits("CORVANE_FAULT_FLUSH", path_of(descriptor))) {
    errno = EIO;
    return -1;
  }
  return next<int (*)(int)>("fsync")(descriptor);
}

int fdatasync(int descriptor) {
  if (getenv("CORVANE_FAULT_NO_FLUSH")) return 0;
  return next<int (*)(int)>("fdatasync")(descriptor);
}

int sync_file_range(int descriptor, off64_t offset, off64_t length, unsigned flags) {
  if (getenv("CORVANE_FAULT_NO_FLUSH")) return 0;
  return next<int (*)(int, off64_t, off64_t, unsigned)>("sync_file_range")(descriptor, offset, length, flags);
}

void sync() {
  if (getenv("CORVANE_FAULT_NO_FLUSH")) return;
  next<void (*)()>("sync")();
}

int unlink(const char* path) {
  if (hits("CORVANE_FAULT_UNLINK", path)) {
    errno = EBUSY;
    return -1;
  }
  return next<int (*)(const char*)>("unlink")(path);
}

}  // extern "C"
