// The operating-system primitives Corvane's algorithms are written against:
// intents with neutral results (a Status, an entry's kind, a user folder),
// which the *_win32.cpp and *_posix.cpp files each translate from their own
// system. Nothing outside this folder includes <windows.h> or POSIX headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The Windows path buffer (MAX_PATH): what the Windows system calls and
// answers (short paths, the Windows folder, WININIT.INI) fit in. Also the
// size of a folder entry's name, which is shorter on both systems.
constexpr std::size_t kPathBuffer = 260;

// The longest path the system takes, as the size of a buffer for it: every
// path the program composes or keeps fits in kPathMax bytes, so it holds at
// most kPathMax - 1 characters, and one that does not fit is refused
// (Failure::too_long), never cut. Windows: MAX_PATH (260), the limit of its
// narrow calls; Linux: PATH_MAX (4096, platform_posix.cpp checks that it is).
#ifdef _WIN32
constexpr std::size_t kPathMax = kPathBuffer;
#else
constexpr std::size_t kPathMax = 4096;
#endif

// Why a primitive failed, in the few kinds the algorithms tell apart; code
// keeps the system's own number (errno, GetLastError) for the reason text.
enum class Failure {
  none,
  in_use,         // another process holds the entry (a sharing violation)
  exists,         // the target is already there
  not_found,      // the entry or a folder on its path is missing
  denied,         // no permission, or the entry cannot be changed
  too_long,       // the path does not fit the system's path buffer
  not_supported,  // this system has no such service
  fault,          // a C++ exception or a processor fault cut the work short
  mount_point,    // another file system is mounted there, and it is left alone
  other_volume,   // a rename cannot reach from one volume (file system) to the other
  link,           // a link this system cannot copy, move or delete as itself (Windows
                  // copies no link; under Wine every call acts on what it points to)
  link_on_way,    // a link stands where a call walking below an open folder needs a
                  // folder: it is not followed, and nothing is changed
  replaced,       // another entry stands where this program made one
  other,
};

struct Status {
  Failure failure;
  long code;
  bool ok() const { return failure == Failure::none; }
};

constexpr Status kOk = {Failure::none, 0};

// The system's text for a failure, such as "Permission denied"; never empty.
// A status without a system code (a fault, a mount point) has a text of ours.
std::string describe(const Status& status);

// A path that would not fit a path buffer, in the system's own error code.
Status too_long();

// The reason of the C runtime's file call (fopen, fread, fwrite, fclose) that
// has just failed.
Status last_file_error();

// Attribute bits as the Windows attribute word defines them.
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrSystem = 0x04;
constexpr std::uint32_t kAttrFolder = 0x10;
constexpr std::uint32_t kAttrNormal = 0x80;
// Neither a file nor a folder: a device, and on POSIX also a pipe or a socket.
// Opening one to read it may wait for a writer that never comes.
constexpr std::uint32_t kAttrDevice = 0x40;
// A symbolic link or junction: the entry points elsewhere.
constexpr std::uint32_t kAttrLink = 0x400;

// GetFileAttributesA: the attribute word, or kInvalidAttributes when the path
// cannot be examined. A link reports its own kind (kAttrLink, plus kAttrFolder
// or kAttrDevice for what it points to), and so does one whose target is
// missing (kAttrLink alone), also under Wine, which shows neither as a link.
std::uint32_t file_attributes(const char* path);

// SetFileAttributesA with FILE_ATTRIBUTE_NORMAL: clears read-only and the like
// so the entry can be deleted.
Status set_normal_attributes(const char* path);

// SetFileAttributesA with the given Windows bits (read-only, hidden, system);
// on POSIX only read-only has a meaning (the write bits). For tests and copies.
bool set_attributes(const char* path, std::uint32_t attributes);

// CreateDirectoryA. An existing entry of that name (folder or file) fails
// with Failure::exists.
Status create_folder(const char* path);

// What a folder entry is. The listing does not follow links.
enum class EntryKind {
  file,
  folder,
  link,   // a symbolic link or junction
  mount,  // a folder where another file system is mounted (POSIX)
  other,  // a device, a pipe or a socket
};

// One entry of a folder search. points_to_folder: a link whose target is a
// folder.
struct FolderEntry {
  char name[kPathBuffer];  // a name, not a path: Windows lists names in this size, Linux's are shorter (255)
  EntryKind kind;
  bool points_to_folder;
};

// An open folder listing; opaque, closed with close_folder.
struct FolderSearch;

// The longest folder path a search takes: Windows searches with the folder
// path followed by the name prefix and "*.*" in one path buffer, and the
// POSIX build keeps the same rule against its own limit, so that both walk
// trees alike up to their limits.
constexpr std::size_t kSearchFolderMax = kPathMax - 4;

// Opens the listing of the entries of folder (a path ending in a separator,
// or empty for the current folder) whose names begin with prefix ("" for
// all), in the order the file system keeps them; "." and ".." are left out.
// An empty folder, or one where no name matches, gives a listing without
// entries. Null, with the reason in *why when given, when the folder cannot
// be read or folder and prefix are longer than kSearchFolderMax.
FolderSearch* open_folder(const char* folder, const char* prefix, Status* why = nullptr);
// The next entry of the listing: false when there is none left, and also
// when the listing fails before its end (a read error of the folder, an entry
// whose name does not fit FolderEntry::name): then *why, when given, holds
// the reason, and kOk only at the true end. A walk that stopped at a failure
// has not seen every entry.
bool next_entry(FolderSearch* search, FolderEntry* entry, Status* why = nullptr);
void close_folder(FolderSearch* search);

// The calls below act on an entry of a folder that is being listed, through
// the listing itself: on POSIX relative to its open folder, so that what
// they change is in the folder that was looked at, wherever someone may have
// moved it since, and never behind a link put in its place. Windows names
// the entry by the listing's folder path and the name.
//
// Opens the listing of the sub-folder name of the folder that parent lists,
// without following a link found there (that fails).
FolderSearch* open_folder_in(FolderSearch* parent, const char* name, Status* why);
// Makes the folder that search lists writable for its owner (Windows: clears
// its read-only, hidden and system attributes), so that its entries can be
// deleted.
Status make_listed_folder_writable(FolderSearch* search);
// Deletes the entry (a file, or a link itself, never what it points to) of
// the folder that search lists, read-only or not.
Status delete_listed_entry(FolderSearch* search, const FolderEntry& entry);
// Removes the empty sub-folder name of the folder that search lists.
Status remove_listed_folder(FolderSearch* search, const char* name);

// A folder that a copy fills, opened once: on POSIX without following a link
// in its place, and every entry made in it relative to it (a link found
// where an entry goes is not followed either: that entry fails). Windows
// keeps its path. Opaque; closed with close_target_folder.
struct TargetFolder;
// Opens the existing folder path (ending in a separator) as a copy's target.
TargetFolder* open_target_folder(const char* path, Status* why);
// Opens a folder the run was given (the application, the release), as
// configured: a link in its path, the last step included, is followed, since
// that is where the configuration leads. What is below it is reached through
// places, which follow no link.
TargetFolder* open_given_folder(const char* path, Status* why);
// Makes the sub-folder name in folder, or takes the one already there, and
// opens it as a copy's target.
TargetFolder* make_target_folder_in(TargetFolder* folder, const char* name, Status* why);
void close_target_folder(TargetFolder* folder);
struct EntryIdentity;

// A place below an open folder: steps (names joined by separators, no "."
// or ".." and none at the end) walked from folder, on POSIX relative to its
// descriptor and without following a link at any step, the last one
// included, so that a folder swapped for a link after it was opened or
// looked at never leads the call outside: a link met on the way fails it
// with Failure::link_on_way and changes nothing. Windows joins folder's path
// and steps.
struct Place {
  TargetFolder* folder;
  const char* steps;
};
// As move_entry: one rename that never replaces an existing target and
// never copies. The last step of from is moved as itself, also a link.
Status move_entry_between(const Place& from, const Place& to);
// Renames a file or link to a name that may hold a file or link already,
// which it replaces in the same step: the name is never absent. Never
// copies. Failure::not_supported on Windows, where the two renames of a
// backup are made instead.
Status move_entry_over(const Place& from, const Place& to);
// Swaps the entries at the two places in one step, whatever their kinds:
// each name holds the other's entry, and neither is ever absent.
// Failure::not_supported where the system or the file system has no such
// swap (Windows; Linux file systems without it), which changes nothing.
Status exchange_entries(const Place& first, const Place& second);
// Gives the file or link at existing a second name, new_name (a hard link;
// a link is linked as itself). Failure::not_supported on Windows, and where
// the file system has no such names (the system's own reason there).
Status link_entry_between(const Place& existing, const Place& new_name);
// As create_folder.
Status create_folder_at(const Place& place);
// Opens the existing folder at place as a copy's target.
TargetFolder* open_target_folder_at(const Place& place, Status* why);
// Copies the file or the link at the path from to place, as copy_file and
// copy_link do; an entry at place that is a link is not followed (that
// fails). made gets the identity of the file written, through the
// descriptor it was written with (POSIX); kUnknownIdentity on Windows,
// whose calls go by path.
Status copy_file_to(const char* from, const Place& to, EntryIdentity* copied, EntryIdentity* made);
Status copy_link_to(const char* from, const Place& to);
// As delete_file: the file (or link) at place goes.
Status delete_file_at(const Place& place);
// Whether an entry (of any kind, a link included) stands at place; false
// also when the way to it cannot be walked.
bool entry_exists_at(const Place& place);
// The identity of the open folder, wherever it is now (POSIX);
// kUnknownIdentity on Windows, which keeps its path.
Status target_folder_identity(TargetFolder* folder, EntryIdentity* identity);
// The identity of the entry at place, as link_identity gives it.
Status identity_at(const Place& place, EntryIdentity* identity);

// Copies the file or link entry of the folder that source lists into folder,
// under its name, as copy_file and copy_link do.
Status copy_listed_entry(FolderSearch* source, const FolderEntry& entry, TargetFolder* folder);
// Gives folder the permission bits (Windows: attributes) and modification
// time of the folder that source lists, as copy_folder_attributes does.
Status copy_listed_folder_attributes(FolderSearch* source, TargetFolder* folder);

// CopyFileA with fail-if-exists false: an existing target is overwritten; the
// attributes (permission bits) and the modification time go with the copy.
// Windows: the copy is flushed to the disk before the call returns (a
// failure to flush it fails the copy); POSIX leaves that to
// flush_file_system, one call for all the copies of a run. When copied is
// given, it gets the identity of the file that was read: POSIX from the
// descriptor the copy read; the NT line from the file at from just before
// CopyFileA opens it (a file put in its place after that is another file);
// kUnknownIdentity where the system cannot tell (Windows 9x, whose file
// indexes are not lasting on FAT).
struct EntryIdentity;
Status copy_file(const char* from, const char* to, EntryIdentity* copied = nullptr);

// Gives the folder to the permission bits (Windows: the read-only, hidden,
// system and archive attributes) and the modification time of the folder
// from, as copy_file does for a file. Windows 9x cannot open a folder to set
// its time: there only the attributes are given.
Status copy_folder_attributes(const char* from, const char* to);

// Copies a link as a link: the new one points where the old one does. An
// existing entry at to, other than a folder, is replaced. Failure::link where
// the system makes no links (Windows): a link is then not copied at all.
Status copy_link(const char* from, const char* to);

// Every call below that acts on an entry acts on a link itself, never on what
// it points to; where the system cannot (Wine), it fails with Failure::link.

// DeleteFileA: removes a file or a link to a file (never what a link points to).
Status delete_file(const char* path);

// RemoveDirectoryA: removes an empty folder, or a link to a folder itself.
Status remove_folder(const char* path);

// Removes a link itself, whatever it points to.
Status remove_link(const char* path);

// Whether the system takes c as a separator between a folder and a name: "/"
// on POSIX (where "\\" is a character of names), "/" and "\\" on Windows.
bool is_path_separator(char c);

// Whether the system takes names that differ only in letter case for one
// name (Windows); POSIX names are case-exact.
bool names_are_case_blind();

// Whether the system drops the dots and blanks at the end of each step of a
// path (Win32: "plugins." and "plugins " both open "plugins").
bool drops_trailing_dots_and_blanks();

// Whether a step of a path could be a short alias the system generated for a
// longer name (Windows: an 8.3 name with a "~"); never on POSIX, which has
// none. Lets a caller ask same_existing_entry only where it can matter.
bool may_be_short_alias(const std::string& step);

// Whether the two paths name one existing entry, however spelt: in another
// letter case where the system ignores it, by a short (8.3) alias on Windows
// (the long forms compared, GetLongPathNameA), through the same file
// (device and inode) on POSIX. A link is compared as itself. False when
// either cannot be examined.
bool same_existing_entry(const char* a, const char* b);

// Renames a file or a folder now, in one step. Never replaces an existing
// target, and never copies: a move from one volume (file system) to another
// fails with Failure::other_volume, so that no name is ever half written.
// On the NT line the rename is written through: on the disk when the call
// returns.
Status move_entry(const char* from, const char* to);

// Whether a rename can reach from the one existing path to the other: both
// lie on one volume (file system). False when either cannot be examined; a
// volume mounted in a folder may still make a rename between the two fail
// with Failure::other_volume.
bool same_volume(const char* a, const char* b);

// Whether a new folder moved into its place with one rename is what a copy
// of it would be: on POSIX a rename keeps the modes, times and links, as the
// copy does; the moved entries keep their owner, who unpacked the release,
// where copies belong to the user running Corvane (the same one when the
// updater that unpacked it starts Corvane). Not on Windows, where a moved
// tree would keep the security settings of the release's folder instead of
// inheriting those of the application folder, as a copy does.
bool moves_folders_into_place();
// Whether exchange_entries may swap two entries here: not on Windows.
bool exchanges_entries();

// MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT, and MOVEFILE_REPLACE_EXISTING
// when replace_existing: asks the system to make the move at its next start;
// without replace_existing the move is skipped then if to exists.
// Failure::not_supported where the system has no such service (POSIX).
Status move_entry_at_restart(const char* from, const char* to, bool replace_existing);
// MoveFileExA with a null target and MOVEFILE_DELAY_UNTIL_REBOOT: the system
// deletes the file at its next start. Failure::not_supported where there is no
// such service.
Status delete_at_restart(const char* path);

// Puts the file new_file in the place of file in one step, a rename that
// replaces (written through on the NT line), so that file is never half
// written nor missing. Failure::not_supported where the system has no such
// rename (Windows 9x).
Status swap_in_file(const char* new_file, const char* file);

// Every change already made on the file system that holds path (a file or a
// folder on it) reaches the disk: new files' contents, renames, deletions.
// POSIX: one syncfs of that file system. Windows flushes a whole volume
// (FlushFileBuffers of the volume's handle) only for an administrator: this
// is done where the system allows it, and otherwise the result is
// Failure::not_supported (also on Windows 9x, on a network share, and on a
// volume whose driver has no flush). There a file this program writes is
// flushed where it is written (copy_file, flush_file) and its moves are
// written through, so only what others wrote (an unpacked release) may still
// be in the system's cache.
Status flush_file_system(const char* path);

// Appends text to the file at path (created when missing), whole or not at
// all: a write that stops short (the file system full, say) is undone, the
// file cut back to the size it had, so that it ends where it ended before.
// Windows writes each "\n" as CR LF, as a text-mode file does. The failure
// of the write, or of the open, is the result.
Status append_whole(const char* path, const char* text);

// The content and size of an existing file reach the disk (fsync,
// FlushFileBuffers), for a file written and closed just before.
Status flush_file(const char* path);

// The same entry seen through two paths: equal volume (device) and file
// index (inode). Links are followed.
struct EntryIdentity {
  std::uint64_t volume;
  std::uint64_t index;
  bool operator==(const EntryIdentity& other) const { return volume == other.volume && index == other.index; }
};
// No entry has it: index 0 names no file (POSIX) or the volume's own table (NTFS).
constexpr EntryIdentity kUnknownIdentity = {0, 0};
Status entry_identity(const char* path, EntryIdentity* identity);
// The same for the entry itself: a link is the link, not what it points to.
Status link_identity(const char* path, EntryIdentity* identity);

// The absolute form of path, with links resolved where the system resolves
// them (POSIX, and the NT line from Vista on: the existing part of the path).
// Empty on failure.
std::string full_path(const char* path);
// Whether path passes through a link (the entry itself or a folder above it)
// that full_path does not resolve here (Windows before Vista: a junction), so
// that where it leads cannot be told. Never where full_path resolves links.
bool passes_unresolved_link(const char* path);

// A lock that marks a folder as being updated by this process. The system
// releases it when the process ends, however it ends, and leaves no file. It
// belongs to the folder, not to its spelling: a short name, a link or another
// letter case reaches the same lock, and so do other users' runs.
struct FolderLock;
// Takes the lock on folder; Failure::in_use when another process holds it.
// Null, with the reason in *why (that of the call that failed), when it is
// not taken.
FolderLock* lock_folder(const char* folder, Status* why);
void unlock_folder(FolderLock* lock);

// The process's command line as one text, where the system keeps one
// (Windows: GetCommandLineA). False where a program gets its arguments one by
// one (POSIX).
bool whole_command_line(std::string* line);

// Whether this system's programs are met in a terminal and answer --help and
// --version there (POSIX). A Windows GUI-subsystem program has no console to
// answer on, so there every argument is the run parameter.
bool answers_terminal_options();

// GetVersionExA: the platform id of the running system (2 for the NT line,
// 1 for Windows 9x). False when the query fails or there is no such notion.
bool query_platform_id(unsigned* platform_id);

// GetShortPathNameA into out (size bytes): ok when the short form of an
// existing path fits. POSIX has no short forms: Failure::not_supported.
Status short_path(const char* path, char* out, std::size_t size);

// GetWindowsDirectoryA into out (size bytes): the length of the folder path,
// 0 on failure, or the size needed when it does not fit. POSIX: 0.
unsigned windows_folder(char* out, std::size_t size);

// OutputDebugStringA; POSIX: standard error.
void debug_output(const char* text);

// The diagnostic console: AllocConsole + SetConsoleTitleA; POSIX: standard output.
void console_open(const char* title);
// WriteFile of the whole text to the console; nothing when none is open.
void console_write(const char* text);
// FreeConsole when one is open.
void console_close();

// GetCurrentThreadId.
unsigned current_thread_id();

// IsDBCSLeadByte for the system's code page; POSIX: always false.
bool is_lead_byte(unsigned char byte);

// The user's standard folders, as the shell-folder service knows them.
enum class UserFolder { documents, videos, pictures, app_data };

// The shell-folder library (SHFolder.dll), loaded at run time. POSIX stands in
// with the desktop's user-dirs settings (XDG_DOCUMENTS_DIR and the others).
struct ShellLibrary;
// LoadLibraryA("SHFolder.dll"); null when it cannot be loaded.
ShellLibrary* load_shell_library();
// FreeLibrary.
void free_shell_library(ShellLibrary* library);
// Whether the library has its narrow query (SHGetFolderPathA) and its wide
// one (SHGetFolderPathW).
bool shell_has_narrow_query(ShellLibrary* library);
bool shell_has_wide_query(ShellLibrary* library);
// The narrow query for a folder, with the system asked to create a missing
// one when create is set: the call's result, 0 on success, the path in
// buffer (kPathMax bytes).
long shell_folder_path_narrow(ShellLibrary* library, UserFolder folder, bool create, char* buffer);
// The wide query and, on success, wcstombs of the answer into buffer (at
// most kPathMax - 1 bytes, terminated).
long shell_folder_path_wide(ShellLibrary* library, UserFolder folder, bool create, char* buffer);

// Runs body(context) so that a C++ exception or a system fault (access
// violation, bus error) raised inside it ends body and returns false instead
// of ending the process. Guards nest; each fault returns from the innermost
// guard of the thread that raised it. A fault that a deeper handler (the
// system's own) deals with never reaches the guard. The body must own nothing
// that needs a destructor: a fault skips them.
bool run_guarded(void (*body)(void* context), void* context);

}  // namespace platform
