// Win32 implementation of the platform primitives: each is the Windows call
// its declaration names, made once.
#include "platform/platform.h"
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
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_NOT_SUPPORTED:
      return Failure::not_supported;
    default: return Failure::other;
  }
}

// The status of the call that just failed, from GetLastError.
Status last_error() {
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;  // a failure must never read as success
  return Status{failure_of(error), static_cast<long>(error)};
}

Status status_of(BOOL ok) { return ok ? kOk : last_error(); }

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

std::uint32_t file_attributes(const char* path) { return GetFileAttributesA(path); }

Status set_normal_attributes(const char* path) {
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
};

namespace {

bool is_dot_entry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

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

bool next_entry(FolderSearch* search, FolderEntry* entry) {
  for (;;) {
    if (!search->has_pending) {
      if (search->handle == INVALID_HANDLE_VALUE || !FindNextFileA(search->handle, &search->pending)) return false;
    }
    search->has_pending = false;
    if (is_dot_entry(search->pending.cFileName)) continue;
    fill_entry(search->pending, entry);
    return true;
  }
}

void close_folder(FolderSearch* search) {
  if (!search) return;
  if (search->handle != INVALID_HANDLE_VALUE) FindClose(search->handle);
  delete search;
}

Status copy_file(const char* from, const char* to) { return status_of(CopyFileA(from, to, FALSE)); }

// Windows 98 has no links of its own, and the copies of this build take what
// a link points to, as CopyFileA does.
Status copy_link(const char*, const char*) { return Status{Failure::not_supported, ERROR_NOT_SUPPORTED}; }

Status delete_file(const char* path) { return status_of(DeleteFileA(path)); }

Status remove_folder(const char* path) { return status_of(RemoveDirectoryA(path)); }

Status remove_link(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  // A link to a folder goes as a folder does, any other as a file.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return status_of(RemoveDirectoryA(path));
  return status_of(DeleteFileA(path));
}

Status move_entry(const char* from, const char* to) { return status_of(MoveFileA(from, to)); }

// A moved tree keeps the security settings it had in the release; a copy
// takes those of the application folder, which is what an installed
// application must have. So the new folder is always copied here.
Status move_folder_into_place(const char*, const char*) {
  return Status{Failure::not_supported, ERROR_NOT_SUPPORTED};
}

Status move_entry_at_restart(const char* from, const char* to, bool replace_existing) {
  DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (replace_existing ? MOVEFILE_REPLACE_EXISTING : 0);
  return status_of(MoveFileExA(from, to, flags));
}

Status swap_in_file(const char* new_file, const char* file) {
  if (MoveFileExA(new_file, file, MOVEFILE_REPLACE_EXISTING)) return kOk;
  Status replace = last_error();
  if (replace.failure != Failure::not_supported) return replace;
  // Windows 9x has no replacing move: the old file steps aside first, so that
  // the name holds either the whole old file or the whole new one.
  std::string aside = std::string(file) + ".old~";
  DeleteFileA(aside.c_str());  // a leftover of a run cut short; a failure shows in the move below
  if (!MoveFileA(file, aside.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return last_error();
  if (!MoveFileA(new_file, file)) {
    Status failed = last_error();
    MoveFileA(aside.c_str(), file);  // put back; should this fail too, the old text stays under aside
    return failed;
  }
  DeleteFileA(aside.c_str());  // the old text is no longer needed; a leftover is harmless
  return kOk;
}

Status entry_identity(const char* path, EntryIdentity* identity) {
  // No access asked for: the entry's facts only, whoever else holds it open.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  BY_HANDLE_FILE_INFORMATION information;
  BOOL known = GetFileInformationByHandle(handle, &information);
  Status status = status_of(known);
  CloseHandle(handle);
  if (!known) return status;
  identity->volume = information.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return kOk;
}

std::string full_path(const char* path) {
  char buffer[kPathBuffer];
  char* file_part = nullptr;
  DWORD length = GetFullPathNameA(path, sizeof buffer, buffer, &file_part);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

// The lock is a named mutex: the system removes it when the last process that
// holds it ends, however it ends. Its name comes from the folder's full path
// in one letter case (Windows names are case-blind), hashed so that any path
// fits the system's limit on names.
struct FolderLock {
  HANDLE mutex;
};

FolderLock* lock_folder(const char* folder, Status* why) {
  std::string path = full_path(folder);
  if (path.empty()) {
    *why = last_error();
    return nullptr;
  }
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c == '/' ? '\\' : c);
    if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
    hash = (hash ^ byte) * 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "Corvane update %016llx", static_cast<unsigned long long>(hash));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (!mutex) {
    *why = last_error();
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

ShellLibrary* load_shell_library() {
  return reinterpret_cast<ShellLibrary*>(LoadLibraryA("SHFolder.dll"));
}

void free_shell_library(ShellLibrary* library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

namespace {

typedef HRESULT(WINAPI* FolderPathA)(HWND, int, HANDLE, DWORD, LPSTR);
typedef HRESULT(WINAPI* FolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);

void* entry_point(ShellLibrary* library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

// The shell's folder id (CSIDL) of a folder, with the flag that asks for a
// missing folder to be created.
int folder_id(UserFolder folder, bool create) {
  constexpr int kFlagCreate = 0x8000;  // CSIDL_FLAG_CREATE
  int id = 0x0005;                     // CSIDL_PERSONAL
  switch (folder) {
    case UserFolder::documents: id = 0x0005; break;
    case UserFolder::videos: id = 0x000E; break;     // CSIDL_MYVIDEO
    case UserFolder::pictures: id = 0x0027; break;   // CSIDL_MYPICTURES
    case UserFolder::app_data: id = 0x001A; break;   // CSIDL_APPDATA
  }
  return create ? id | kFlagCreate : id;
}

}  // namespace

bool shell_has_narrow_query(ShellLibrary* library) { return entry_point(library, "SHGetFolderPathA") != nullptr; }

bool shell_has_wide_query(ShellLibrary* library) { return entry_point(library, "SHGetFolderPathW") != nullptr; }

long shell_folder_path_narrow(ShellLibrary* library, UserFolder folder, bool create, char* buffer) {
  auto query = reinterpret_cast<FolderPathA>(entry_point(library, "SHGetFolderPathA"));
  if (!query) return E_FAIL;
  return query(nullptr, folder_id(folder, create), nullptr, 0, buffer);
}

long shell_folder_path_wide(ShellLibrary* library, UserFolder folder, bool create, char* buffer) {
  auto query = reinterpret_cast<FolderPathW>(entry_point(library, "SHGetFolderPathW"));
  if (!query) return E_FAIL;
  WCHAR wide[kPathBuffer];
  std::memset(wide, 0, sizeof wide);
  HRESULT result = query(nullptr, folder_id(folder, create), nullptr, 0, wide);
  if (result != 0) return result;
  if (std::wcstombs(buffer, wide, kPathBuffer - 1) == static_cast<std::size_t>(-1)) buffer[0] = '\0';
  buffer[kPathBuffer - 1] = '\0';
  return result;
}

// The fault guard: a frame-based handler on the thread's handler chain
// (fs:[0]) while the body runs, as __try/__except registers one. Handlers
// registered deeper (the system's own) see a fault first; a fault that reaches
// the guard's handler resumes the thread at the guard's jump point, as
// __builtin_longjmp would, by rewriting the faulting context. C++ exceptions
// (DWARF unwinding) never reach the chain and are caught in call_catching.
namespace {

// The registration record the system walks, followed by the guard's own data.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  void* resume[5];  // __builtin_setjmp: frame pointer, resume address, stack pointer
};

EXCEPTION_REGISTRATION_RECORD* handler_chain() {
  EXCEPTION_REGISTRATION_RECORD* chain;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(chain));
  return chain;
}

void set_handler_chain(EXCEPTION_REGISTRATION_RECORD* chain) {
  __asm__ volatile("movl %0, %%fs:0" : : "r"(chain) : "memory");
}

bool is_fault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

EXCEPTION_DISPOSITION NTAPI on_fault(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context, void*) {
  // Unwinds pass by, and so does what is no fault (debugger output, say).
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      !is_fault(record->ExceptionCode))
    return ExceptionContinueSearch;
  GuardFrame* frame = static_cast<GuardFrame*>(establisher);
  context->Ebp = reinterpret_cast<DWORD>(frame->resume[0]);
  context->Eip = reinterpret_cast<DWORD>(frame->resume[1]);
  context->Esp = reinterpret_cast<DWORD>(frame->resume[2]);
  return ExceptionContinueExecution;
}

__attribute__((noinline)) bool call_catching(void (*body)(void*), void* context) {
  try {
    body(context);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool run_guarded(void (*body)(void* context), void* context) {
  GuardFrame frame;
  frame.record.Next = handler_chain();
  frame.record.Handler = on_fault;
  volatile bool completed = false;
  if (__builtin_setjmp(frame.resume) == 0) {
    set_handler_chain(&frame.record);
    completed = call_catching(body, context);
  }
  // Whether the body returned or a fault resumed here, the handlers registered
  // inside it belong to frames that are gone: the chain is as it was at entry.
  set_handler_chain(frame.record.Next);
  return completed;
}

}  // namespace platform
