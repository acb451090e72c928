#include "fs/folder_tree.h"

#include <cstdio>
#include <cstring>

#include "fs/path_queries.h"
#include "fs/path_text.h"
#include "platform/platform.h"

namespace {

using platform::EntryKind;
using platform::FolderEntry;
using platform::FolderSearch;
using platform::TargetFolder;
using platform::kPathMax;

// The paths of one walk, one buffer each, shared by all its levels: a level's
// folder is the start of its buffer, and each entry's path is composed after
// it and cut off again. So a deep tree costs no path buffer per level, and a
// walk takes paths as long as the system does.
struct WalkPaths {
  char source[kPathMax];  // the entry walked
  char other[kPathMax];   // copy: the entry filled; delete: where a folder is moved up to
};

// Writes first and then second into buffer from its character at on, after
// the folder that the buffer holds up to there (from 0: a whole path). False
// when the path would not fit: the buffer then ends at at again, since a cut
// path names another entry.
bool compose(char* buffer, std::size_t at, const char* first, const char* second) {
  int length = std::snprintf(buffer + at, kPathMax - at, "%s%s", first, second);
  if (length >= 0 && static_cast<std::size_t>(length) < kPathMax - at) return true;
  buffer[at] = '\0';
  return false;
}

// What the levels of one deletion share. A sub-folder whose entries cannot
// be named where it stands (their paths would not fit a path buffer) is moved
// up into the named folder under a short unused name, and the named folder is
// walked once more, which empties it from there. Each move makes the moved
// tree's path shorter, so the passes end.
struct Emptied {
  const char* folder;   // the named folder, ending in "/"
  unsigned next_name;   // the next short name to try for a move up
  unsigned moved_up;    // sub-folders moved up so far
};

// One level of a walk. It lives in the frame that starts the guard, so that
// after a fault has cut the level short the search can still be closed there.
struct Level {
  WalkPaths* paths;
  std::size_t source_length;  // the folder walked: paths->source up to here
  std::size_t target_length;  // copy only: the folder filled, paths->other up to here
  EntryHook hook;             // null but in tests
  FolderSearch* volatile search;
  int result;
  platform::Status failure;  // the first failure of this level or below
  Emptied* emptied;          // delete only
  FolderSearch* parent;      // the listing this level's folder is an entry of (null: the named folder)
  const char* name;          // that entry's name
  TargetFolder* target;      // copy only: the folder filled
  bool named;                // delete only: this is the named folder
  bool too_deep;             // delete only: an entry here cannot be named from this folder
};

// The level's folder: its path buffer ended there again, after an entry's
// path (or a deeper level's) was composed in it.
const char* source_folder(Level& level) {
  level.paths->source[level.source_length] = '\0';
  return level.paths->source;
}

// Notes a failure of the level: its result becomes 0, and the first reason is kept.
void fail(Level& level, const platform::Status& why) {
  if (level.result == 1) level.failure = why;
  level.result = 0;
}

// Closes the level's search once: a fault inside the close leaves it unclosed
// rather than closed twice.
void close_search(Level& level) {
  FolderSearch* search = level.search;
  level.search = nullptr;
  platform::close_folder(search);
}

// Runs the level's body under the fault guard; a fault or exception makes the
// level yield 0 with its search closed.
int run_level(void (*body)(void*), Level& level, platform::Status* first_failure) {
  if (!platform::run_guarded(body, &level)) fail(level, platform::Status{platform::Failure::fault, 0});
  if (level.search) close_search(level);
  if (level.result != 1 && first_failure) *first_failure = level.failure;
  return level.result;
}

// Opens the listing of the level's folder. False, with the level failed, when
// the folder cannot be read.
bool open_search(Level& level) {
  platform::Status why = platform::kOk;
  // A sub-folder is opened through its parent's listing, never through a
  // link put in its place since it was listed.
  level.search = level.parent ? platform::open_folder_in(level.parent, level.name, &why)
                              : platform::open_folder(source_folder(level), "", &why);
  if (!level.search) fail(level, why);
  return level.search != nullptr;
}

int copy_tree_level(WalkPaths& paths, std::size_t source_length, std::size_t target_length, EntryHook hook,
                    FolderSearch* parent, const char* name, TargetFolder* target, platform::Status* first_failure);

// A link is copied as a link, named without a trailing "/" so that it is
// the link that is read. Where the system makes no links (Windows) the copy
// fails: a copy of what the link points to would put another entry in its
// place (a whole folder tree, or a machine's own file frozen in the copy).
platform::Status copy_entry(Level& level, const FolderEntry& entry) {
  const bool folder = entry.kind == EntryKind::folder || entry.kind == EntryKind::mount;
  const char* tail = folder ? "/" : "";
  char* from = level.paths->source;
  char* to = level.paths->other;
  if (!compose(from, level.source_length, entry.name, tail) || !compose(to, level.target_length, entry.name, tail))
    return platform::too_long();
  if (level.hook) level.hook(from);
  if (!folder) return platform::copy_listed_entry(level.search, entry, level.target);
  platform::Status made = platform::kOk;
  TargetFolder* filled = platform::make_target_folder_in(level.target, entry.name, &made);
  if (!filled) return made;
  platform::Status below = platform::kOk;
  copy_tree_level(*level.paths, std::strlen(from), std::strlen(to), level.hook, level.search, entry.name, filled,
                  &below);
  platform::close_target_folder(filled);
  return below;
}

// Walks the level's entries, in the order the system yields them, handing
// each to act; a failing entry fails the level and the walk goes on. A
// listing that fails before its end fails the level too: the entries it did
// not give were never copied or deleted. False when the folder cannot be
// searched.
void list_entries(Level& level, platform::Status (*act)(Level&, const FolderEntry&)) {
  FolderEntry entry;
  platform::Status listed = platform::kOk;
  while (platform::next_entry(level.search, &entry, &listed)) {
    platform::Status done = act(level, entry);
    if (!done.ok()) fail(level, done);
  }
  if (!listed.ok()) fail(level, listed);
}

bool walk_entries(Level& level, platform::Status (*act)(Level&, const FolderEntry&)) {
  if (!open_search(level)) return false;
  // A folder being emptied that cannot be written to (a copy keeps its
  // source's permission bits) would keep every entry. Not looked at: the
  // deletions then fail and tell.
  if (level.emptied) platform::make_listed_folder_writable(level.search);
  list_entries(level, act);
  close_search(level);
  return true;
}

void copy_level(void* context) {
  Level& level = *static_cast<Level*>(context);
  if (!open_search(level)) return;
  list_entries(level, copy_entry);
  // Once its contents are in: adding them changes a folder's time, and a
  // folder without write permission would not have taken them.
  platform::Status kept = platform::copy_listed_folder_attributes(level.search, level.target);
  if (!kept.ok()) fail(level, kept);
  close_search(level);
}

int copy_tree_level(WalkPaths& paths, std::size_t source_length, std::size_t target_length, EntryHook hook,
                    FolderSearch* parent, const char* name, TargetFolder* target, platform::Status* first_failure) {
  Level level = {&paths, source_length, target_length, hook, nullptr, 1, platform::kOk, nullptr, parent, name,
                 target, false, false};
  return run_level(copy_level, level, first_failure);
}

int delete_tree_level(WalkPaths& paths, std::size_t length, EntryHook hook, Emptied* emptied, FolderSearch* parent,
                      const char* name, platform::Status* first_failure, bool* too_deep);

// Moves the folder at path up into the named folder, under the first short
// name not taken there, to be emptied by the next pass. Failure::too_long when
// that place would be no shorter than where it stands: moving it again would
// not help.
platform::Status move_up(Level& level, const char* path) {
  Emptied& emptied = *level.emptied;
  char* to = level.paths->other;
  const std::size_t length = std::strlen(path);
  for (;;) {
    char name[16];
    std::snprintf(name, sizeof name, "%u", emptied.next_name);
    if (!compose(to, 0, emptied.folder, name) || std::strlen(to) >= length) return platform::too_long();
    ++emptied.next_name;
    platform::Status moved = platform::move_entry(path, to);
    if (moved.ok()) ++emptied.moved_up;
    if (moved.failure != platform::Failure::exists) return moved;
  }
}

// A sub-folder is emptied and removed where it stands when it can be. When
// it cannot be searched there, or an entry inside it cannot be named, it is
// moved up into the named folder, which empties it in its next pass.
platform::Status delete_sub_folder(Level& level, const FolderEntry& entry) {
  char* path = level.paths->source;
  if (compose(path, level.source_length, entry.name, "/") && std::strlen(path) <= platform::kSearchFolderMax) {
    if (level.hook) level.hook(path);
    platform::Status below = platform::kOk;
    bool too_deep = false;
    const std::size_t length = std::strlen(path);
    if (delete_tree_level(*level.paths, length, level.hook, level.emptied, level.search, entry.name, &below,
                          &too_deep) == 1)
      return platform::kOk;
    if (!too_deep) return below;
    path[length - 1] = '\0';  // the deeper level left the path of its folder in place
    platform::Status moved = move_up(level, path);
    // A move that cannot be made leaves the entry that did not fit, whose
    // reason is the one kept.
    return moved.ok() ? platform::kOk : below;
  }
  if (!compose(path, level.source_length, entry.name, "")) {
    level.too_deep = true;  // this folder moved up would let it be named
    return platform::too_long();
  }
  if (level.hook) level.hook(path);
  return move_up(level, path);
}

platform::Status delete_entry(Level& level, const FolderEntry& entry) {
  if (entry.kind == EntryKind::folder) return delete_sub_folder(level, entry);
  // Another file system: its files are not part of this tree.
  if (entry.kind == EntryKind::mount) return platform::Status{platform::Failure::mount_point, 0};
  char* path = level.paths->source;
  // A link is named without a trailing "/" so that it is the link that goes.
  if (!compose(path, level.source_length, entry.name, "")) {
    level.too_deep = true;  // this folder moved up would let it be named
    return platform::too_long();
  }
  if (level.hook) level.hook(path);
  return platform::delete_listed_entry(level.search, entry);
}

void delete_level(void* context) {
  Level& level = *static_cast<Level*>(context);
  // The named folder is walked again for as long as a pass has moved a
  // sub-folder up into it; the last pass's failures are those that stay.
  for (;;) {
    const unsigned moved_before = level.emptied->moved_up;
    level.result = 1;
    level.too_deep = false;
    if (!walk_entries(level, delete_entry)) return;  // nothing deleted, the folder stays
    if (!level.named || level.emptied->moved_up == moved_before) break;
  }
  platform::Status removed = level.parent ? platform::remove_listed_folder(level.parent, level.name)
                                          : platform::remove_folder(source_folder(level));
  // A folder that still holds an entry stays; that entry's failure is the
  // reason already kept.
  if (!removed.ok() && level.result == 1) fail(level, removed);
}

int delete_tree_level(WalkPaths& paths, std::size_t length, EntryHook hook, Emptied* emptied, FolderSearch* parent,
                      const char* name, platform::Status* first_failure, bool* too_deep) {
  Level level = {&paths, length, 0, hook, nullptr, 1, platform::kOk, emptied, parent, name, nullptr, parent == nullptr,
                 false};
  int result = run_level(delete_level, level, first_failure);
  if (too_deep) *too_deep = level.too_deep;
  return result;
}

// When the named folder is itself a link, removes the link and yields true
// with its outcome in *result; false when it is no link.
bool remove_if_link(const char* folder, int* result, platform::Status* first_failure) {
  // Named without its trailing separators, so that the link itself is examined.
  std::string plain = without_trailing_separators(folder);
  if (plain.empty() || plain.size() >= kPathMax) return false;
  std::uint32_t attributes = platform::file_attributes(plain.c_str());
  if (attributes == platform::kInvalidAttributes || !(attributes & platform::kAttrLink) ||
      !(attributes & platform::kAttrFolder))
    return false;
  platform::Status removed = platform::remove_folder(plain.c_str());
  if (!removed.ok() && first_failure) *first_failure = removed;
  *result = removed.ok() ? 1 : 0;
  return true;
}

}  // namespace

int copy_folder_tree_into(const char* source, platform::TargetFolder* target, const char* target_path,
                          platform::Status* first_failure, EntryHook hook) {
  // One path buffer for each side of the walk, here, for all its levels. A
  // folder whose own path does not fit is not searched, as open_folder
  // refuses a longer one.
  WalkPaths paths;
  if (!compose(paths.source, 0, source, "") || !compose(paths.other, 0, target_path, "")) {
    if (first_failure) *first_failure = platform::too_long();
    return 0;
  }
  return copy_tree_level(paths, std::strlen(source), std::strlen(target_path), hook, nullptr, nullptr, target,
                         first_failure);
}

int copy_folder_tree(const char* source, const char* target, platform::Status* first_failure, EntryHook hook) {
  platform::Status why = platform::kOk;
  TargetFolder* filled = platform::open_target_folder(target, &why);
  if (!filled) {
    if (first_failure) *first_failure = why;
    return 0;
  }
  int result = copy_folder_tree_into(source, filled, target, first_failure, hook);
  platform::close_target_folder(filled);
  return result;
}

int delete_folder_tree(const char* folder, platform::Status* first_failure, EntryHook hook) {
  int result = 0;
  if (remove_if_link(folder, &result, first_failure)) return result;
  WalkPaths paths;
  if (!compose(paths.source, 0, folder, "")) {
    if (first_failure) *first_failure = platform::too_long();
    return 0;
  }
  Emptied emptied = {folder, 0, 0};
  return delete_tree_level(paths, std::strlen(folder), hook, &emptied, nullptr, nullptr, first_failure, nullptr);
}
