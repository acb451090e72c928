// Links as the Win32 side sees them beyond their attributes: real paths
// through GetFinalPathNameByHandleA, and the Unix links that Wine hides.
#include "platform/links_win32.h"

#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace links {

namespace {

typedef DWORD(WINAPI* FinalPathByHandle)(HANDLE, LPSTR, DWORD, DWORD);

// Looked up once. Windows 9x never has it, the NT line from Vista on; Wine
// has it in every Windows mode it plays.
FinalPathByHandle final_path_function() {
  static const FinalPathByHandle function = reinterpret_cast<FinalPathByHandle>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  return function;
}

DWORD error_now() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;  // a failure must never read as success
}

}  // namespace

// Wine playing Windows 9x still has the call: the 9x road is taken there all
// the same, as on the system it plays.
bool has_real_paths() { return final_path_function() != nullptr && !(GetVersion() & 0x80000000u); }

DWORD real_path(const char* path, std::string* out) {
  FinalPathByHandle final_path = final_path_function();
  if (!final_path) return ERROR_CALL_NOT_IMPLEMENTED;
  // No access asked for and every sharing allowed: the name only, whoever
  // else holds the entry; backup semantics open a folder too.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return error_now();
  // Room for the "\\?\UNC\" the answer starts with, beyond a path buffer.
  char buffer[kPathBuffer + 8];
  DWORD length = final_path(handle, buffer, sizeof buffer, 0);  // normalized, with the drive letter
  DWORD error = length == 0 ? error_now() : ERROR_SUCCESS;
  CloseHandle(handle);
  if (length == 0) return error;
  if (length >= sizeof buffer) return ERROR_FILENAME_EXCED_RANGE;
  std::string text(buffer, length);
  if (text.compare(0, 8, "\\\\?\\UNC\\") == 0)
    text = "\\\\" + text.substr(8);
  else if (text.compare(0, 4, "\\\\?\\") == 0)
    text.erase(0, 4);
  if (text.size() >= kPathBuffer) return ERROR_FILENAME_EXCED_RANGE;
  *out = text;
  return ERROR_SUCCESS;
}

bool links_reach_their_targets() {
  static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

bool is_link_shown_as_file(const char* path, const char* name, const std::string& folder_real) {
  std::string entry;
  if (real_path(path, &entry) != ERROR_SUCCESS) return false;  // cannot be told: taken as what it shows
  std::string folder = folder_real;
  if (folder.empty()) {
    char full[kPathBuffer];
    char* file_part = nullptr;
    DWORD length = GetFullPathNameA(path, sizeof full, full, &file_part);
    if (length == 0 || length >= sizeof full || !file_part) return false;
    *file_part = '\0';
    if (real_path(full, &folder) != ERROR_SUCCESS) return false;
  }
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return entry != folder + name;
}

bool is_link_not_shown(const char* path) {
  if (std::strpbrk(path, "*?")) return false;  // a pattern, not a name
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path, &data);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return false;  // there after all
  }
  // Wine found the name in its folder but left it out of the listing: a
  // missing name gives ERROR_FILE_NOT_FOUND instead.
  return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace links
}  // namespace platform
