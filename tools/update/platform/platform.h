// The operating-system primitives Corvane's algorithms are written against.
// Each mirrors one Windows call; platform_win32.cpp makes that call, and
// platform_posix.cpp gives the nearest POSIX equivalent with the same results.
// Nothing outside this folder includes <windows.h> or POSIX headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Every path the program composes lives in a buffer of this many bytes, so a
// path holds at most kPathBuffer - 1 characters.
constexpr std::size_t kPathBuffer = 260;

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
// or kAttrDevice for what it points to).
std::uint32_t file_attributes(const char* path);

// SetFileAttributesA with FILE_ATTRIBUTE_NORMAL: clears read-only and the like
// so the entry can be deleted. True on success.
bool set_normal_attributes(const char* path);

// SetFileAttributesA with the given Windows bits (read-only, hidden, system);
// on POSIX only read-only has a meaning (the write bits). For tests and copies.
bool set_attributes(const char* path, std::uint32_t attributes);

enum class CreateFolderResult { created, already_exists, failed };

// CreateDirectoryA, with GetLastError() == ERROR_ALREADY_EXISTS (183) told
// apart; an existing file of that name also counts as already_exists.
CreateFolderResult create_folder(const char* path);

// One entry of a folder search.
struct FolderEntry {
  char name[kPathBuffer];
  std::uint32_t attributes;
};

// An open folder search; opaque, closed with find_close.
struct FolderSearch;

// FindFirstFileA on a pattern of the form "<folder><prefix>*.*": the entries
// of <folder> whose names begin with <prefix> ("." and ".." included when the
// prefix is empty), in the order the file system keeps them. Null when nothing
// matches or the folder cannot be read.
FolderSearch* find_first(const char* pattern, FolderEntry* entry);
// FindNextFileA: false when there is no further entry.
bool find_next(FolderSearch* search, FolderEntry* entry);
// FindClose.
void find_close(FolderSearch* search);

// CopyFileA with fail-if-exists false: an existing target is overwritten; the
// attributes (permission bits) and the modification time go with the copy.
bool copy_file(const char* from, const char* to);

// DeleteFileA: removes a file or a link to a file (never what a link points to).
bool delete_file(const char* path);

// RemoveDirectoryA: removes an empty folder, or a link to a folder itself.
bool remove_folder(const char* path);

// MoveFileA: moves a file or a folder now. Never replaces an existing target.
// A file is copied and then removed when the move crosses volumes.
bool move_entry(const char* from, const char* to);

// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT:
// asks the system to make the move at its next start. False where the system
// has no such service (POSIX).
bool move_entry_at_restart(const char* from, const char* to);

// GetVersionExA: the platform id of the running system (2 for the NT line,
// 1 for Windows 9x). False when the query fails or there is no such notion.
bool query_platform_id(unsigned* platform_id);

// GetShortPathNameA into out (size bytes): true when the short form of an
// existing path fits. POSIX has no short forms: always false.
bool short_path(const char* path, char* out, std::size_t size);

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

// The shell-folder library (SHFolder.dll), loaded at run time. POSIX stands in
// with the desktop's user-dirs settings (XDG_DOCUMENTS_DIR and the others).
struct ShellLibrary;
// LoadLibraryA("SHFolder.dll"); null when it cannot be loaded.
ShellLibrary* load_shell_library();
// FreeLibrary.
void free_shell_library(ShellLibrary* library);
// GetProcAddress of "SHGetFolderPathA" or "SHGetFolderPathW": whether the
// library has that entry point.
bool shell_has_entry(ShellLibrary* library, const char* name);
// SHGetFolderPathA(NULL, folder_id, NULL, 0, buffer): the call's result, 0 on
// success. buffer holds kPathBuffer bytes.
long shell_folder_path_narrow(ShellLibrary* library, int folder_id, char* buffer);
// SHGetFolderPathW(NULL, folder_id, NULL, 0, wide) and, on success, wcstombs
// of the answer into buffer (at most kPathBuffer - 1 bytes, terminated).
long shell_folder_path_wide(ShellLibrary* library, int folder_id, char* buffer);

// How often the system was asked for costly facts; lets tests prove that a
// cached answer is not asked for again. open_searches: folder searches opened
// by find_first and not yet closed, so tests can prove every one is closed.
struct CallCounts {
  unsigned platform_id_queries;
  unsigned shell_library_loads;
  unsigned open_searches;
};
const CallCounts& call_counts();

// Runs body(context) so that a C++ exception or a system fault (access
// violation, bus error) raised inside it ends body and returns false instead
// of ending the process. Guards nest; each fault returns from the innermost
// guard of the thread that raised it. A fault that a deeper handler (the
// system's own) deals with never reaches the guard. The body must own nothing
// that needs a destructor: a fault skips them.
bool run_guarded(void (*body)(void* context), void* context);

}  // namespace platform
