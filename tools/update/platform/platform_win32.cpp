// Win32 side of the platform primitives: each intent carried out with the
// Windows calls it names, and GetLastError translated into a neutral Status.
#include "platform/platform.h"
#include "platform/links_win32.h"
#include "platform/status_text.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

Failure failure_of(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return Failure::none;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Failure::in_use;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
    case ERROR_DIR_NOT_EMPTY:
      return Failure::exists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return Failure::not_found;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Failure::denied;
    case ERROR_FILENAME_EXCED_RANGE: return Failure::too_long;
    case ERROR_NOT_SAME_DEVICE: return Failure::other_volume;
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_NOT_SUPPORTED:
      return Failure::not_supported;
    default: return Failure::other;
  }
}

// Windows 95, 98 and ME (and Wine playing one): the high bit of the version.
bool is_windows_9x() { return (GetVersion() & 0x80000000u) != 0; }

// The status of the call that just failed, from GetLastError.
Status last_error() {
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;  // a failure must never read as success
  return Status{failure_of(error), static_cast<long>(error)};
}

Status status_of(BOOL ok) { return ok ? kOk : last_error(); }

// What a call on a link gets under Wine, which would act on what the link
// points to instead.
constexpr Status kLinkRefused = {Failure::link, 0};

// The path without trailing separators, so that a link is examined as the
// link: with one, Wine answers for what it points to. Empty when it does not
// fit a path buffer.
std::string plain_path(const char* path) {
  std::string text(path);
  while (text.size() > 1 && (text.back() == '\\' || text.back() == '/') && text[text.size() - 2] != ':')
    text.pop_back();
  return text.size() < kPathBuffer ? text : std::string();
}

void fill_entry(const WIN32_FIND_DATAA& data, FolderEntry* entry) {
  std::strncpy(entry->name, data.cFileName, sizeof entry->name - 1);
  entry->name[sizeof entry->name - 1] = '\0';
  DWORD attributes = data.dwFileAttributes;
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Junctions, symbolic links and mounted volumes are all reparse points.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    entry->kind = EntryKind::link;
  else if (folder)
    entry->kind = EntryKind::folder;
  else if (attributes & FILE_ATTRIBUTE_DEVICE)
    entry->kind = EntryKind::other;
  else
    entry->kind = EntryKind::file;
  entry->points_to_folder = folder;
}

}  // namespace

std::string describe(const Status& status) {
  if (status.code == 0) return describe_without_code(status.failure);
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(status.code), 0, text, sizeof text, nullptr);
  // The system's texts end in a line end (and often a full stop): the log's
  // line goes on after it.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                        text[length - 1] == '.'))
    --length;
  if (length == 0) return "error " + std::to_string(status.code);
  return std::string(text, length);
}

Status too_long() { return Status{Failure::too_long, ERROR_FILENAME_EXCED_RANGE}; }

// The runtime's file calls end in the system's own, which set the last error.
Status last_file_error() { return last_error(); }

std::uint32_t file_attributes(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (!links::links_reach_their_targets()) return attributes;
  // Wine shows a link to a folder as a reparse point, but a link to a file
  // as the file and one whose target is missing not at all: both are told
  // here, so that no call is made on what a link points to.
  DWORD error = GetLastError();
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (error == ERROR_FILE_NOT_FOUND && links::is_link_not_shown(path)) attributes = kAttrLink;
  } else if (!(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
             links::is_file_link(path)) {
    attributes = kAttrLink;
  }
  SetLastError(error);
  return attributes;
}

namespace {

// Under Wine: whether path is a link, which every call would go through.
bool is_link_under_wine(const char* path) {
  if (!links::links_reach_their_targets()) return false;
  std::string plain = plain_path(path);
  std::uint32_t attributes = file_attributes(plain.empty() ? path : plain.c_str());
  return attributes != kInvalidAttributes && (attributes & kAttrLink);
}

}  // namespace

Status set_normal_attributes(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  const DWORD in_the_way = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & in_the_way)) return kOk;  // nothing to clear
  // Under Wine the attributes would be those of what a link points to; a
  // link has none of its own to clear.
  if (is_link_under_wine(path)) return kOk;
  return status_of(SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL));
}

bool set_attributes(const char* path, std::uint32_t attributes) {
  DWORD bits = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem);
  return SetFileAttributesA(path, bits ? bits : FILE_ATTRIBUTE_NORMAL) != 0;
}

Status create_folder(const char* path) { return status_of(CreateDirectoryA(path, nullptr)); }

// A listing: the system's search and the entry it has already given.
struct FolderSearch {
  HANDLE handle;  // INVALID_HANDLE_VALUE for a listing without entries
  WIN32_FIND_DATAA pending;
  bool has_pending;
  char folder[kPathBuffer];  // as given, for the names of its entries
  std::string folder_real;   // under Wine: its real path, once asked for
  bool folder_real_asked;
};

namespace {

bool is_dot_entry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// Under Wine: whether the plain file the listing shows is a link. The
// folder's real path is asked for once per listing.
bool listed_file_is_link(FolderSearch* search, const char* name) {
  char path[kPathBuffer];
  int length = std::snprintf(path, sizeof path, "%s%s", search->folder, name);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return false;  // cannot be named, nor acted on
  if (!search->folder_real_asked) {
    search->folder_real_asked = true;
    links::real_path(search->folder[0] ? search->folder : ".", &search->folder_real);
  }
  if (search->folder_real.empty()) return false;  // cannot be told: taken as what it shows
  return links::is_link_shown_as_file(path, name, search->folder_real);
}

}  // namespace

FolderSearch* open_folder(const char* folder, const char* prefix, Status* why) {
  Status failure = kOk;
  if (!why) why = &failure;
  // The search pattern: the folder, the prefix and "*.*", which matches every
  // name that begins with the prefix.
  char pattern[kPathBuffer];
  int length = std::snprintf(pattern, sizeof pattern, "%s%s*.*", folder, prefix);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof pattern) {
    *why = too_long();
    return nullptr;
  }
  FolderSearch* search = new FolderSearch();
  std::snprintf(search->folder, sizeof search->folder, "%s", folder);  // fits: it is part of the pattern
  search->folder_real_asked = false;
  search->handle = FindFirstFileA(pattern, &search->pending);
  search->has_pending = search->handle != INVALID_HANDLE_VALUE;
  // A folder that exists but holds no match is an empty listing; a missing
  // folder fails with "path not found" instead.
  if (!search->has_pending && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_NO_MORE_FILES) {
    *why = last_error();
    delete search;
    return nullptr;
  }
  *why = kOk;
  return search;
}

bool next_entry(FolderSearch* search, FolderEntry* entry, Status* why) {
  Status failure = kOk;
  if (!why) why = &failure;
  *why = kOk;
  for (;;) {
    if (!search->has_pending) {
      if (search->handle == INVALID_HANDLE_VALUE) return false;
      if (!FindNextFileA(search->handle, &search->pending)) {
        // Only "no more files" is the end; any other error ends the listing
        // before its end (a network share gone, a disk error).
        if (GetLastError() != ERROR_NO_MORE_FILES) *why = last_error();
        return false;
      }
    }
    search->has_pending = false;
    if (is_dot_entry(search->pending.cFileName)) continue;
    fill_entry(search->pending, entry);
    if (entry->kind == EntryKind::file && links::links_reach_their_targets() &&
        listed_file_is_link(search, entry->name))
      entry->kind = EntryKind::link;
    return true;
  }
}

void close_folder(FolderSearch* search) {
  if (!search) return;
  if (search->handle != INVALID_HANDLE_VALUE) FindClose(search->handle);
  delete search;
}

namespace {

// The path of the entry name of the listed folder, with tail after it; empty
// when it does not fit a path buffer (a cut path names another entry).
std::string listed_path(const FolderSearch* search, const char* name, const char* tail) {
  std::string path = std::string(search->folder) + name + tail;
  return path.size() < kPathBuffer ? path : std::string();
}

}  // namespace

// Windows names the entries by path: the handle-relative calls of the NT
// line are not used yet.
FolderSearch* open_folder_in(FolderSearch* parent, const char* name, Status* why) {
  const std::string path = listed_path(parent, name, "/");
  if (path.empty()) {
    *why = too_long();
    return nullptr;
  }
  // A link is not followed: its own attributes are read without the "/".
  DWORD attributes = GetFileAttributesA(path.substr(0, path.size() - 1).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    *why = kLinkRefused;
    return nullptr;
  }
  return open_folder(path.c_str(), "", why);
}

Status make_listed_folder_writable(FolderSearch* search) {
  return search->folder[0] ? set_normal_attributes(search->folder) : kOk;
}

Status delete_listed_entry(FolderSearch* search, const FolderEntry& entry) {
  const std::string path = listed_path(search, entry.name, "");
  if (path.empty()) return too_long();
  if (entry.kind == EntryKind::link) return remove_link(path.c_str());
  // Not looked at: when the attributes stay, the deletion fails and tells.
  set_normal_attributes(path.c_str());
  return delete_file(path.c_str());
}

Status remove_listed_folder(FolderSearch* search, const char* name) {
  const std::string path = listed_path(search, name, "");
  return path.empty() ? too_long() : remove_folder(path.c_str());
}

struct TargetFolder {
  std::string path;  // ends in a separator, or is empty for the current folder
};

TargetFolder* open_target_folder(const char* path, Status* why) {
  if (std::strlen(path) >= kPathBuffer) {
    *why = too_long();
    return nullptr;
  }
  *why = kOk;
  return new TargetFolder{path};
}

// The path is kept, as for any target: a missing folder fails the first call
// made in it, with its reason.
TargetFolder* open_given_folder(const char* path, Status* why) { return open_target_folder(path, why); }

TargetFolder* make_target_folder_in(TargetFolder* folder, const char* name, Status* why) {
  const std::string path = folder->path + name + "/";
  if (path.size() >= kPathBuffer) {
    *why = too_long();
    return nullptr;
  }
  Status made = create_folder(path.c_str());
  if (!made.ok() && made.failure != Failure::exists) {
    *why = made;
    return nullptr;
  }
  *why = kOk;
  return new TargetFolder{path};
}

void close_target_folder(TargetFolder* folder) { delete folder; }

Status copy_listed_entry(FolderSearch* source, const FolderEntry& entry, TargetFolder* folder) {
  const std::string from = listed_path(source, entry.name, "");
  const std::string to = folder->path + entry.name;
  if (from.empty() || to.size() >= kPathBuffer) return too_long();
  if (entry.kind == EntryKind::link) return copy_link(from.c_str(), to.c_str());
  return copy_file(from.c_str(), to.c_str());
}

Status copy_listed_folder_attributes(FolderSearch* source, TargetFolder* folder) {
  return copy_folder_attributes(source->folder[0] ? source->folder : ".", folder->path.empty() ? "." : folder->path.c_str());
}

// CopyFileA leaves the new content in the system's cache, to be written when
// the cache gets to it: a power cut after the copy is moved into its place
// could leave the name empty. So the copy is flushed first.
namespace {
Status identity_of(const char* path, DWORD flags, EntryIdentity* identity);
}  // namespace

Status copy_file(const char* from, const char* to, EntryIdentity* copied) {
  if (copied) {
    *copied = kUnknownIdentity;
    // Not looked at: a file that cannot be opened for its identity fails the
    // copy below with its own reason, or is copied with its identity unknown.
    if (!is_windows_9x()) identity_of(from, 0, copied);
  }
  if (!CopyFileA(from, to, FALSE)) return last_error();
  return flush_file(to);
}

namespace {

// The last write time of the folder from, given to the folder to. A folder
// can be opened only on the NT line, and only with backup semantics.
Status copy_folder_time(const char* from, const char* to) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE source = CreateFileA(from, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
  if (source == INVALID_HANDLE_VALUE) return last_error();
  FILETIME written;
  Status status = status_of(GetFileTime(source, nullptr, nullptr, &written));
  CloseHandle(source);
  if (!status.ok()) return status;
  HANDLE target = CreateFileA(to, FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
  if (target == INVALID_HANDLE_VALUE) return last_error();
  status = status_of(SetFileTime(target, nullptr, nullptr, &written));
  CloseHandle(target);
  return status;
}

}  // namespace

Status copy_folder_attributes(const char* from, const char* to) {
  DWORD attributes = GetFileAttributesA(from);
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  // Windows 9x (the high bit of the version) cannot open a folder: the time
  // stays that of the copy there.
  if (!is_windows_9x()) {
    Status timed = copy_folder_time(from, to);
    if (!timed.ok()) return timed;
  }
  // The attributes after the time, so that a read-only folder never stands
  // in the way of setting it.
  DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE);
  return status_of(SetFileAttributesA(to, kept ? kept : FILE_ATTRIBUTE_NORMAL));
}

// Windows 98 has no links of its own, and Wine makes none: this build copies
// no link, rather than put a copy of what it points to in its place.
Status copy_link(const char*, const char*) { return kLinkRefused; }

Status delete_file(const char* path) {
  if (is_link_under_wine(path)) return kLinkRefused;  // DeleteFileA would delete what it points to
  links::forget(path);
  return status_of(DeleteFileA(path));
}

Status remove_folder(const char* path) {
  if (is_link_under_wine(path)) return kLinkRefused;  // RemoveDirectoryA would remove what it points to
  return status_of(RemoveDirectoryA(path));
}

Status remove_link(const char* path) {
  // Under Wine, whatever removes a link removes what it points to.
  if (links::links_reach_their_targets()) return kLinkRefused;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  // A link to a folder goes as a folder does, any other as a file.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return status_of(RemoveDirectoryA(path));
  return status_of(DeleteFileA(path));
}

namespace {

// The root of a path's volume as its full path names it, in one letter case:
// "C:\" or "\\server\share\". Empty when it cannot be told.
std::string volume_root(const char* path) {
  std::string full = full_path(path);
  for (char& c : full)
    if (c == '/') c = '\\';
  std::string root;
  if (full.size() >= 3 && full[1] == ':' && full[2] == '\\') {
    root = full.substr(0, 3);
  } else if (full.compare(0, 2, "\\\\") == 0) {
    std::string::size_type server_end = full.find('\\', 2);
    if (server_end == std::string::npos) return std::string();
    std::string::size_type share_end = full.find('\\', server_end + 1);
    root = share_end == std::string::npos ? full + "\\" : full.substr(0, share_end + 1);
  }
  for (char& c : root)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return root;
}

}  // namespace

bool is_path_separator(char c) { return c == '/' || c == '\\'; }

bool names_are_case_blind() { return true; }

bool drops_trailing_dots_and_blanks() { return true; }

// A generated short name is at most 8 characters, a dot and 3 more, and
// holds "~" followed by a number.
bool may_be_short_alias(const std::string& step) {
  return step.size() <= 12 && step.find('~') != std::string::npos;
}

// By the long forms of the full paths, which every Windows from 98 on gives
// (GetLongPathNameA expands each short alias), compared as the system
// compares names (case-blind); identities by handle are not asked for, since
// Windows 9x has none.
bool same_existing_entry(const char* a, const char* b) {
  char full[2][kPathBuffer];
  char long_form[2][kPathBuffer];
  const char* paths[2] = {a, b};
  for (int i = 0; i < 2; ++i) {
    DWORD length = GetFullPathNameA(paths[i], sizeof full[i], full[i], nullptr);
    if (length == 0 || length >= sizeof full[i]) return false;
    length = GetLongPathNameA(full[i], long_form[i], sizeof long_form[i]);
    if (length == 0 || length >= sizeof long_form[i]) return false;
    for (char* c = long_form[i]; *c; ++c)
      if (*c == '/') *c = '\\';
  }
  return lstrcmpiA(long_form[0], long_form[1]) == 0;
}

bool same_volume(const char* a, const char* b) {
  std::string first = volume_root(a);
  return !first.empty() && first == volume_root(b);
}

Status move_entry(const char* from, const char* to) {
  if (links::links_reach_their_targets()) {
    // Wine would move what a link points to.
    if (is_link_under_wine(from)) return kLinkRefused;
    links::forget(from);
    links::forget(to);
  }
  // Without MOVEFILE_COPY_ALLOWED the NT line only renames: a move to another
  // volume fails instead of copying at the new name. Written through: the
  // rename is on the disk when the call returns.
  if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return kOk;
  Status moved = last_error();
  if (moved.failure != Failure::not_supported) return moved;
  // Windows 9x has no MoveFileExA, and its MoveFileA copies a file to another
  // drive: it is only asked for a move within one.
  if (!same_volume(from, to)) return Status{Failure::other_volume, ERROR_NOT_SAME_DEVICE};
  return status_of(MoveFileA(from, to));
}

bool moves_folders_into_place() { return false; }

bool exchanges_entries() { return false; }

namespace {

// The path of a place: its folder's path and its steps. The calls on it are
// the path calls: the walk without links is the POSIX build's.
bool place_path(const Place& place, std::string* path) {
  *path = place.folder->path + place.steps;
  return path->size() < kPathBuffer;
}

}  // namespace

Status move_entry_between(const Place& from, const Place& to) {
  std::string from_path, to_path;
  if (!place_path(from, &from_path) || !place_path(to, &to_path)) return too_long();
  return move_entry(from_path.c_str(), to_path.c_str());
}

Status move_entry_over(const Place&, const Place&) { return Status{Failure::not_supported, ERROR_NOT_SUPPORTED}; }

Status exchange_entries(const Place&, const Place&) { return Status{Failure::not_supported, ERROR_NOT_SUPPORTED}; }

Status link_entry_between(const Place&, const Place&) { return Status{Failure::not_supported, ERROR_NOT_SUPPORTED}; }

Status create_folder_at(const Place& place) {
  std::string path;
  return place_path(place, &path) ? create_folder(path.c_str()) : too_long();
}

TargetFolder* open_target_folder_at(const Place& place, Status* why) {
  std::string path;
  if (!place_path(place, &path)) {
    *why = too_long();
    return nullptr;
  }
  return open_target_folder((path + "/").c_str(), why);
}

Status copy_file_to(const char* from, const Place& to, EntryIdentity* copied, EntryIdentity* made) {
  std::string path;
  if (!place_path(to, &path)) return too_long();
  *made = kUnknownIdentity;
  return copy_file(from, path.c_str(), copied);
}

Status copy_link_to(const char*, const Place&) { return kLinkRefused; }

bool entry_exists_at(const Place& place) {
  std::string path;
  return place_path(place, &path) && file_attributes(path.c_str()) != kInvalidAttributes;
}

Status target_folder_identity(TargetFolder*, EntryIdentity* identity) {
  *identity = kUnknownIdentity;
  return kOk;
}

Status identity_at(const Place& place, EntryIdentity* identity) {
  std::string path;
  return place_path(place, &path) ? link_identity(path.c_str(), identity) : too_long();
}

Status delete_file_at(const Place& place) {
  std::string path;
  return place_path(place, &path) ? delete_file(path.c_str()) : too_long();
}

Status move_entry_at_restart(const char* from, const char* to, bool replace_existing) {
  if (is_link_under_wine(from)) return kLinkRefused;  // Wine's restart would move what it points to
  DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (replace_existing ? MOVEFILE_REPLACE_EXISTING : 0);
  return status_of(MoveFileExA(from, to, flags));
}

Status delete_at_restart(const char* path) {
  return status_of(MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

Status swap_in_file(const char* new_file, const char* file) {
  // Windows 9x has no rename that replaces (and Wine, playing Windows 98,
  // would make one that the real system cannot): the caller takes its own
  // steps there.
  if (is_windows_9x()) return Status{Failure::not_supported, ERROR_CALL_NOT_IMPLEMENTED};
  return status_of(MoveFileExA(new_file, file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

namespace {

// FlushFileBuffers needs a handle with write access; nothing is written.
HANDLE open_to_flush(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// The volume's handle ("\\.\C:") takes a flush of the whole volume, which
// the system grants administrators only; a path without a drive letter (a
// network share) has no such handle, and a volume whose driver cannot flush
// answers "incorrect function" (Wine's drives do). In those cases the flush
// is not_supported, with the system's reason kept in the code.
Status flush_file_system(const char* path) {
  std::string full = full_path(path);
  if (full.size() < 2 || full[1] != ':') return Status{Failure::not_supported, ERROR_NOT_SUPPORTED};
  char volume[] = "\\\\.\\?:";
  volume[4] = full[0];
  HANDLE handle = open_to_flush(volume);
  if (handle == INVALID_HANDLE_VALUE) return Status{Failure::not_supported, static_cast<long>(GetLastError())};
  Status flushed = status_of(FlushFileBuffers(handle));
  CloseHandle(handle);
  if (flushed.code == ERROR_INVALID_FUNCTION) flushed.failure = Failure::not_supported;
  return flushed;
}

// A read-only file (a copy keeps the attribute) opens for writing only
// without it: the bit is taken off for the flush and put back after it.
// The log's append, with the line ends of a text-mode file. The size before
// the write is where a short write is cut back to.
Status append_whole(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return last_error();
  std::string lines;
  for (const char* c = text; *c; ++c) {
    if (*c == '\n') lines += '\r';
    lines += *c;
  }
  Status result = kOk;
  LONG high = 0;
  DWORD low = SetFilePointer(file, 0, &high, FILE_END);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) result = last_error();
  DWORD written = 0;
  if (result.ok() && !WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr))
    result = last_error();
  else if (result.ok() && written < lines.size())
    result = Status{Failure::other, ERROR_DISK_FULL};
  if (!result.ok() && written > 0) {
    // Not looked at: should the cut fail too, the write's failure is the one
    // to tell, and the part written stays.
    LONG back_high = high;
    SetFilePointer(file, static_cast<LONG>(low), &back_high, FILE_BEGIN);
    SetEndOfFile(file);
  }
  if (!CloseHandle(file) && result.ok()) result = last_error();
  return result;
}

Status flush_file(const char* path) {
  HANDLE file = open_to_flush(path);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (file == INVALID_HANDLE_VALUE) {
    Status opened = last_error();
    attributes = GetFileAttributesA(path);
    if (opened.failure != Failure::denied || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
      return opened;
    DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!SetFileAttributesA(path, writable ? writable : FILE_ATTRIBUTE_NORMAL)) return opened;
    file = open_to_flush(path);
    if (file == INVALID_HANDLE_VALUE) {
      Status again = last_error();
      SetFileAttributesA(path, attributes);  // not looked at: the open's failure is the one to tell
      return again;
    }
  }
  Status flushed = status_of(FlushFileBuffers(file));
  CloseHandle(file);
  if (attributes != INVALID_FILE_ATTRIBUTES && !SetFileAttributesA(path, attributes) && flushed.ok())
    flushed = last_error();
  return flushed;
}

namespace {

// The facts of the entry a handle opened with these flags reaches (with
// backup semantics: a folder too).
Status entry_facts(const char* path, DWORD flags, BY_HANDLE_FILE_INFORMATION* information) {
  // No access asked for: the entry's facts only, whoever else holds it open.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  Status status = status_of(GetFileInformationByHandle(handle, information));
  CloseHandle(handle);
  return status;
}

Status identity_of(const char* path, DWORD flags, EntryIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  Status known = entry_facts(path, flags, &information);
  if (!known.ok()) return known;
  identity->volume = information.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return kOk;
}

}  // namespace

Status entry_identity(const char* path, EntryIdentity* identity) {
  return identity_of(path, FILE_FLAG_BACKUP_SEMANTICS, identity);
}

Status link_identity(const char* path, EntryIdentity* identity) {
  // Wine opens what a link points to, whatever the flags: a link's own facts
  // cannot be had there.
  if (is_link_under_wine(path)) return kLinkRefused;
  return identity_of(path, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, identity);
}

std::string full_path(const char* path) {
  char buffer[kPathBuffer];
  char* file_part = nullptr;
  DWORD length = GetFullPathNameA(path, sizeof buffer, buffer, &file_part);
  if (length == 0 || length >= sizeof buffer) return std::string();
  const std::string text(buffer, length);
  if (!links::has_real_paths()) return text;
  // The longest leading part that exists is resolved; the rest, not made
  // yet, follows it as written.
  std::string::size_type cut = text.size();
  for (;;) {
    std::string real;
    if (links::real_path(text.substr(0, cut).c_str(), &real) == ERROR_SUCCESS) {
      std::string rest = text.substr(cut);
      if (!rest.empty() && real.back() != '\\') real += '\\';
      real += rest;
      return real.size() < kPathBuffer ? real : std::string();
    }
    // One level up: the part up to and including the separator before the
    // last name (a root keeps its own separator).
    std::string::size_type last = text.find_last_not_of("\\/", cut - 1);
    std::string::size_type separator = last == std::string::npos ? last : text.find_last_of("\\/", last);
    if (separator == std::string::npos) return text;  // not even the root exists: as written
    cut = separator + 1;
  }
}

bool passes_unresolved_link(const char* path) {
  if (links::has_real_paths()) return false;
  // Every level of the path as written, the entry itself first, each without
  // its trailing separator so that a link shows as the link.
  // A drive's root is no link of its own (Wine shows "/" as one).
  std::string text = full_path(path);
  while (!text.empty()) {
    std::string level = plain_path(text.c_str());
    std::string::size_type separator = level.find_last_of("\\/");
    if (separator == std::string::npos || separator + 1 >= level.size()) break;  // the root
    DWORD attributes = GetFileAttributesA(level.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    text = level.substr(0, separator + 1);
  }
  return false;
}

// The lock is a named mutex: the system removes it when the last process that
// holds it ends, however it ends. Its name comes from what the folder is, not
// from how it is spelled: on the NT line the volume serial number and file
// index of the folder, the same through a short name, a link or any letter
// case; on Windows 9x, which has no links and cannot open a folder, the long
// form of its full path in one letter case, hashed so that any path fits the
// system's limit on names. From Windows 2000 on the name is global, so that
// runs in two users' sessions (fast user switching, a terminal server)
// exclude each other too.
struct FolderLock {
  HANDLE mutex;
};

namespace {

constexpr std::size_t kLockName = 96;

// A path in one form for every spelling of it: upper-cased (the names are
// case-blind), "\\" separators, no trailing ones but after a drive; hashed
// into a number for a mutex name (FNV-1a).
unsigned long long path_hash(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : path) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<unsigned long long>(hash);
}

// The NT line: the name from the identity of the folder's own handle. Under
// Wine one drive letter may cover several Unix file systems, to which Wine
// gives one volume serial, and whose folders may share an index (an inode
// number): there the folder's real path, every link resolved, is part of
// the name too. On Windows the serial and the index are the identity.
Status lock_name_from_identity(const char* folder, char (&name)[kLockName]) {
  BY_HANDLE_FILE_INFORMATION information;
  Status known = entry_facts(folder, FILE_FLAG_BACKUP_SEMANTICS, &information);
  if (!known.ok()) return known;
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return Status{Failure::not_found, ERROR_DIRECTORY};
  int length = std::snprintf(name, sizeof name, "Corvane update %08lx-%08lx%08lx", information.dwVolumeSerialNumber,
                             information.nFileIndexHigh, information.nFileIndexLow);
  if (links::links_reach_their_targets()) {
    std::string real;
    DWORD error = links::real_path(folder, &real);
    if (error != ERROR_SUCCESS) return Status{failure_of(error), static_cast<long>(error)};
    std::snprintf(name + length, sizeof name - length, "-%016llx", path_hash(real));
  }
  return kOk;
}

// Windows 9x: the name from the long form of the full path, upper-cased as
// the system's code page has it.
Status lock_name_from_path(const char* folder, char (&name)[kLockName]) {
  char full[kPathBuffer];
  DWORD length = GetFullPathNameA(folder, sizeof full, full, nullptr);
  if (length == 0) return last_error();
  if (length >= sizeof full) return too_long();
  char long_form[kPathBuffer];
  length = GetLongPathNameA(full, long_form, sizeof long_form);
  if (length == 0) return last_error();
  if (length >= sizeof long_form) return too_long();
  DWORD attributes = GetFileAttributesA(long_form);
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Status{Failure::not_found, ERROR_DIRECTORY};
  char upper[kPathBuffer];
  int mapped = LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, long_form, static_cast<int>(length), upper,
                            sizeof upper);
  if (mapped <= 0) return last_error();
  std::snprintf(name, sizeof name, "Corvane update %016llx",
                path_hash(std::string(upper, static_cast<std::size_t>(mapped))));
  return kOk;
}

// Windows 2000 and later: the NT line from version 5 on.
bool has_global_names() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5;
}

}  // namespace

FolderLock* lock_folder(const char* folder, Status* why) {
  char name[kLockName];
  const bool nt = !is_windows_9x();
  *why = nt ? lock_name_from_identity(folder, name) : lock_name_from_path(folder, name);
  if (!why->ok()) return nullptr;
  const std::string mutex_name = (has_global_names() ? "Global\\" : "") + std::string(name);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, mutex_name.c_str());
  if (!mutex) {
    Status failed = last_error();
    // Another user's run may hold the mutex, closed to this user: the name
    // is taken all the same. Only where none exists is the failure the lock's.
    if (failed.code == ERROR_ACCESS_DENIED) {
      HANDLE existing = OpenMutexA(SYNCHRONIZE, FALSE, mutex_name.c_str());
      const bool taken = existing || GetLastError() == ERROR_ACCESS_DENIED;
      if (existing) CloseHandle(existing);
      if (taken) failed = Status{Failure::in_use, ERROR_ALREADY_EXISTS};
    }
    *why = failed;
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    *why = Status{Failure::in_use, ERROR_ALREADY_EXISTS};
    return nullptr;
  }
  *why = kOk;
  return new FolderLock{mutex};
}

void unlock_folder(FolderLock* lock) {
  if (!lock) return;
  CloseHandle(lock->mutex);
  delete lock;
}

bool whole_command_line(std::string* line) {
  *line = GetCommandLineA();
  return true;
}

bool answers_terminal_options() { return false; }

bool query_platform_id(unsigned* platform_id) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = 148;  // sizeof(OSVERSIONINFOA)
  if (!GetVersionExA(&info)) return false;
  *platform_id = info.dwPlatformId;
  return true;
}

Status short_path(const char* path, char* out, std::size_t size) {
  DWORD length = GetShortPathNameA(path, out, static_cast<DWORD>(size));
  if (length == 0) return last_error();
  return length < size ? kOk : too_long();
}

unsigned windows_folder(char* out, std::size_t size) {
  return GetWindowsDirectoryA(out, static_cast<UINT>(size));
}

void debug_output(const char* text) { OutputDebugStringA(text); }

namespace {
// The diagnostic console's output handle; invalid while none is open.
HANDLE console_handle = INVALID_HANDLE_VALUE;
}  // namespace

void console_open(const char* title) {
  if (console_handle != INVALID_HANDLE_VALUE) return;
  AllocConsole();  // fails harmlessly when the process already has one
  SetConsoleTitleA(title);
  console_handle = GetStdHandle(STD_OUTPUT_HANDLE);
}

void console_write(const char* text) {
  if (console_handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(console_handle, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void console_close() {
  if (console_handle == INVALID_HANDLE_VALUE) return;
  FreeConsole();
  console_handle = INVALID_HANDLE_VALUE;
}

unsigned current_thread_id() { return GetCurrentThreadId(); }

bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

}  // namespace platform
