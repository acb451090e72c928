// Win32 implementation of the platform primitives: each is the Windows call
// its declaration names, made once.
#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

CallCounts counts = {0, 0, 0};

void fill_entry(const WIN32_FIND_DATAA& data, FolderEntry* entry) {
  std::strncpy(entry->name, data.cFileName, sizeof entry->name - 1);
  entry->name[sizeof entry->name - 1] = '\0';
  entry->attributes = data.dwFileAttributes;
}

}  // namespace

std::uint32_t file_attributes(const char* path) { return GetFileAttributesA(path); }

bool set_normal_attributes(const char* path) {
  return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) != 0;
}

bool set_attributes(const char* path, std::uint32_t attributes) {
  DWORD bits = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem);
  return SetFileAttributesA(path, bits ? bits : FILE_ATTRIBUTE_NORMAL) != 0;
}

CreateFolderResult create_folder(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return CreateFolderResult::created;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateFolderResult::already_exists
                                                : CreateFolderResult::failed;
}

FolderSearch* find_first(const char* pattern, FolderEntry* entry) {
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(pattern, &data);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  ++counts.open_searches;
  fill_entry(data, entry);
  return reinterpret_cast<FolderSearch*>(handle);
}

bool find_next(FolderSearch* search, FolderEntry* entry) {
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(search), &data)) return false;
  fill_entry(data, entry);
  return true;
}

void find_close(FolderSearch* search) {
  if (!search) return;
  --counts.open_searches;
  FindClose(reinterpret_cast<HANDLE>(search));
}

bool copy_file(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != 0; }

bool delete_file(const char* path) { return DeleteFileA(path) != 0; }

bool remove_folder(const char* path) { return RemoveDirectoryA(path) != 0; }

bool move_entry(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

bool move_entry_at_restart(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool query_platform_id(unsigned* platform_id) {
  ++counts.platform_id_queries;
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = 148;  // sizeof(OSVERSIONINFOA)
  if (!GetVersionExA(&info)) return false;
  *platform_id = info.dwPlatformId;
  return true;
}

bool short_path(const char* path, char* out, std::size_t size) {
  DWORD length = GetShortPathNameA(path, out, static_cast<DWORD>(size));
  return length > 0 && length < size;
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
  ++counts.shell_library_loads;
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

}  // namespace

bool shell_has_entry(ShellLibrary* library, const char* name) {
  return entry_point(library, name) != nullptr;
}

long shell_folder_path_narrow(ShellLibrary* library, int folder_id, char* buffer) {
  auto query = reinterpret_cast<FolderPathA>(entry_point(library, "SHGetFolderPathA"));
  if (!query) return E_FAIL;
  return query(nullptr, folder_id, nullptr, 0, buffer);
}

long shell_folder_path_wide(ShellLibrary* library, int folder_id, char* buffer) {
  auto query = reinterpret_cast<FolderPathW>(entry_point(library, "SHGetFolderPathW"));
  if (!query) return E_FAIL;
  WCHAR wide[kPathBuffer];
  std::memset(wide, 0, sizeof wide);
  HRESULT result = query(nullptr, folder_id, nullptr, 0, wide);
  if (result != 0) return result;
  if (std::wcstombs(buffer, wide, kPathBuffer - 1) == static_cast<std::size_t>(-1)) buffer[0] = '\0';
  buffer[kPathBuffer - 1] = '\0';
  return result;
}

const CallCounts& call_counts() { return counts; }

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
