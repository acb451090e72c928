// Links as the Win32 side sees them beyond their attributes: real paths
// through GetFinalPathNameByHandleW, and the Unix links that Wine hides.
#include "platform/links_win32.h"

#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace links {

namespace {

typedef DWORD(WINAPI* FinalPathByHandle)(HANDLE, LPWSTR, DWORD, DWORD);

// Looked up once. Windows 9x never has it, the NT line from Vista on; Wine
// has it in every Windows mode it plays. The wide form answers in one call:
// the ANSI one asks the system twice (once for the length), which under Wine
// is a round trip to its server more for every name the pass looks at.
FinalPathByHandle final_path_function() {
  static const FinalPathByHandle function = reinterpret_cast<FinalPathByHandle>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
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
  WCHAR wide[kPathBuffer + 8];
  DWORD length = final_path(handle, wide, sizeof wide / sizeof wide[0], 0);  // normalized, with the drive letter
  DWORD error = length == 0 ? error_now() : ERROR_SUCCESS;
  CloseHandle(handle);
  if (length == 0) return error;
  if (length >= sizeof wide / sizeof wide[0]) return ERROR_FILENAME_EXCED_RANGE;
  // In the code page of the ANSI file calls, as the paths it is compared with;
  // a name that code page cannot spell cannot be compared.
  char buffer[2 * (kPathBuffer + 8)];
  BOOL lossy = FALSE;
  int bytes = WideCharToMultiByte(AreFileApisANSI() ? CP_ACP : CP_OEMCP, 0, wide, static_cast<int>(length), buffer,
                                  sizeof buffer, nullptr, &lossy);
  if (bytes <= 0) return error_now();
  if (lossy) return ERROR_NO_UNICODE_TRANSLATION;
  length = static_cast<DWORD>(bytes);
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

namespace {

bool differs_from_folder_and_name(const std::string& entry, std::string folder, const char* name) {
  if (folder.back() != '\\') folder += '\\';
  return entry != folder + name;
}

// The paths last found to be no link. Names are asked for one after another,
// and each is acted on right after it was asked for: a few suffice.
struct NoLinks {
  std::string paths[4];
  unsigned next = 0;
} no_links;

bool known_as_no_link(const char* path) {
  for (const std::string& known : no_links.paths)
    if (!known.empty() && known == path) return true;
  return false;
}

// Keeps the answer "no link" for path; a link is asked for again each time.
bool kept(const char* path, bool link) {
  if (!link) {
    no_links.paths[no_links.next] = path;
    no_links.next = (no_links.next + 1) % 4;
  }
  return link;
}

}  // namespace

bool is_link_shown_as_file(const char* path, const char* name, const std::string& folder_real) {
  std::string entry;
  if (real_path(path, &entry) != ERROR_SUCCESS) return false;  // cannot be told: taken as what it shows
  return kept(path, differs_from_folder_and_name(entry, folder_real, name));
}

bool is_file_link(const char* path) {
  if (known_as_no_link(path)) return false;
  std::string entry;
  if (real_path(path, &entry) != ERROR_SUCCESS) return false;  // cannot be told: taken as what it shows
  char full[kPathBuffer];
  char* file_part = nullptr;
  DWORD length = GetFullPathNameA(path, sizeof full, full, &file_part);
  if (length == 0 || length >= sizeof full || !file_part) return false;
  bool link = entry != full;
  if (link) {
    // Spelled otherwise (letter case, a short name, a link above it): the
    // entry's own name, as its folder lists it, after the folder's real path.
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path, &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    *file_part = '\0';
    std::string folder;
    if (real_path(full, &folder) != ERROR_SUCCESS) return false;
    link = differs_from_folder_and_name(entry, folder, data.cFileName);
  }
  return kept(path, link);
}

void forget(const char* path) {
  for (std::string& known : no_links.paths)
    if (known == path) known.clear();
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
