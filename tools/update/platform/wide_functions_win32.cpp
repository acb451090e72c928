// Keeps four Unicode functions of kernel32 out of the shipped program's
// imports: GetModuleHandleW, LoadLibraryW, FormatMessageW and
// CreateSemaphoreW. Windows 9x exports them only as stubs that fail, and the
// C and C++ runtimes call them (libgcc's locks, mingw-w64's rand_s and locale
// helpers, Boost's error texts).
//
// As for _fstat64 (msvcrt_fstat64_win32.cpp), each import slot
// (__imp__<name>@<bytes>) is defined here, pointing at a function of ours,
// before the linker looks for the import. Each calls the ANSI function where
// the arguments allow: no name, or one whose characters all exist in the
// system code page, and for FormatMessageW a message of the system or a
// module (not a wide format string) with its inserts left as they are. Other
// arguments go to the system's own wide function, found at run time, which
// fails on Windows 9x as the import would have. Linked into corvane.exe and
// its test only; the import audit (tests/imports/run) refuses these imports.
#include <windows.h>

namespace {

// The system's own wide function, for arguments the ANSI one cannot take;
// null (with the reason set) where kernel32 has none.
void* system_function(const char* name) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  void* function = kernel32 ? reinterpret_cast<void*>(GetProcAddress(kernel32, name)) : nullptr;
  if (!function) SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return function;
}

// A wide name in the system code page: false when it does not fit a path
// buffer or holds a character the code page lacks (the ANSI function would
// then look for another name).
bool narrow_name(LPCWSTR name, char (&out)[MAX_PATH]) {
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, 0, name, -1, out, sizeof out, nullptr, &lossy);
  return length > 0 && !lossy;
}

HMODULE WINAPI get_module_handle_w(LPCWSTR name) {
  char narrow[MAX_PATH];
  if (!name) return GetModuleHandleA(nullptr);
  if (narrow_name(name, narrow)) return GetModuleHandleA(narrow);
  auto wide = reinterpret_cast<HMODULE(WINAPI*)(LPCWSTR)>(system_function("GetModuleHandleW"));
  return wide ? wide(name) : nullptr;
}

HMODULE WINAPI load_library_w(LPCWSTR name) {
  char narrow[MAX_PATH];
  if (name && narrow_name(name, narrow)) return LoadLibraryA(narrow);
  auto wide = reinterpret_cast<HMODULE(WINAPI*)(LPCWSTR)>(system_function("LoadLibraryW"));
  return wide ? wide(name) : nullptr;
}

HANDLE WINAPI create_semaphore_w(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum, LPCWSTR name) {
  char narrow[MAX_PATH];
  if (!name) return CreateSemaphoreA(security, initial, maximum, nullptr);
  if (narrow_name(name, narrow)) return CreateSemaphoreA(security, initial, maximum, narrow);
  auto wide = reinterpret_cast<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR)>(
      system_function("CreateSemaphoreW"));
  return wide ? wide(security, initial, maximum, name) : nullptr;
}

using FormatMessageWide = DWORD(WINAPI*)(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD, va_list*);

// The text FormatMessageA gives, widened into the caller's buffer, or into
// one allocated with LocalAlloc as FORMAT_MESSAGE_ALLOCATE_BUFFER asks. The
// count of characters stored without the terminating zero; 0 on failure.
DWORD WINAPI format_message_w(DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size,
                              va_list* arguments) {
  // A format string of the caller's is wide text, and inserts may be wide
  // strings: only the system's wide function reads them.
  if ((flags & FORMAT_MESSAGE_FROM_STRING) || !(flags & FORMAT_MESSAGE_IGNORE_INSERTS)) {
    auto wide = reinterpret_cast<FormatMessageWide>(system_function("FormatMessageW"));
    return wide ? wide(flags, source, id, language, buffer, size, arguments) : 0;
  }
  char* narrow = nullptr;
  DWORD narrow_length = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, id, language,
                                       reinterpret_cast<LPSTR>(&narrow), 0, nullptr);
  if (narrow_length == 0) return 0;
  int length = MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(narrow_length), nullptr, 0);
  LPWSTR out = buffer;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    DWORD characters = static_cast<DWORD>(length) + 1 > size ? static_cast<DWORD>(length) + 1 : size;
    out = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, characters * sizeof(WCHAR)));
  } else if (static_cast<DWORD>(length) + 1 > size) {
    out = nullptr;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
  }
  if (length == 0 || !out) {
    LocalFree(narrow);
    return 0;
  }
  MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(narrow_length), out, length);
  out[length] = L'\0';
  LocalFree(narrow);
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<LPWSTR*>(buffer) = out;
  return static_cast<DWORD>(length);
}

}  // namespace

extern "C" {
// The slots the runtimes' calls go through, by their assembler names.
HMODULE(WINAPI* get_module_handle_w_slot)(LPCWSTR) __asm__("__imp__GetModuleHandleW@4") = get_module_handle_w;
HMODULE(WINAPI* load_library_w_slot)(LPCWSTR) __asm__("__imp__LoadLibraryW@4") = load_library_w;
HANDLE(WINAPI* create_semaphore_w_slot)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) __asm__(
    "__imp__CreateSemaphoreW@16") = create_semaphore_w;
FormatMessageWide format_message_w_slot __asm__("__imp__FormatMessageW@28") = format_message_w;
}
