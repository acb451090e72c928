#include "fs/folder_tree.h"

#include <cstdio>
#include <cstring>

#include "fs/path_queries.h"
#include "platform/platform.h"

void (*folder_tree_entry_hook)(const char* entry_path) = nullptr;

namespace {

using platform::FolderEntry;
using platform::FolderSearch;
using platform::kPathBuffer;

// Composes folder + name + tail into a path buffer. False when the path would
// not fit: the buffer is then emptied, since a cut path names another entry.
bool compose(char (&out)[kPathBuffer], const char* folder, const char* name, const char* tail) {
  int length = std::snprintf(out, sizeof out, "%s%s%s", folder, name, tail);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof out) return true;
  out[0] = '\0';
  return false;
}

bool is_dot_entry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

void entry_hook(const char* path) {
  if (folder_tree_entry_hook) folder_tree_entry_hook(path);
}

// One level of a walk. It lives in the frame that starts the guard, so that
// after a fault has cut the level short the search can still be closed there.
struct Level {
  const char* source;  // the folder walked
  const char* target;  // copy only: the folder filled
  FolderSearch* volatile search;
  int result;
};

// Closes the level's search once: a fault inside the close leaves it unclosed
// rather than closed twice.
void close_search(Level& level) {
  FolderSearch* search = level.search;
  level.search = nullptr;
  platform::find_close(search);
}

// Runs the level's body under the fault guard; a fault or exception makes the
// level yield 0 with its search closed.
int run_level(void (*body)(void*), Level& level) {
  if (!platform::run_guarded(body, &level)) level.result = 0;
  if (level.search) close_search(level);
  return level.result;
}

// Opens the level's search on "<folder>*.*". False when the pattern does not
// fit or the folder cannot be searched.
bool open_search(Level& level, FolderEntry* first) {
  char pattern[kPathBuffer];
  if (!compose(pattern, level.source, "*.*", "")) return false;
  level.search = platform::find_first(pattern, first);
  return level.search != nullptr;
}

int copy_tree_level(const char* source, const char* target);

bool copy_entry(const Level& level, const FolderEntry& entry) {
  const bool folder = (entry.attributes & platform::kAttrFolder) != 0;
  const char* tail = folder ? "/" : "";
  char from[kPathBuffer];
  char to[kPathBuffer];
  if (!compose(from, level.source, entry.name, tail) || !compose(to, level.target, entry.name, tail))
    return false;
  entry_hook(from);
  if (!folder) return platform::copy_file(from, to);
  if (!make_folder(to)) return false;
  return copy_tree_level(from, to) == 1;
}

// Walks the level's entries but "." and "..", in the order the system yields
// them, handing each to act; a failing entry makes the result 0 and the walk
// goes on. False, with the result 0, when the folder cannot be searched.
bool walk_entries(Level& level, bool (*act)(const Level&, const FolderEntry&)) {
  FolderEntry entry;
  if (!open_search(level, &entry)) {
    level.result = 0;
    return false;
  }
  do {
    if (is_dot_entry(entry.name)) continue;
    if (!act(level, entry)) level.result = 0;
  } while (platform::find_next(level.search, &entry));
  close_search(level);
  return true;
}

void copy_level(void* context) { walk_entries(*static_cast<Level*>(context), copy_entry); }

int copy_tree_level(const char* source, const char* target) {
  Level level = {source, target, nullptr, 1};
  return run_level(copy_level, level);
}

int delete_tree_level(const char* folder);

bool delete_entry(const Level& level, const FolderEntry& entry) {
  const bool link = (entry.attributes & platform::kAttrLink) != 0;
  const bool folder = (entry.attributes & platform::kAttrFolder) != 0;
  char path[kPathBuffer];
  // A link is named without a trailing "/" so that it is the link that goes.
  if (!compose(path, level.source, entry.name, folder && !link ? "/" : "")) return false;
  entry_hook(path);
  if (link) return folder ? platform::remove_folder(path) : platform::delete_file(path);
  if (folder) return delete_tree_level(path) == 1;
  // Not looked at: when the attributes stay, the deletion fails and tells.
  platform::set_normal_attributes(path);
  return platform::delete_file(path);
}

void delete_level(void* context) {
  Level& level = *static_cast<Level*>(context);
  if (!walk_entries(level, delete_entry)) return;  // nothing deleted, the folder stays
  // Not looked at: a folder that still holds an entry stays, and that
  // entry's failure is already in the result.
  platform::remove_folder(level.source);
}

int delete_tree_level(const char* folder) {
  Level level = {folder, nullptr, nullptr, 1};
  return run_level(delete_level, level);
}

// When the named folder is itself a link, removes the link and yields true
// with its outcome in *result; false when it is no link.
bool remove_if_link(const char* folder, int* result) {
  char plain[kPathBuffer];
  if (!compose(plain, folder, "", "")) return false;
  std::size_t length = std::strlen(plain);
  while (length > 1 && (plain[length - 1] == '/' || plain[length - 1] == '\\')) plain[--length] = '\0';
  std::uint32_t attributes = platform::file_attributes(plain);
  if (attributes == platform::kInvalidAttributes || !(attributes & platform::kAttrLink) ||
      !(attributes & platform::kAttrFolder))
    return false;
  *result = platform::remove_folder(plain) ? 1 : 0;
  return true;
}

}  // namespace

int copy_folder_tree(const char* source, const char* target) { return copy_tree_level(source, target); }

int delete_folder_tree(const char* folder) {
  int result = 0;
  if (remove_if_link(folder, &result)) return result;
  return delete_tree_level(folder);
}
