// POSIX (Linux) side of the platform primitives: each intent carried out with
// the system's own calls, and errno translated into a neutral Status.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "platform/platform.h"
#include "platform/status_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

static_assert(kPathMax == PATH_MAX, "platform.h's path limit is the system's");

namespace {

Failure failure_of(int error) {
  switch (error) {
    case 0: return Failure::none;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
      return Failure::in_use;
    case EEXIST:
    case ENOTEMPTY:
      return Failure::exists;
    case ENOENT:
    case ENOTDIR:
      return Failure::not_found;
    case EACCES:
    case EPERM:
    case EROFS:
      return Failure::denied;
    case ENAMETOOLONG: return Failure::too_long;
    case EXDEV: return Failure::other_volume;
    case ENOSYS:
    case EOPNOTSUPP:
      return Failure::not_supported;
    default: return Failure::other;
  }
}

// The status of the call that just failed, from errno.
Status last_error() {
  int error = errno;
  if (error == 0) error = EIO;  // a failure must never read as success
  return Status{failure_of(error), error};
}

Status status_of(bool ok) { return ok ? kOk : last_error(); }

}  // namespace

std::string describe(const Status& status) {
  if (status.code == 0) return describe_without_code(status.failure);
  char buffer[256];
  // The GNU strerror_r returns its text, in buffer or a static one.
  const char* text = strerror_r(static_cast<int>(status.code), buffer, sizeof buffer);
  return text && *text ? text : "error " + std::to_string(status.code);
}

Status too_long() { return Status{Failure::too_long, ENAMETOOLONG}; }

Status last_file_error() { return last_error(); }

namespace {

// Attributes of a status record as the Windows attribute word would give them;
// what is neither a file nor a folder (a pipe, a socket, a device) counts as a
// device.
std::uint32_t attributes_of(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return kAttrFolder;
  std::uint32_t read_only = (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? kAttrReadOnly : 0;
  if (!S_ISREG(status.st_mode)) return kAttrDevice | read_only;
  return read_only ? read_only : kAttrNormal;
}

// Copies an open file's content into another open file, up to its end: in
// the kernel where it can, by reading and writing where it cannot. size is
// what the file held when it was opened; a call that copies nothing more then
// confirms the end, as reading would. An end met before size is no end: the
// file shrank while it was copied, or the file system lost part of it, and
// the copy fails (EIO) rather than pass for whole.
// The last pair of file systems between which the kernel would not copy: the
// copies of one folder all go between the same two, and each file need not
// ask again.
struct NoKernelCopy {
  dev_t from = 0, to = 0;
  bool known = false;
} no_kernel_copy;

bool ended_whole(off_t done, off_t size) {
  if (done >= size) return true;
  errno = EIO;
  return false;
}

bool copy_content(int from, int to, off_t size, dev_t from_device, dev_t to_device) {
  constexpr size_t kChunk = 1 << 30;
  off_t done = 0;
  bool kernel_copy = !(no_kernel_copy.known && no_kernel_copy.from == from_device && no_kernel_copy.to == to_device);
  while (kernel_copy) {
    size_t wanted = done < size ? static_cast<size_t>(size - done) : 64 * 1024;
    if (wanted > kChunk) wanted = kChunk;
    ssize_t n = copy_file_range(from, nullptr, to, nullptr, wanted, 0);
    if (n > 0) {
      done += n;
      continue;
    }
    if (n == 0) return ended_whole(done, size);
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // No in-kernel copy between these two: read and write the rest.
    if (done == 0) no_kernel_copy = {from_device, to_device, true};
    break;
  }
  if (lseek(from, done, SEEK_SET) < 0 || lseek(to, done, SEEK_SET) < 0) return false;
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = read(from, buffer, sizeof buffer);
    if (n == 0) return ended_whole(done, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t written = 0; written < n;) {
      ssize_t w = write(to, buffer + written, static_cast<size_t>(n - written));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      written += w;
    }
    done += n;
  }
}

// Copies a regular file with its permission bits and times: from, named in
// the folder from_folder (AT_FDCWD: the current one), to to in to_folder.
// Both ends are opened non-blocking so that a FIFO or device is refused at
// once instead of waiting; flags adds O_NOFOLLOW where a link must not be
// followed at either end.
bool copy_regular_file_at(int from_folder, const char* from, int to_folder, const char* to, int flags,
                          EntryIdentity* copied, EntryIdentity* made = nullptr) {
  int source = openat(from_folder, from, O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
  if (source < 0) return false;
  struct stat status;
  if (fstat(source, &status) != 0) {
    int error = errno;
    close(source);
    errno = error;
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    close(source);
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (copied) *copied = EntryIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
  int target = openat(to_folder, to, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | flags, status.st_mode & 07777);
  if (target < 0) {
    int error = errno;
    close(source);
    errno = error;
    return false;
  }
  // A file copied onto itself (through a link, say) would be emptied by the
  // truncation: refused, as CopyFileA refuses it. Only a regular file is
  // overwritten.
  struct stat existing;
  if (fstat(target, &existing) != 0 || !S_ISREG(existing.st_mode) ||
      (existing.st_dev == status.st_dev && existing.st_ino == status.st_ino)) {
    close(target);
    close(source);
    errno = EINVAL;
    return false;
  }
  if (made) *made = EntryIdentity{static_cast<std::uint64_t>(existing.st_dev), static_cast<std::uint64_t>(existing.st_ino)};
  // A target that is new (empty) needs no truncation, and one that already
  // has the source's permission bits no change of them: each call is made only
  // where it changes something, since a folder copy makes them per file.
  bool ok = (existing.st_size == 0 || ftruncate(target, 0) == 0) &&
            copy_content(source, target, status.st_size, status.st_dev, existing.st_dev);
  struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (ok && (existing.st_mode & 07777) != (status.st_mode & 07777))
    ok = fchmod(target, status.st_mode & 07777) == 0;
  if (ok) ok = futimens(target, times) == 0;
  if (close(target) != 0) ok = false;
  close(source);
  if (!ok) {
    int error = errno;
    unlinkat(to_folder, to, 0);  // never leave a half-written copy behind
    errno = error;
  }
  return ok;
}

// The path without its trailing "/" characters (so that a link is seen as the
// link, not as the folder it points to). False when it does not fit.
bool without_trailing_slash(const char* path, char* out, std::size_t size) {
  std::size_t length = std::strlen(path);
  while (length > 1 && path[length - 1] == '/') --length;
  if (length >= size) return false;
  std::memcpy(out, path, length);
  out[length] = '\0';
  return true;
}

}  // namespace

std::uint32_t file_attributes(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0) return kInvalidAttributes;
  if (S_ISLNK(status.st_mode)) {
    struct stat target;
    bool reached = stat(path, &target) == 0;
    bool folder = reached && S_ISDIR(target.st_mode);
    bool device = reached && !folder && !S_ISREG(target.st_mode);
    return kAttrLink | (folder ? kAttrFolder : 0) | (device ? kAttrDevice : 0);
  }
  return attributes_of(status);
}

Status set_normal_attributes(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0) return last_error();
  if (S_ISLNK(status.st_mode)) return kOk;  // a link has no attributes of its own
  if (status.st_mode & S_IWUSR) return kOk;  // already writable: nothing to clear
  return status_of(chmod(path, (status.st_mode & 07777) | S_IWUSR) == 0);
}

bool set_attributes(const char* path, std::uint32_t attributes) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  mode_t mode = status.st_mode & 07777;
  if (attributes & kAttrReadOnly)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  return chmod(path, mode) == 0;
}

Status create_folder(const char* path) { return status_of(mkdir(path, 0777) == 0); }

struct FolderSearch {
  DIR* folder;
  dev_t device;  // the searched folder's file system
  std::string prefix;  // the names listed begin with it
};

namespace {

// The kind of a directory entry. A folder is looked at once more, to tell a
// mount point (another file system) from a plain folder.
void fill_kind(FolderSearch* search, const struct dirent* d, FolderEntry* entry) {
  entry->points_to_folder = false;
  unsigned char type = d->d_type;
  if (type == DT_REG) {
    entry->kind = EntryKind::file;
    return;
  }
  struct stat status;
  if (fstatat(dirfd(search->folder), d->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    // Gone since it was listed, or not to be examined: acting on it tells.
    entry->kind = type == DT_DIR ? EntryKind::folder : EntryKind::file;
    return;
  }
  if (S_ISDIR(status.st_mode)) {
    entry->kind = status.st_dev == search->device ? EntryKind::folder : EntryKind::mount;
  } else if (S_ISLNK(status.st_mode)) {
    entry->kind = EntryKind::link;
    struct stat target;
    entry->points_to_folder =
        fstatat(dirfd(search->folder), d->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
  } else {
    entry->kind = S_ISREG(status.st_mode) ? EntryKind::file : EntryKind::other;
  }
}

// Fills entry from the next directory entry that matches the search's prefix.
// readdir tells its end from a failure only by errno, which it leaves alone at
// the end: so errno is cleared before each call.
bool next_match(FolderSearch* search, FolderEntry* entry, Status* why) {
  const char* prefix = search->prefix.c_str();
  std::size_t prefix_length = search->prefix.size();
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(search->folder);
    if (!d) {
      *why = errno == 0 ? kOk : last_error();
      return false;
    }
    if (std::strncmp(d->d_name, prefix, prefix_length) != 0) continue;
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    std::size_t name_length = std::strlen(d->d_name);
    if (name_length >= sizeof entry->name) {
      // Skipped, a walk would miss it without a word.
      *why = too_long();
      return false;
    }
    std::memcpy(entry->name, d->d_name, name_length + 1);
    fill_kind(search, d, entry);
    *why = kOk;
    return true;
  }
}

}  // namespace

FolderSearch* open_folder(const char* folder, const char* prefix, Status* why) {
  Status failure = kOk;
  if (!why) why = &failure;
  std::size_t folder_length = std::strlen(folder);
  std::size_t prefix_length = std::strlen(prefix);
  if (folder_length + prefix_length > kSearchFolderMax) {
    *why = too_long();
    return nullptr;
  }
  DIR* listing = opendir(folder_length ? folder : ".");
  struct stat status;
  if (!listing || fstat(dirfd(listing), &status) != 0) {
    *why = last_error();
    if (listing) closedir(listing);
    return nullptr;
  }
  FolderSearch* search = new FolderSearch();
  search->folder = listing;
  search->device = status.st_dev;
  search->prefix = prefix;
  *why = kOk;
  return search;
}

bool next_entry(FolderSearch* search, FolderEntry* entry, Status* why) {
  Status failure = kOk;
  return next_match(search, entry, why ? why : &failure);
}

void close_folder(FolderSearch* search) {
  if (!search) return;
  closedir(search->folder);
  delete search;
}

FolderSearch* open_folder_in(FolderSearch* parent, const char* name, Status* why) {
  int descriptor = openat(dirfd(parent->folder), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat status;
  DIR* listing = nullptr;
  if (descriptor >= 0 && fstat(descriptor, &status) == 0) listing = fdopendir(descriptor);
  if (!listing) {
    *why = last_error();
    if (descriptor >= 0) close(descriptor);
    return nullptr;
  }
  FolderSearch* search = new FolderSearch();
  search->folder = listing;
  search->device = status.st_dev;
  *why = kOk;
  return search;
}

Status make_listed_folder_writable(FolderSearch* search) {
  struct stat status;
  if (fstat(dirfd(search->folder), &status) != 0) return last_error();
  if (status.st_mode & S_IWUSR) return kOk;  // already writable: nothing to change
  return status_of(fchmod(dirfd(search->folder), (status.st_mode & 07777) | S_IWUSR) == 0);
}

Status delete_listed_entry(FolderSearch* search, const FolderEntry& entry) {
  // Deleting needs write permission on the folder only; a link goes itself.
  return status_of(unlinkat(dirfd(search->folder), entry.name, 0) == 0);
}

Status remove_listed_folder(FolderSearch* search, const char* name) {
  return status_of(unlinkat(dirfd(search->folder), name, AT_REMOVEDIR) == 0);
}

namespace {

// Copies the link from (in the folder from_folder) as a link to to (in
// to_folder), with its times; a link made by symlink() gets the time of its
// making. An older entry of that name (a link or a file) is replaced, as a
// file copy replaces one; a folder in the way is left to tell. A link whose
// times cannot be set is removed again, as a file copy that cannot be
// finished is.
Status copy_link_at(int from_folder, const char* from, int to_folder, const char* to) {
  struct stat source;
  if (fstatat(from_folder, from, &source, AT_SYMLINK_NOFOLLOW) != 0) return last_error();
  char target[PATH_MAX];
  ssize_t length = readlinkat(from_folder, from, target, sizeof target - 1);
  if (length < 0) return last_error();
  if (static_cast<std::size_t>(length) >= sizeof target - 1) return too_long();
  target[length] = '\0';
  if (symlinkat(target, to_folder, to) != 0) {
    if (errno != EEXIST) return last_error();
    struct stat existing;
    if (fstatat(to_folder, to, &existing, AT_SYMLINK_NOFOLLOW) != 0) return last_error();
    if (S_ISDIR(existing.st_mode)) return Status{Failure::exists, EEXIST};
    if (unlinkat(to_folder, to, 0) != 0) return last_error();
    if (symlinkat(target, to_folder, to) != 0) return last_error();
  }
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (utimensat(to_folder, to, times, AT_SYMLINK_NOFOLLOW) == 0) return kOk;
  Status failed = last_error();
  unlinkat(to_folder, to, 0);
  return failed;
}

// Gives the folder to the permission bits and times of the folder from
// (both open folders).
Status copy_folder_attributes_of(int from, int to) {
  struct stat source;
  struct stat target;
  if (fstat(from, &source) != 0 || fstat(to, &target) != 0) return last_error();
  // The bits are changed only where they differ, as for a copied file.
  if ((target.st_mode & 07777) != (source.st_mode & 07777) && fchmod(to, source.st_mode & 07777) != 0)
    return last_error();
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  return status_of(futimens(to, times) == 0);
}

}  // namespace

struct TargetFolder {
  int descriptor;
};

namespace {

TargetFolder* open_target_at(int folder, const char* name, Status* why) {
  int descriptor = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    *why = last_error();
    return nullptr;
  }
  *why = kOk;
  return new TargetFolder{descriptor};
}

}  // namespace

TargetFolder* open_target_folder(const char* path, Status* why) {
  char plain[kPathMax + 1];
  if (!without_trailing_slash(path, plain, sizeof plain)) {
    *why = too_long();
    return nullptr;
  }
  return open_target_at(AT_FDCWD, plain[0] ? plain : ".", why);
}

TargetFolder* open_given_folder(const char* path, Status* why) {
  int descriptor = open(path[0] ? path : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    *why = last_error();
    return nullptr;
  }
  *why = kOk;
  return new TargetFolder{descriptor};
}

TargetFolder* make_target_folder_in(TargetFolder* folder, const char* name, Status* why) {
  if (mkdirat(folder->descriptor, name, 0777) != 0 && errno != EEXIST) {
    *why = last_error();
    return nullptr;
  }
  return open_target_at(folder->descriptor, name, why);
}

void close_target_folder(TargetFolder* folder) {
  if (!folder) return;
  close(folder->descriptor);
  delete folder;
}

namespace {

// The folder that holds the last step of place, opened by walking every
// step before it from place's folder without following a link; *last gets
// the last step. -1, with the reason in *why, when a step is missing, is no
// folder, is a link (Failure::link_on_way) or is "." or "..".
int open_parent_of(const Place& place, std::string* last, Status* why) {
  const char* steps = place.steps;
  int folder = openat(place.folder->descriptor, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    *why = last_error();
    return -1;
  }
  for (;;) {
    while (*steps == '/') ++steps;
    const char* end = std::strchr(steps, '/');
    std::string step = end ? std::string(steps, end) : std::string(steps);
    while (end && *end == '/') ++end;
    if (step.empty() || step == "." || step == "..") {
      close(folder);
      *why = Status{Failure::other, EINVAL};
      return -1;
    }
    if (!end || !*end) {
      *last = step;
      *why = kOk;
      return folder;
    }
    int next = openat(folder, step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      struct stat status;
      *why = (errno == ENOTDIR || errno == ELOOP) &&
                     fstatat(folder, step.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)
                 ? Status{Failure::link_on_way, 0}
                 : last_error();
      close(folder);
      return -1;
    }
    close(folder);
    folder = next;
    steps = end;
  }
}

// The failure of a call on the last step of a place, opened with
// O_NOFOLLOW: a link found there is named as one.
Status last_step_error(int folder, const std::string& last) {
  int error = errno;
  struct stat status;
  if ((error == ELOOP || error == ENOTDIR) && fstatat(folder, last.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(status.st_mode))
    return Status{Failure::link_on_way, 0};
  errno = error;
  return last_error();
}

// renameat2 without replacing; where the file system has no such rename,
// a test and then a rename.
bool move_at(int from_folder, const char* from, int to_folder, const char* to) {
  if (renameat2(from_folder, from, to_folder, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat status;
  if (fstatat(to_folder, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return renameat(from_folder, from, to_folder, to) == 0;
}

}  // namespace

namespace {

// Runs act(folder, last step) on the folder that holds place's last step,
// reached as open_parent_of walks; the walk's failure when it cannot be.
template <typename Act>
Status act_at(const Place& place, Act act) {
  std::string name;
  Status why = kOk;
  int folder = open_parent_of(place, &name, &why);
  if (folder < 0) return why;
  Status done = act(folder, name);
  close(folder);
  return done;
}

}  // namespace

Status move_entry_between(const Place& from, const Place& to) {
  return act_at(from, [&to](int from_folder, const std::string& from_name) {
    return act_at(to, [from_folder, &from_name](int to_folder, const std::string& to_name) {
      return status_of(move_at(from_folder, from_name.c_str(), to_folder, to_name.c_str()));
    });
  });
}

Status move_entry_over(const Place& from, const Place& to) {
  return act_at(from, [&to](int from_folder, const std::string& from_name) {
    return act_at(to, [from_folder, &from_name](int to_folder, const std::string& to_name) {
      return status_of(renameat(from_folder, from_name.c_str(), to_folder, to_name.c_str()) == 0);
    });
  });
}

Status exchange_entries(const Place& first, const Place& second) {
  return act_at(first, [&second](int first_folder, const std::string& first_name) {
    return act_at(second, [first_folder, &first_name](int second_folder, const std::string& second_name) {
      if (renameat2(first_folder, first_name.c_str(), second_folder, second_name.c_str(), RENAME_EXCHANGE) == 0)
        return kOk;
      // The file system has no swap (EINVAL), or the kernel none (ENOSYS).
      if (errno == EINVAL || errno == ENOSYS) return Status{Failure::not_supported, errno};
      return last_error();
    });
  });
}

Status link_entry_between(const Place& existing, const Place& new_name) {
  return act_at(existing, [&new_name](int from_folder, const std::string& from_name) {
    return act_at(new_name, [from_folder, &from_name](int to_folder, const std::string& to_name) {
      return status_of(linkat(from_folder, from_name.c_str(), to_folder, to_name.c_str(), 0) == 0);
    });
  });
}

Status create_folder_at(const Place& place) {
  return act_at(place, [](int folder, const std::string& name) {
    return status_of(mkdirat(folder, name.c_str(), 0777) == 0);
  });
}

TargetFolder* open_target_folder_at(const Place& place, Status* why) {
  int descriptor = -1;
  *why = act_at(place, [&descriptor](int folder, const std::string& name) {
    descriptor = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return descriptor < 0 ? last_step_error(folder, name) : kOk;
  });
  return descriptor < 0 ? nullptr : new TargetFolder{descriptor};
}

Status copy_file_to(const char* from, const Place& to, EntryIdentity* copied, EntryIdentity* made) {
  return act_at(to, [from, copied, made](int folder, const std::string& name) {
    return copy_regular_file_at(AT_FDCWD, from, folder, name.c_str(), O_NOFOLLOW, copied, made)
               ? kOk
               : last_step_error(folder, name);
  });
}

Status copy_link_to(const char* from, const Place& to) {
  return act_at(to, [from](int folder, const std::string& name) {
    return copy_link_at(AT_FDCWD, from, folder, name.c_str());
  });
}

Status delete_file_at(const Place& place) {
  return act_at(place, [](int folder, const std::string& name) {
    return status_of(unlinkat(folder, name.c_str(), 0) == 0);
  });
}

bool entry_exists_at(const Place& place) {
  return act_at(place, [](int folder, const std::string& name) {
           struct stat status;
           return status_of(fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0);
         }).ok();
}

Status target_folder_identity(TargetFolder* folder, EntryIdentity* identity) {
  struct stat status;
  if (fstat(folder->descriptor, &status) != 0) return last_error();
  *identity = EntryIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
  return kOk;
}

Status identity_at(const Place& place, EntryIdentity* identity) {
  return act_at(place, [identity](int folder, const std::string& name) {
    struct stat status;
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return last_error();
    *identity = EntryIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return kOk;
  });
}

Status copy_listed_entry(FolderSearch* source, const FolderEntry& entry, TargetFolder* folder) {
  const int from = dirfd(source->folder);
  if (entry.kind == EntryKind::link) return copy_link_at(from, entry.name, folder->descriptor, entry.name);
  return status_of(copy_regular_file_at(from, entry.name, folder->descriptor, entry.name, O_NOFOLLOW, nullptr));
}

Status copy_listed_folder_attributes(FolderSearch* source, TargetFolder* folder) {
  return copy_folder_attributes_of(dirfd(source->folder), folder->descriptor);
}

Status copy_file(const char* from, const char* to, EntryIdentity* copied) {
  return status_of(copy_regular_file_at(AT_FDCWD, from, AT_FDCWD, to, 0, copied));
}

Status copy_folder_attributes(const char* from, const char* to) {
  struct stat source;
  struct stat target;
  if (stat(from, &source) != 0 || stat(to, &target) != 0) return last_error();
  // The bits are changed only where they differ, as for a copied file.
  if ((target.st_mode & 07777) != (source.st_mode & 07777) && chmod(to, source.st_mode & 07777) != 0)
    return last_error();
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  return status_of(utimensat(AT_FDCWD, to, times, 0) == 0);
}
Status copy_link(const char* from, const char* to) { return copy_link_at(AT_FDCWD, from, AT_FDCWD, to); }

Status delete_file(const char* path) {
  // Linux refuses to unlink a folder (EISDIR), so no look beforehand is needed.
  return status_of(unlink(path) == 0);
}

Status remove_folder(const char* path) {
  char plain[kPathMax + 1];
  if (!without_trailing_slash(path, plain, sizeof plain)) return too_long();
  struct stat status;
  if (lstat(plain, &status) != 0) return last_error();
  if (S_ISLNK(status.st_mode)) {
    struct stat target;
    if (stat(plain, &target) != 0 || !S_ISDIR(target.st_mode)) return Status{Failure::other, ENOTDIR};
    return status_of(unlink(plain) == 0);  // the link goes, never what it points to
  }
  return status_of(rmdir(plain) == 0);
}

Status remove_link(const char* path) {
  char plain[kPathMax + 1];
  if (!without_trailing_slash(path, plain, sizeof plain)) return too_long();
  return status_of(unlink(plain) == 0);
}

namespace {

bool device_of(const char* path, dev_t* device) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  *device = status.st_dev;
  return true;
}

}  // namespace

Status move_entry(const char* from, const char* to) { return status_of(move_at(AT_FDCWD, from, AT_FDCWD, to)); }

bool is_path_separator(char c) { return c == '/'; }

bool names_are_case_blind() { return false; }

bool drops_trailing_dots_and_blanks() { return false; }

bool may_be_short_alias(const std::string&) { return false; }

bool same_existing_entry(const char* a, const char* b) {
  struct stat first;
  struct stat second;
  return lstat(a, &first) == 0 && lstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

bool same_volume(const char* a, const char* b) {
  dev_t first, second;
  return device_of(a, &first) && device_of(b, &second) && first == second;
}

bool moves_folders_into_place() { return true; }

bool exchanges_entries() { return true; }

Status move_entry_at_restart(const char*, const char*, bool) { return Status{Failure::not_supported, ENOSYS}; }

Status delete_at_restart(const char*) { return Status{Failure::not_supported, ENOSYS}; }

Status swap_in_file(const char* new_file, const char* file) { return status_of(rename(new_file, file) == 0); }

Status append_whole(const char* path, const char* text) {
  int descriptor = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (descriptor < 0) return last_error();
  struct stat status;
  if (fstat(descriptor, &status) != 0) {
    Status failed = last_error();
    close(descriptor);
    return failed;
  }
  const std::size_t length = std::strlen(text);
  std::size_t written = 0;
  Status result = kOk;
  while (written < length && result.ok()) {
    ssize_t n = write(descriptor, text + written, length - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // a write that takes nothing and says nothing
      result = last_error();
    } else {
      written += static_cast<std::size_t>(n);
    }
  }
  // Not looked at: should the cut fail too, the write's failure is the one
  // to tell, and the part written stays.
  if (!result.ok() && written > 0) (void)ftruncate(descriptor, status.st_size);
  if (close(descriptor) != 0 && result.ok()) result = last_error();
  return result;
}

namespace {

// Opens an existing entry to hand it to a flush call, which gets its
// descriptor. Read access will do for both calls; non-blocking, so that a
// pipe's path never waits for a writer.
Status flush_through(const char* path, int (*flush)(int)) {
  int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return last_error();
  Status status = status_of(flush(descriptor) == 0);
  close(descriptor);  // read only: nothing is lost by a failed close
  return status;
}

}  // namespace

// One syncfs writes out every dirty file and commits the journal once; fsync
// of each new file and changed folder commits it once per call (measured in
// bench/README.md).
Status flush_file_system(const char* path) { return flush_through(path, syncfs); }

Status flush_file(const char* path) { return flush_through(path, fsync); }

namespace {

Status identity_of(const struct stat& status, EntryIdentity* identity) {
  identity->volume = static_cast<std::uint64_t>(status.st_dev);
  identity->index = static_cast<std::uint64_t>(status.st_ino);
  return kOk;
}

}  // namespace

Status entry_identity(const char* path, EntryIdentity* identity) {
  struct stat status;
  return stat(path, &status) == 0 ? identity_of(status, identity) : last_error();
}

Status link_identity(const char* path, EntryIdentity* identity) {
  struct stat status;
  return lstat(path, &status) == 0 ? identity_of(status, identity) : last_error();
}

std::string full_path(const char* path) {
  if (char* resolved = realpath(path, nullptr)) {
    std::string result(resolved);
    std::free(resolved);
    return result;
  }
  // A path whose end does not exist yet: its folder resolved, the rest as written.
  std::string text(path);
  std::string::size_type slash = text.find_last_of('/');
  if (slash == std::string::npos) {
    char* here = getcwd(nullptr, 0);
    if (!here) return std::string();
    std::string result = std::string(here) + "/" + text;
    std::free(here);
    return result;
  }
  if (slash == 0) return text;
  std::string folder = full_path(text.substr(0, slash).c_str());
  return folder.empty() ? folder : folder + text.substr(slash);
}

// realpath resolves every link.
bool passes_unresolved_link(const char*) { return false; }

// The lock is flock on the folder itself: released by the system when the
// process ends, and it follows the folder whatever path names it.
struct FolderLock {
  int descriptor;
};

FolderLock* lock_folder(const char* folder, Status* why) {
  int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    *why = last_error();
    return nullptr;
  }
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    *why = last_error();
    close(descriptor);
    return nullptr;
  }
  *why = kOk;
  return new FolderLock{descriptor};
}

void unlock_folder(FolderLock* lock) {
  if (!lock) return;
  close(lock->descriptor);  // closing the last descriptor releases the lock
  delete lock;
}

bool whole_command_line(std::string*) { return false; }

bool answers_terminal_options() { return true; }

bool query_platform_id(unsigned*) {
  return false;
}

Status short_path(const char*, char*, std::size_t) { return Status{Failure::not_supported, ENOSYS}; }

unsigned windows_folder(char*, std::size_t) { return 0; }

void debug_output(const char* text) { std::fputs(text, stderr); }

namespace {
bool console_is_open = false;
}

void console_open(const char*) { console_is_open = true; }

void console_write(const char* text) {
  if (!console_is_open) return;
  std::size_t length = std::strlen(text);
  for (std::size_t written = 0; written < length;) {
    ssize_t n = write(STDOUT_FILENO, text + written, length - written);
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

void console_close() { console_is_open = false; }

unsigned current_thread_id() { return static_cast<unsigned>(syscall(SYS_gettid)); }

bool is_lead_byte(unsigned char) { return false; }

}  // namespace platform
